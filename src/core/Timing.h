#pragma once
// Busy-wait with 10-microsecond resolution, and the hexadecimal text conversions.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Clock.h"

namespace pemra {

// Number of 10-microsecond units that Delay(ms) waits: 0 for exactly 0; requests below
// 0.01 ms (negative ones included) wait one unit; otherwise round-half-even(ms x 100)
// computed in double precision. NaN waits one unit like any request below 0.01 ms;
// +infinity and requests beyond kMaxDelayUnits are clamped to kMaxDelayUnits.
// The limit keeps units x 10 000 ns inside a 64-bit nanosecond count.
inline constexpr int64_t kMaxDelayUnits = int64_t{1} << 49;  // ~178 years: never reached in practice
int64_t DelayUnits(float milliseconds);

// Waits DelayUnits(ms) x 10 microseconds on the given clock.
void Delay(Clock& clock, float milliseconds);

// The start-up step that used to calibrate a counting loop. Waiting now spins on the
// monotonic clock, so this only checks that the clock advances; it costs microseconds.
void CalibrateDelay(Clock& clock);

// Value of the rightmost four characters taken as hex digits (others count 0): 0..65535.
// Text is UTF-8; a character of several bytes is one character.
int32_t HexToNumber(std::string_view text);
// The same folded into 16 bits (FFFF gives -1).
int16_t HexToInt16(std::string_view text);
// Four upper-case hex digits of the value's low 16 bits.
std::string NumberToHex(int64_t value);

}  // namespace pemra
