#include "analysis/RowSelection.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace pemra {

namespace {

std::string SecondsText(double seconds) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, seconds);
  return std::string(text, result.ptr);
}

}  // namespace

RowRange RowsBetween(int64_t rows, double samplesPerSecond, double fromSeconds, double toSeconds) {
  if (rows <= 0 || !(fromSeconds <= toSeconds)) return {};
  const double rate = samplesPerSecond > 0 ? samplesPerSecond : 1.0;
  auto time = [rate](int64_t row) { return static_cast<double>(row) / rate; };
  // A first guess from the rate, then moved row by row to the exact boundary by the same
  // time the rows are drawn at (the guess can be one off by rounding).
  auto guess = [&](double seconds) {
    const double r = std::floor(seconds * rate);
    if (!(r >= 0)) return int64_t{0};
    if (r >= static_cast<double>(rows)) return rows - 1;
    return static_cast<int64_t>(r);
  };
  int64_t first = guess(fromSeconds);
  while (first > 0 && time(first - 1) >= fromSeconds) --first;
  while (first < rows && time(first) < fromSeconds) ++first;
  int64_t last = guess(toSeconds);
  while (last + 1 < rows && time(last + 1) <= toSeconds) ++last;
  while (last >= 0 && time(last) > toSeconds) --last;
  if (last < first) return {std::min(first, rows), 0};
  return {first, last - first + 1};
}

std::optional<std::string> SelectSeconds(int64_t rows, double samplesPerSecond,
                                         std::optional<double> fromSeconds,
                                         std::optional<double> toSeconds, RowRange& selected) {
  selected = {0, std::max<int64_t>(rows, 0)};
  if (!fromSeconds && !toSeconds) return std::nullopt;
  for (const auto& [name, value] : {std::pair{"--from", fromSeconds}, std::pair{"--to", toSeconds}})
    if (value && !(std::isfinite(*value) && *value >= 0))
      return std::string(name) + ": '" + SecondsText(*value) +
             "' is not a number of seconds from the start (0 or more)";
  if (fromSeconds && toSeconds && !(*fromSeconds < *toSeconds))
    return "--from " + SecondsText(*fromSeconds) + " s is not before --to " +
           SecondsText(*toSeconds) + " s";
  if (!(samplesPerSecond > 0))
    return std::string("--from/--to: the log has no sample rate, so its rows have no times");
  const double last = static_cast<double>(std::max<int64_t>(rows - 1, 0)) / samplesPerSecond;
  const double from = fromSeconds.value_or(0.0);
  const double to = toSeconds.value_or(std::max(last, from));
  selected = RowsBetween(rows, samplesPerSecond, from, to);
  if (selected.count == 0)
    return "--from/--to: no row lies from " + SecondsText(from) + " s to " + SecondsText(to) +
           " s (the log runs from 0 s to " + SecondsText(last) + " s)";
  return std::nullopt;
}

std::optional<double> SecondsFromText(const std::string& text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace pemra
