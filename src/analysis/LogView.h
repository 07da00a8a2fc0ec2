#pragma once
// A log read for looking at it: every value column of its files in memory (8 bytes a value)
// and, per column, small block summaries that answer the questions of every redraw without
// a pass over the rows:
// - which rows a time range covers (row r lies at r / rate seconds from the start);
// - the count, mean, standard deviation, RMS, minimum and maximum of those rows;
// - a few points per screen pixel that keep every extreme (minimum and maximum per bucket),
//   so a line through ten million rows draws in the time of a few thousand;
// - the rows as CSV text in the log's own format, to be read again by this program.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/DerivedSeries.h"
#include "analysis/LogInput.h"
#include "analysis/LogReader.h"
#include "analysis/RowSelection.h"
#include "analysis/SampleRate.h"

namespace pemra {

struct ColumnStatistics {
  int64_t count = 0;
  double mean = 0;
  double deviation = 0;  // sample standard deviation (n - 1); NaN below two rows
  double min = 0;
  double max = 0;
  double rms = 0;  // root of the mean square; NaN for no rows
};

// Per block of rows, what the range questions need, built in one pass over a column.
class ColumnSummary {
 public:
  static constexpr int64_t kFineBlock = 64;
  static constexpr int64_t kCoarseBlock = 4096;

  ColumnSummary() = default;
  explicit ColumnSummary(std::span<const double> values);

  // `values` is the column the summary was built from.
  ColumnStatistics Statistics(std::span<const double> values, RowRange rows) const;
  // Smallest and largest value of rows [first, end); false for an empty range.
  bool MinMax(std::span<const double> values, int64_t first, int64_t end, double& min,
              double& max) const;

 private:
  struct Extremes {
    double min, max;
  };
  struct Moments {
    double min, max, mean, m2;  // m2: sum of squared deviations from the block's mean
  };
  std::vector<Extremes> fine_;
  std::vector<Moments> coarse_;
};

// A column derived from another (see DerivedSeries.h), kept so it can be computed again.
struct DerivedColumn {
  size_t slot = 0;    // its series slot
  size_t source = 0;  // the slot it is derived from
  std::string sourceUnit;
  DerivedRecipe recipe;
};

struct LoadedLog {
  LogLayout layout;
  LogSeries series;  // the value columns (ViewColumns), in file order
  // Rows per second, as DetectSampleRate finds it; 0 when it finds none (no header
  // seconds, no time column): rows are then placed at their row number.
  double samplesPerSecond = 0;
  RateSource rateSource = RateSource::Given;
  std::vector<std::string> rateWarnings;
  std::string rateProblem;  // why no rate was found
  std::vector<ColumnSummary> summaries;  // one per series column
  // Where the files do not follow on as one session's (see SessionGaps); each is also told
  // in rateWarnings, and DecimatedPoints breaks the line there.
  std::vector<SessionGap> gaps;
  // Columns added after reading, at the end of the series (and of the layout's columns).
  std::vector<DerivedColumn> derived;

  int64_t Rows() const { return series.Rows(); }
  // Seconds from the start of row `row` (without a rate: the row counted from 0).
  double RowTime(int64_t row) const;
  // The column of series slot `slot`.
  const LogColumn& Column(size_t slot) const;
  // Its title, or "Column P" (P its 1-based position) when the files have no titles.
  std::string ColumnTitle(size_t slot) const;
  // The rows whose times lie within [fromSeconds, toSeconds].
  RowRange VisibleRows(double fromSeconds, double toSeconds) const;
  // The file names, without directory, joined by ", " (the first and last of a long session).
  std::string Name() const;
};

// The columns a viewer shows: every column but the sample number, the time and the
// new-data flags.
std::vector<int> ViewColumns(const LogLayout& layout);

// Reads `files` (a session's files, in any order) for viewing: the layout, every view column,
// the sample rate and the summaries. It may run on a worker thread (see ReadLog).
std::optional<LogError> LoadLog(const std::vector<std::filesystem::path>& files,
                                const ReadControl& control, LoadedLog& log);

// The same for the columns `names` chooses (see ChooseColumns: an empty list chooses the gyro
// and accelerometer columns), which must be view columns, in the order named.
std::optional<LogError> LoadLogColumns(const std::vector<std::filesystem::path>& files,
                                       const std::vector<std::string>& names,
                                       const ReadControl& control, LoadedLog& log);

// Summaries for every column of an already filled series (LoadLog calls it).
void Summarise(LoadedLog& log);

// Points to draw series slot `slot` over `rows` in `buckets` buckets: every row when there
// are no more than 2 x buckets of them; else per bucket its minimum and maximum, in time
// order of the bucket (keys in seconds, as RowTime). The rows just outside the range are
// added, so a line reaches the edges of the view. At a session gap a NaN value breaks the line.
void DecimatedPoints(const LoadedLog& log, size_t slot, RowRange rows, int buckets,
                     std::vector<double>& keys, std::vector<double>& values);

// The program's log format without the header block: a title line "Sample #", "Time (sec)"
// and the titles of the series slots `chosen`, then per row its number in the export (1, 2,
// ...), its time from the start of the log and their values, every field followed by the
// log's field separator and every line by CR LF; numbers as the general text of a 64-bit
// float with the log's decimal separator.
std::string RowsCsvTitle(const LoadedLog& log, const std::vector<size_t>& chosen);
// Appends the lines of `rows`, numbered from `firstNumber`.
void AppendRowsCsv(const LoadedLog& log, const std::vector<size_t>& chosen, RowRange rows,
                   int64_t firstNumber, std::string& out);

}  // namespace pemra
