#include "core/Timing.h"

#include <cmath>

#include "core/NumberText.h"

namespace pemra {

namespace {
constexpr int64_t kNanosecondsPerUnit = 10'000;  // one delay unit is 10 microseconds
static_assert(kMaxDelayUnits <= INT64_MAX / kNanosecondsPerUnit,
              "the longest delay must fit a nanosecond count");

// Digit value of one hex character; anything that is not a hex digit counts 0.
int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}
}  // namespace

int64_t DelayUnits(float milliseconds) {
  if (milliseconds == 0.0f) return 0;
  double ms = static_cast<double>(milliseconds);
  // The negated comparison also sends NaN here.
  if (!(ms >= 0.01)) ms = 0.01;
  const double units = ms * 100.0;
  if (!(units < static_cast<double>(kMaxDelayUnits))) return kMaxDelayUnits;
  return RoundHalfEvenToInt(units);
}

void Delay(Clock& clock, float milliseconds) {
  const int64_t units = DelayUnits(milliseconds);
  if (units == 0) return;
  clock.Wait(Nanoseconds(units * kNanosecondsPerUnit));
}

void CalibrateDelay(Clock& clock) {
  // Waiting spins on the clock itself, so there is no loop count to measure. Read the clock
  // until it moves (bounded, since a test clock only moves when told to) so that its first
  // use is not inside a timed wait.
  const Nanoseconds start = clock.Now();
  for (int i = 0; i < 1000 && clock.Now() == start; ++i) {
  }
}

int32_t HexToNumber(std::string_view text) {
  if (text.size() > 4) text.remove_prefix(text.size() - 4);
  int32_t value = 0;
  for (char c : text) value = value * 16 + HexDigitValue(c);
  return value;
}

int16_t HexToInt16(std::string_view text) {
  const int32_t value = HexToNumber(text);
  return static_cast<int16_t>(value > 32767 ? value - 65536 : value);
}

std::string NumberToHex(int64_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const auto word = static_cast<uint16_t>(static_cast<uint64_t>(value) & 0xFFFFu);
  std::string text(4, '0');
  for (int i = 3, shift = 0; i >= 0; --i, shift += 4) text[i] = kDigits[(word >> shift) & 0xF];
  return text;
}

}  // namespace pemra
