#pragma once
// Which rows of a read log a stretch of time covers. Row r of a log lies at r / rate seconds
// from its start (without a rate, at r), so the viewer's visible rows, the stretch between
// its cursors, and `--from S --to S` of the programs all select rows the same way.

#include <cstdint>
#include <optional>
#include <string>

namespace pemra {

// Rows first .. first + count - 1 (0-based, across the session's files).
struct RowRange {
  int64_t first = 0;
  int64_t count = 0;
  int64_t End() const { return first + count; }
  bool operator==(const RowRange&) const = default;
};

// The rows of a log of `rows` rows at `samplesPerSecond` (0: no rate, row r at r) whose
// times lie within [fromSeconds, toSeconds]: the first row at or after `fromSeconds` to the
// last at or before `toSeconds`. Empty (count 0) when none does.
RowRange RowsBetween(int64_t rows, double samplesPerSecond, double fromSeconds, double toSeconds);

// The rows `--from` and `--to` (seconds from the start; either may be left out: the start,
// the end) select in a log of `rows` rows at `samplesPerSecond`. An error text, naming the
// option, when the stretch is not usable: a bound that is negative or not a number, --from
// not before --to, a log without a rate, or a stretch that holds no row.
std::optional<std::string> SelectSeconds(int64_t rows, double samplesPerSecond,
                                         std::optional<double> fromSeconds,
                                         std::optional<double> toSeconds, RowRange& selected);

// "--from"/"--to" text as seconds: a decimal number with a period (the command-line form),
// nothing for any other text.
std::optional<double> SecondsFromText(const std::string& text);

}  // namespace pemra
