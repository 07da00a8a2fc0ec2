// Script input against any bytes: lines are split at LF, CR LF and CR and never held past
// the limit, a line's words survive being quoted and split again, a command is parsed
// without failing, and anything echoed is printable and short.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "cli/CommandLine.h"
#include "cli/InputText.h"

namespace {

void CheckShown(std::string_view text) {
  const std::string shown = pemra::cli::Shown(text);
  FUZZ_CHECK(shown.size() <= 4 * pemra::cli::kMaxShown + 3);
  for (const char c : shown) {
    const auto byte = static_cast<unsigned char>(c);
    FUZZ_CHECK(byte >= 0x20 && byte != 0x7F);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::stringbuf buffer(input);
  pemra::cli::LineReader reader(buffer);
  std::string line;
  size_t lines = 0;
  for (;;) {
    const auto status = reader.Next(line);
    if (status != pemra::cli::LineReader::Status::Line) break;
    ++lines;
    FUZZ_CHECK(line.size() <= pemra::cli::kMaxInputLine);
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    CheckShown(line);

    const auto words = pemra::cli::SplitScriptLine(line);
    if (!words) continue;
    std::string quoted;
    for (const std::string& word : *words) quoted += "\"" + word + "\" ";
    const auto again = pemra::cli::SplitScriptLine(quoted);
    FUZZ_CHECK(again && *again == *words);
    if (!words->empty()) {
      const pemra::cli::ParseResult parsed = pemra::cli::ParseScriptCommand(*words);
      CheckShown(parsed.output);
    }
  }
  FUZZ_CHECK(lines <= size);
  return 0;
}
