#include "cli/AnalysisInput.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <tuple>

#include <fmt/format.h>

#include "cli/CommandLine.h"
#include "cli/InputText.h"
#include "core/NumberText.h"

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

void AddStretchOptions(CLI::App& command, std::string& from, std::string& to,
                       std::string_view does) {
  command.add_option("--from", from,
                     std::string(does) + " from this many seconds after the start of the log");
  command.add_option("--to", to,
                     std::string(does) + " up to this many seconds after the start of the log");
}

int ParseStretchOptions(const std::string& fromText, const std::string& toText,
                        std::optional<double>& from, std::optional<double>& to, std::ostream& err) {
  for (const auto& [name, text, value] : {std::tuple{"--from", &fromText, &from},
                                          std::tuple{"--to", &toText, &to}}) {
    if (text->empty()) continue;
    *value = SecondsFromText(*text);
    if (!*value)
      return UsageError(err, std::string(name) + ": '" + *text + "' is not a number of seconds");
  }
  return kExitDone;
}

int SelectStretch(const AnalysisLog& log, std::optional<double> from, std::optional<double> to,
                  int64_t minSamples, std::string_view needs, std::ostream& err, RowRange& rows) {
  const std::string firstFile = log.layout.files.front().path.string();
  if (auto error = SelectSeconds(log.series.Rows(), log.rate.samplesPerSecond, from, to, rows))
    return UsageError(err, firstFile + ": " + *error);
  if (rows.count < minSamples)
    return UsageError(err, fmt::format("{}: {} samples: {} needs at least {}", firstFile,
                                       rows.count, needs, minSamples));
  return kExitDone;
}

std::string StretchLine(const AnalysisLog& log, RowRange rows, char decimalSeparator) {
  if (rows.count == log.series.Rows()) return "";
  const auto seconds = [&](int64_t row) {
    return GeneralText(static_cast<float>(static_cast<double>(row) / log.rate.samplesPerSecond),
                       decimalSeparator);
  };
  return fmt::format("rows {} to {} of {} (from {} s to {} s after the start)\n", rows.first + 1,
                     rows.End(), log.series.Rows(), seconds(rows.first), seconds(rows.End() - 1));
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
