#pragma once
// Numbers as text: the fixed patterns of the windows and log files, the general text of
// 32- and 64-bit floats, and rounding with halves to even. The decimal separator is passed
// in (the GUI uses the locale's, the CLI the C library's LC_NUMERIC).

#include <cstdint>
#include <string>
#include <string_view>

namespace pemra {

// Round to the nearest integer, halves to even. NaN gives NaN, infinities stay.
double RoundHalfEven(double value);
// The same, saturated into the range of int64 (NaN gives 0).
int64_t RoundHalfEvenToInt(double value);

// Formats with a pattern such as "0.00", "0.0", "##0.0##", "0.0######", "#0.000", "0.0####":
// "0" is a required digit, "#" an optional one; rounding is halves to even on the exact
// decimal value of the double. An integer part of "#" only gives "" for values below 1
// ("#.00" of 0.5 gives ".50"), as the patterns are defined.
// A value that rounds to zero carries no minus sign ("0.00" of -0.001 gives "0.00").
// Text before the first and after the last placeholder is copied as it stands ("0.0 V");
// a pattern without any placeholder gives the general text. NaN gives "NaN", infinities
// "Infinity" and "-Infinity".
std::string FormatNumber(double value, std::string_view pattern, char decimalSeparator = '.');

// General text of a 32-bit float: up to seven significant digits, no trailing zeros,
// exponent form (1E-05, 1.234568E+07) outside 0.0001 .. 10 000 000.
// The form is chosen after rounding to the significant digits: fixed when the rounded
// value is at least 1E-04 and below 1E+07 (1E+15 for doubles), so the float nearest
// 0.0001 (slightly below it) gives "0.0001". The exponent has at least two digits.
// Zero (also -0) gives "0"; NaN and infinities as in FormatNumber.
std::string GeneralText(float value, char decimalSeparator = '.');
// General text of a 64-bit float: up to fifteen significant digits, same exponent rule.
std::string GeneralText(double value, char decimalSeparator = '.');

}  // namespace pemra
