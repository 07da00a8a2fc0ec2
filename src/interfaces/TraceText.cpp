#include "interfaces/TraceText.h"

#include <fmt/format.h>

namespace pemra {

void TraceSpiFrame(TraceSink& trace, uint16_t sent, int32_t answer) {
  // Fixed width: "spi > XXXX < XXXX".
  char line[18];
  fmt::format_to_n_result<char*> end{};
  if (answer == kNoAnswer) {
    end = fmt::format_to_n(line, sizeof line, "spi > {:04X} < ----", sent);
  } else {
    end = fmt::format_to_n(line, sizeof line, "spi > {:04X} < {:04X}", sent,
                           static_cast<uint16_t>(answer));
  }
  trace.Line(std::string_view(line, end.size < sizeof line ? end.size : sizeof line));
}

void TraceBulk(TraceSink& trace, bool in, int pipe, const uint8_t* data, size_t length,
               std::string_view error) {
  // The inline storage covers every adapter message (at most 35 bytes) without allocating.
  fmt::memory_buffer line;
  fmt::format_to(std::back_inserter(line), "usb {} pipe {}:", in ? '<' : '>', pipe);
  for (size_t i = 0; i < length; ++i) fmt::format_to(std::back_inserter(line), " {:02X}", data[i]);
  if (!error.empty()) fmt::format_to(std::back_inserter(line), " (failed: {})", error);
  trace.Line(std::string_view(line.data(), line.size()));
}

}  // namespace pemra
