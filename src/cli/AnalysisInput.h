#pragma once
// What the commands that analyse a log (adev, psd) share: reading its files, choosing its
// columns and finding its sample rate, with the same messages and exit statuses, and the
// C-locale number text of their CSV lines.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/LogInput.h"
#include "analysis/LogReader.h"
#include "analysis/RowSelection.h"
#include "analysis/SampleRate.h"

namespace CLI {
class App;
}

namespace pemra::cli {

// The options every analysis command takes: FILE..., --columns, --rate, --join.
void AddLogInputOptions(CLI::App& command, std::vector<std::string>& files, std::string& columns,
                        std::string& rate, bool& join);

// Shortest text that reads back as the same double, in the C locale.
std::string CText(double value);

// Comma-separated items, blanks around each trimmed.
std::vector<std::string> SplitList(const std::string& text);

// Writes "pemra-cli: TEXT" (made safe to echo) and returns the usage exit status.
int UsageError(std::ostream& err, const std::string& text);

// --rate as given: empty leaves `rate` unset; anything but a finite number above 0 is a
// usage error (its status returned, else kExitDone).
int ParseRateOption(const std::string& text, std::optional<double>& rate, std::ostream& err);

struct AnalysisLog {
  LogLayout layout;
  std::vector<int> chosen;  // layout column indexes, in the order of series.values
  LogSeries series;
  SampleRate rate;
  std::vector<SessionGap> gaps;  // only when joining files that are not one session
};

// Reads `files` (one session, or any files when `join`: each gap is warned of) keeping
// `columns` (comma-separated; empty: the gyro and accelerometer columns), checks there are at least `minSamples` rows ("FILE: N samples:
// `needs` needs at least M") and finds the sample rate (`given` first). Warnings about the
// rate go to `err`. Returns kExitDone, or the usage status after the message naming the file
// and line.
int ReadAnalysisLog(const std::vector<std::string>& files, const std::string& columns,
                    std::optional<double> given, bool join, int64_t minSamples,
                    std::string_view needs, std::ostream& err, AnalysisLog& log);

// --from and --to (seconds from the start of the log), help texts saying what `does`.
void AddStretchOptions(CLI::App& command, std::string& from, std::string& to,
                       std::string_view does);

// --from/--to as given: empty leaves the bound unset; text that is not a number of seconds
// is a usage error (its status returned, else kExitDone).
int ParseStretchOptions(const std::string& fromText, const std::string& toText,
                        std::optional<double>& from, std::optional<double>& to, std::ostream& err);

// The rows --from/--to select, as the log viewer places them (see SelectSeconds); fewer than
// `minSamples` are refused ("FILE: N samples: `needs` needs at least M"). Returns kExitDone,
// or the usage status after the message.
int SelectStretch(const AnalysisLog& log, std::optional<double> from, std::optional<double> to,
                  int64_t minSamples, std::string_view needs, std::ostream& err, RowRange& rows);

// "rows A to B of N (from S s to T s after the start)" and a line end when `rows` is not the
// whole log; empty when it is.
std::string StretchLine(const AnalysisLog& log, RowRange rows, char decimalSeparator);

struct AnalysisColumn {
  std::string name;  // title, or the position when the files have no title line
  ColumnKind kind = ColumnKind::Other;
  std::string unit;  // of the data: "deg/s", "g", ..., "LSB" for raw values
};

// The i-th chosen column of `log`; a gyro or accelerometer column of whole numbers only
// holds raw register values (unit "LSB"), which a warning on `err` says.
AnalysisColumn ChosenColumn(const AnalysisLog& log, size_t i, std::ostream& err);

}  // namespace pemra::cli
