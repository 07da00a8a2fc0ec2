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

// Length of a UTF-8 sequence from its lead byte; 0 for a byte that cannot lead one.
size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Start of the character that ends just before `end` (> 0): a whole UTF-8 sequence, or a
// single byte where the bytes do not form one.
size_t CharacterStart(std::string_view text, size_t end) {
  size_t start = end - 1;
  while (start > 0 && end - start < 4 &&
         (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
    --start;
  }
  return SequenceLength(static_cast<unsigned char>(text[start])) == end - start ? start
                                                                                : end - 1;
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
  // Characters, not bytes, are digits: a character of several UTF-8 bytes is one digit
  // (worth 0), so "1\u00e9" reads as 0x10.
  int32_t value = 0;
  size_t end = text.size();
  for (int position = 0; position < 4 && end > 0; ++position) {
    const size_t start = CharacterStart(text, end);
    const char c = end - start == 1 ? text[start] : '\0';
    value += HexDigitValue(c) << (4 * position);
    end = start;
  }
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
