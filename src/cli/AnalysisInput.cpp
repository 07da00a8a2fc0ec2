#include "cli/AnalysisInput.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>

#include <fmt/format.h>

#include "cli/CommandLine.h"
#include "cli/InputText.h"

namespace pemra::cli {

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

void AddLogInputOptions(CLI::App& command, std::vector<std::string>& files, std::string& columns,
                        std::string& rate, bool& join) {
  command.add_option("FILE", files, "the log's files (BASE_1.csv BASE_2.csv ...: one series)")
      ->required();
  command.add_option("--columns", columns,
                     "column titles (\"X Gyro\"), register names or positions, comma-separated "
                     "(default: the gyro and accelerometer columns)");
  command.add_option("--rate", rate,
                     "samples per second (default: from the header or the time column)");
  command.add_flag("--join", join,
                   "read files that are not one session's consecutive files as one series, "
                   "warning of each gap");
}

std::string CText(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = std::min(text.find(',', start), text.size());
    items.push_back(std::string(Trimmed(std::string_view(text).substr(start, comma - start))));
    start = comma + 1;
  }
  return items;
}

int UsageError(std::ostream& err, const std::string& text) {
  err << "pemra-cli: " << Shown(text, 4 * kMaxShown) << '\n';
  return kExitUsage;
}

int ParseRateOption(const std::string& text, std::optional<double>& rate, std::ostream& err) {
  if (text.empty()) return kExitDone;
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || !(value > 0) ||
      !std::isfinite(value))
    return UsageError(err, "--rate: '" + text + "' is not a number of samples per second above 0");
  rate = value;
  return kExitDone;
}

int ReadAnalysisLog(const std::vector<std::string>& files, const std::string& columns,
                    std::optional<double> given, bool join, int64_t minSamples,
                    std::string_view needs, std::ostream& err, AnalysisLog& log) {
  LogInputOptions options;
  options.files.assign(files.begin(), files.end());
  if (!columns.empty()) options.columns = SplitList(columns);
  options.rate = given;
  options.join = join;
  options.minimumRows = minSamples;
  options.minimumRowsFor = std::string(needs);
  LogInput input;
  if (auto error = ReadLogInput(options, input))
    return UsageError(err, error->Text() + (error->session ? "; give --join to join them anyway" : ""));
  log.layout = std::move(input.layout);
  log.chosen = std::move(input.columns);
  log.series = std::move(input.series);
  log.rate = std::move(input.rate);
  log.gaps = std::move(input.gaps);
  for (const std::string& warning : input.warnings)
    err << "pemra-cli: warning: " << Shown(warning, 4 * kMaxShown) << '\n';
  return kExitDone;
}

AnalysisColumn ChosenColumn(const AnalysisLog& log, size_t i, std::ostream& err) {
  const int index = log.chosen[i];
  const LogColumn& lc = log.layout.columns[static_cast<size_t>(index)];
  AnalysisColumn c{lc.title.empty() ? std::to_string(index + 1) : lc.title, lc.kind, lc.unit};
  if (log.series.wholeNumbers[i] && (lc.kind == ColumnKind::Gyro || lc.kind == ColumnKind::Accel)) {
    c.unit = "LSB";
    err << "pemra-cli: warning: column " << c.name
        << " holds whole numbers only: register values (LSB), so are its figures\n";
  }
  return c;
}

}  // namespace pemra::cli
