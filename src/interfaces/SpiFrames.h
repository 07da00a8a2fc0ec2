#pragma once
// What the sensor asks of any SPI master that drives it directly (the FTDI and spidev
// transports): its clock limit, the stall between frames, and the frames of a pipelined
// read.

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pemra {

// The sensor's highest serial clock.
inline constexpr uint32_t kSensorMaxClockHz = 2'000'000;
// Chip select stays high at least this long between two frames.
inline constexpr uint32_t kSensorStallMicroseconds = 10;
// Frames of one pipelined read at most; longer reads take several.
inline constexpr size_t kMaxBurstFrames = 64;

// The serial timing the sensor takes: with SMPL_PRD at 0x09 or below 2 MHz and a 10 us stall;
// above it (low-power sampling) 300 kHz and 75 us.
struct SerialTiming {
  uint32_t maxHz;
  uint32_t stallMicroseconds;
  bool lowPower;
};
inline constexpr SerialTiming kNormalTiming{kSensorMaxClockHz, kSensorStallMicroseconds, false};
inline constexpr SerialTiming kLowPowerTiming{300'000, 75, true};
inline constexpr uint8_t kSmplPrdAddress = 0x36;
inline constexpr int32_t kMaxNormalSmplPrd = 0x09;
inline SerialTiming SerialTimingFor(int32_t smplPrd) {
  return (smplPrd & 0xFF) > kMaxNormalSmplPrd ? kLowPowerTiming : kNormalTiming;
}
// True for a write frame to either byte of SMPL_PRD.
inline bool WritesSamplePeriod(uint16_t frame) {
  return (frame & 0x8000) != 0 && ((frame >> 8) & 0x7E) == kSmplPrdAddress;
}
// "2.0 MHz, stall 10 us", "0.3 MHz, stall 75 us (low-power sampling)".
std::string SerialTimingText(uint32_t clockHz, uint32_t stallMicroseconds, bool lowPower);

// The read frames of the addresses, then one read of address 0 whose frame clocks in the
// answer to the last (n + 1 frames; frame k + 1 answers frame k).
void PipelinedReadFrames(std::span<const int16_t> addresses, std::vector<uint16_t>& frames);

// Reads the words of `addresses` in pipelined passes of at most `maxFrames` - 1 reads (one
// frame is the trailing read): `exchange` sends one pass's `frames` and says whether it went
// through; `answer(k)` is then the word frame k clocked in. After a failed pass every word
// reads 0, so words of earlier passes never pass for a complete set.
template <class ExchangeFn, class AnswerFn>
bool ReadWordsInPasses(std::span<const int16_t> addresses, std::span<int32_t> words,
                       std::vector<uint16_t>& frames, ExchangeFn exchange, AnswerFn answer,
                       size_t maxFrames = kMaxBurstFrames) {
  std::fill(words.begin(), words.end(), 0);
  if (words.size() != addresses.size() || maxFrames < 2) return false;
  const size_t kPerPass = maxFrames - 1;
  for (size_t first = 0; first < addresses.size(); first += kPerPass) {
    const size_t n = std::min(kPerPass, addresses.size() - first);
    PipelinedReadFrames(addresses.subspan(first, n), frames);
    if (!exchange(std::span<const uint16_t>(frames))) {
      std::fill(words.begin(), words.end(), 0);
      return false;
    }
    for (size_t i = 0; i < n; ++i) words[first + i] = answer(i + 1);
  }
  return true;
}

// "2.0 MHz", "0.5 MHz", "457 Hz" below 0.1 MHz.
std::string ClockText(uint32_t hz);

}  // namespace pemra
