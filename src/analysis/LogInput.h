#pragma once
// What every analysis command does with the logs it is given, in one call: the layout, the
// chosen columns, the rows, the sample rate (bounded, or the one given) and the session rule.
//
// The session rule: files are read as one series only when their names are one session's
// consecutive numbers (BASE_1, BASE_2, ...) and each file's header begins where the one
// before it ends, within a few sample periods. Otherwise the files are refused with the
// reason, unless joining is asked for; then every gap is told as a warning and kept as a
// SessionGap (a viewer draws it as a break in the line). The same file given twice is
// always refused.
//
//   LogInputOptions options{files, {"X Gyro"}, rate, join};
//   LogInput input;
//   if (auto error = ReadLogInput(options, input)) ...   // error->Text(); error->session
//   for (auto& w : input.warnings) ...                    // rate warnings, gaps

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "analysis/LogReader.h"
#include "analysis/SampleRate.h"

namespace pemra {

// A break between two files of the series.
struct SessionGap {
  size_t file = 0;       // the file after the break (index into LogLayout::files)
  int64_t firstRow = 0;  // its first row in the series
  std::string reason;    // "B begins 98 s after A ends", ...
};

// The breaks between the files of `layout` (read into `series` at `samplesPerSecond`).
// An error for the same file given twice.
std::optional<LogError> SessionGaps(const LogLayout& layout, const LogSeries& series,
                                    double samplesPerSecond, std::vector<SessionGap>& gaps);

struct LogInputOptions {
  std::vector<std::filesystem::path> files;
  std::vector<std::string> columns;  // as ChooseColumns takes them; empty: the default
  std::optional<double> rate;        // samples per second given by the user
  bool join = false;                 // join files that are not one session, telling the gaps
  ReadControl control;
  int64_t minimumRows = 0;           // fewer rows are refused ("N samples: WHAT needs at least M")
  std::string minimumRowsFor = "the analysis";
};

struct LogInput {
  LogLayout layout;
  std::vector<int> columns;
  LogSeries series;
  SampleRate rate;
  std::vector<SessionGap> gaps;       // only when joining
  std::vector<std::string> warnings;  // the rate's, then one per gap
};

// Reads the files as one series. A session refusal comes back with `session` set in the
// error (a front end tells how to join anyway).
struct LogInputError : LogError {
  bool session = false;
};
std::optional<LogInputError> ReadLogInput(const LogInputOptions& options, LogInput& input);

}  // namespace pemra
