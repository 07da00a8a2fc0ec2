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
                        std::string& rate) {
  command.add_option("FILE", files, "the log's files (BASE_1.csv BASE_2.csv ...: one series)")
      ->required();
  command.add_option("--columns", columns,
                     "column titles (\"X Gyro\"), register names or positions, comma-separated "
                     "(default: the gyro and accelerometer columns)");
  command.add_option("--rate", rate,
                     "samples per second (default: from the header or the time column)");
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
                    std::optional<double> given, int64_t minSamples, std::string_view needs,
                    std::ostream& err, AnalysisLog& log) {
  const std::vector<std::filesystem::path> paths(files.begin(), files.end());
  if (auto error = InspectLog(paths, log.layout)) return UsageError(err, error->Text());
  if (auto error = ChooseColumns(log.layout,
                                 columns.empty() ? std::vector<std::string>{} : SplitList(columns),
                                 log.chosen))
    return UsageError(err, error->Text());
  if (auto error = ReadLog(log.layout, log.chosen, {}, log.series))
    return UsageError(err, error->Text());
  if (log.series.Rows() < minSamples)
    return UsageError(err, fmt::format("{}: {} samples: {} needs at least {}",
                                       log.layout.files.front().path.string(), log.series.Rows(),
                                       needs, minSamples));
  if (auto error = DetectSampleRate(log.layout, log.series, given, log.rate))
    return UsageError(err, error->Text());
  for (const std::string& warning : log.rate.warnings)
    err << "pemra-cli: warning: " << warning << '\n';
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
