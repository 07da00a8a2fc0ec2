#include "core/NumberText.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace pemra {

namespace {

// Text for values that have no digits.
std::string NonFiniteText(double value) {
  if (std::isnan(value)) return "NaN";
  return value < 0 ? "-Infinity" : "Infinity";
}

bool IsPlaceholder(char c) { return c == '0' || c == '#' || c == '.'; }

// Decimal digits of |value| rounded to `significant` digits (halves to even on the exact
// binary value), without trailing zeros, and the decimal exponent of the first digit.
struct Digits {
  std::string digits;
  int exponent = 0;
};

Digits SignificantDigits(double magnitude, int significant) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                    std::chars_format::scientific, significant - 1);
  const std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
  const size_t e = text.find('e');
  Digits out;
  for (char c : text.substr(0, e)) {
    if (c != '.') out.digits.push_back(c);
  }
  std::from_chars(text.data() + e + 1 + (text[e + 1] == '+' ? 1 : 0), text.data() + text.size(),
                  out.exponent);
  while (out.digits.size() > 1 && out.digits.back() == '0') out.digits.pop_back();
  return out;
}

// The general text: fixed notation for rounded magnitudes from 1E-04 up to (but not
// including) 10^significant, exponent notation outside that ("1E-05", "1.234568E+07").
std::string GeneralDigits(double value, int significant, char decimalSeparator) {
  if (!std::isfinite(value)) return NonFiniteText(value);
  if (value == 0) return "0";
  const Digits d = SignificantDigits(std::fabs(value), significant);
  std::string text = value < 0 ? "-" : "";
  const int count = static_cast<int>(d.digits.size());
  if (d.exponent >= -4 && d.exponent < significant) {
    if (d.exponent < 0) {
      text += '0';
      text += decimalSeparator;
      text.append(static_cast<size_t>(-d.exponent - 1), '0');
      text += d.digits;
    } else if (count <= d.exponent + 1) {
      text += d.digits;
      text.append(static_cast<size_t>(d.exponent + 1 - count), '0');
    } else {
      text.append(d.digits, 0, static_cast<size_t>(d.exponent + 1));
      text += decimalSeparator;
      text.append(d.digits, static_cast<size_t>(d.exponent + 1));
    }
    return text;
  }
  text += d.digits[0];
  if (count > 1) {
    text += decimalSeparator;
    text.append(d.digits, 1);
  }
  text += 'E';
  text += d.exponent < 0 ? '-' : '+';
  const int magnitude = d.exponent < 0 ? -d.exponent : d.exponent;
  if (magnitude < 10) text += '0';
  text += std::to_string(magnitude);
  return text;
}

}  // namespace

double RoundHalfEven(double value) {
  if (!std::isfinite(value)) return value;
  const double below = std::floor(value);
  const double fraction = value - below;  // exact for every double
  if (fraction < 0.5) return below;
  if (fraction > 0.5) return below + 1.0;
  return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

int64_t RoundHalfEvenToInt(double value) {
  if (std::isnan(value)) return 0;
  const double rounded = RoundHalfEven(value);
  // 2^63 is exactly representable; every double below it converts without overflow.
  constexpr double kLimit = 9223372036854775808.0;
  if (rounded >= kLimit) return std::numeric_limits<int64_t>::max();
  if (rounded < -kLimit) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(rounded);
}

std::string FormatNumber(double value, std::string_view pattern, char decimalSeparator) {
  const size_t first = [&] {
    for (size_t i = 0; i < pattern.size(); ++i)
      if (IsPlaceholder(pattern[i])) return i;
    return pattern.size();
  }();
  if (first == pattern.size()) return GeneralText(value, decimalSeparator);
  size_t last = pattern.size() - 1;
  while (!IsPlaceholder(pattern[last])) --last;
  const std::string_view prefix = pattern.substr(0, first);
  const std::string_view suffix = pattern.substr(last + 1);
  const std::string_view body = pattern.substr(first, last + 1 - first);

  // "0" digits are required, "#" digits optional; characters other than placeholders
  // inside the number are not supported and are skipped.
  const size_t point = body.find('.');
  const std::string_view integerPart = body.substr(0, point);
  const std::string_view fractionPart =
      point == std::string_view::npos ? std::string_view{} : body.substr(point + 1);
  size_t minInteger = 0;
  for (char c : integerPart)
    if (c == '0') ++minInteger;
  size_t maxFraction = 0;
  size_t minFraction = 0;
  for (char c : fractionPart) {
    if (c == '0' || c == '#') ++maxFraction;
    if (c == '0') minFraction = maxFraction;
  }

  if (!std::isfinite(value)) return NonFiniteText(value);

  // Fixed notation of |value| with the pattern's decimals, rounded halves to even on the
  // exact binary value. The largest double has 309 integer digits.
  std::string fixed(330 + maxFraction, '\0');
  const auto result = std::to_chars(fixed.data(), fixed.data() + fixed.size(), std::fabs(value),
                                    std::chars_format::fixed, static_cast<int>(maxFraction));
  fixed.resize(static_cast<size_t>(result.ptr - fixed.data()));
  const size_t fixedPoint = fixed.find('.');
  std::string integerDigits = fixed.substr(0, fixedPoint);
  std::string fractionDigits =
      fixedPoint == std::string::npos ? std::string{} : fixed.substr(fixedPoint + 1);

  // A value that rounds to zero is shown without a minus sign ("0.00", not "-0.00").
  const bool isZero = integerDigits.find_first_not_of('0') == std::string::npos &&
                      fractionDigits.find_first_not_of('0') == std::string::npos;
  const bool negative = value < 0 && !isZero;

  const size_t significant = integerDigits.find_first_not_of('0');
  integerDigits.erase(0, significant == std::string::npos ? integerDigits.size() : significant);
  if (integerDigits.size() < minInteger)
    integerDigits.insert(0, minInteger - integerDigits.size(), '0');
  while (fractionDigits.size() > minFraction && fractionDigits.back() == '0')
    fractionDigits.pop_back();

  std::string text;
  text.reserve(prefix.size() + integerDigits.size() + fractionDigits.size() + suffix.size() + 2);
  if (negative) text += '-';
  text += prefix;
  text += integerDigits;
  if (!fractionDigits.empty()) {
    text += decimalSeparator;
    text += fractionDigits;
  }
  text += suffix;
  return text;
}

std::string GeneralText(float value, char decimalSeparator) {
  return GeneralDigits(static_cast<double>(value), 7, decimalSeparator);
}

std::string GeneralText(double value, char decimalSeparator) {
  return GeneralDigits(value, 15, decimalSeparator);
}

}  // namespace pemra
