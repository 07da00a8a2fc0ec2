#include "interfaces/SpiFrames.h"

#include <fmt/format.h>

namespace pemra {

void PipelinedReadFrames(std::span<const int16_t> addresses, std::vector<uint16_t>& frames) {
  frames.clear();
  for (const int16_t address : addresses) {
    frames.push_back(static_cast<uint16_t>((address & 0x7F) << 8));
  }
  frames.push_back(0x0000);
}

std::string ClockText(uint32_t hz) {
  if (hz < 100'000) return fmt::format("{} Hz", hz);
  // Tenths of a megahertz, rounded down so a clock never reads faster than it is.
  return fmt::format("{}.{} MHz", hz / 1'000'000, hz / 100'000 % 10);
}

std::string SerialTimingText(uint32_t clockHz, uint32_t stallMicroseconds, bool lowPower) {
  return fmt::format("{}, stall {} us{}", ClockText(clockHz), stallMicroseconds,
                     lowPower ? " (low-power sampling)" : "");
}

}  // namespace pemra
