#include "cli/AdevCommand.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <optional>
#include <span>
#include <tuple>

#include <fmt/format.h>

#include "analysis/AllanDeviation.h"
#include "analysis/ImuYaml.h"
#include "analysis/LogReader.h"
#include "analysis/NoiseFigures.h"
#include "analysis/RowSelection.h"
#include "analysis/SampleRate.h"
#include "cli/InputText.h"
#include "core/AtomicFile.h"
#include "core/NumberText.h"

namespace pemra::cli {

namespace {

constexpr int64_t kMinSamples = 3;

// Shortest text that reads back as the same double, in the C locale.
std::string CText(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
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

bool ParseGrid(const std::string& text, TauGrid& grid, std::string& bad) {
  if (text.empty() || text == "octave") grid.kind = TauGridKind::Octave;
  else if (text == "decade") grid.kind = TauGridKind::Decade;
  else if (text == "all") grid.kind = TauGridKind::All;
  else {
    grid.kind = TauGridKind::List;
    for (const std::string& item : SplitList(text)) {
      double tau = 0;
      const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), tau);
      if (item.empty() || error != std::errc{} || end != item.data() + item.size() ||
          !(tau > 0) || !std::isfinite(tau)) {
        bad = item;
        return false;
      }
      grid.taus.push_back(tau);
    }
  }
  return true;
}

struct Column {
  std::string name;  // title, or the position when the files have no title line
  ColumnKind kind;
  std::string unit;  // of the data: "deg/s", "g", ..., "LSB" for raw values
  std::vector<AllanPoint> points;
  NoiseFigures figures;
};

void PrintTable(const Column& c, char sep, std::ostream& out) {
  const auto num = [sep](double v) { return GeneralText(static_cast<float>(v), sep); };
  out << fmt::format("{:<14} {:<14} {:<14} {:<14} {}\n", "tau (s)",
                     "deviation (" + (c.unit.empty() ? std::string("units") : c.unit) + ")",
                     "low", "high", "terms");
  for (const AllanPoint& p : c.points)
    out << fmt::format("{:<14} {:<14} {:<14} {:<14} {}\n", num(p.tau), num(p.deviation),
                       num(p.low), num(p.high), p.terms);
}

void PrintFigures(const Column& c, char sep, std::ostream& out) {
  const FigureUnits units = UnitsFor(c.kind, c.unit);
  const bool accel = c.kind == ColumnKind::Accel;
  const auto line = [&](const char* name, const NoiseFigure& f, const FigureUnit& unit) {
    std::string text = fmt::format("{:<28} ", name);
    if (!f.determined) return text + "not determined\n";
    text += GeneralText(static_cast<float>(f.value * unit.factor), sep) + " " + unit.name;
    if (f.tauLow == f.tauHigh)
      text += " (tau " + GeneralText(static_cast<float>(f.tauLow), sep) + " s)";
    else
      text += " (tau " + GeneralText(static_cast<float>(f.tauLow), sep) + " to " +
              GeneralText(static_cast<float>(f.tauHigh), sep) + " s)";
    return text + "\n";
  };
  out << line(accel ? "N velocity random walk" : "N angle random walk", c.figures.randomWalk, units.n);
  out << line("B bias instability", c.figures.biasInstability, units.b);
  out << line(accel ? "K acceleration random walk" : "K rate random walk",
              c.figures.rateRandomWalk, units.k);
}

}  // namespace

void AddAdevCommand(CLI::App& app, Command& command) {
  AdevOptions& o = command.adev;
  auto* adev = app.add_subcommand(
      "adev", "Allan deviation and noise figures of a data log (no sensor needed)");
  adev->add_option("FILE", o.files, "the log's files (BASE_1.csv BASE_2.csv ...: one series)")
      ->required();
  adev->add_option("--columns", o.columns,
                   "column titles (\"X Gyro\"), register names or positions, comma-separated "
                   "(default: the gyro and accelerometer columns)");
  adev->add_option("--rate", o.rate, "samples per second (default: from the header or the time column)");
  adev->add_option("--taus", o.taus, "octave (default), decade (1-2-5), all, or seconds, comma-separated");
  adev->add_option("--type", o.type, "overlapping (default), plain or modified")
      ->check(CLI::IsMember({"overlapping", "plain", "modified"}));
  adev->add_flag("--csv", o.csv, "one line per point: column,tau_s,deviation,low,high,terms");
  adev->add_option("--from", o.from, "analyse from this many seconds after the start of the log");
  adev->add_option("--to", o.to, "analyse up to this many seconds after the start of the log");
  adev->add_option("--kalibr", o.kalibr, "write the noise model as imu.yaml to this file");
  adev->callback([&command] { command.kind = CommandKind::Adev; });
}

int RunAdev(const AdevOptions& options, std::ostream& out, std::ostream& err,
            char decimalSeparator) {
  AllanType type = AllanType::Overlapping;
  if (options.type == "plain") type = AllanType::Plain;
  if (options.type == "modified") type = AllanType::Modified;
  TauGrid grid;
  std::string bad;
  if (!ParseGrid(options.taus, grid, bad))
    return UsageError(err, "--taus: '" + bad + "' is not octave, decade, all or a number of seconds above 0");
  std::optional<double> rate;
  if (!options.rate.empty()) {
    double value = 0;
    const std::string& text = options.rate;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || !(value > 0) ||
        !std::isfinite(value))
      return UsageError(err, "--rate: '" + text + "' is not a number of samples per second above 0");
    rate = value;
  }

  std::optional<double> from, to;
  for (const auto& [name, text, value] : {std::tuple{"--from", &options.from, &from},
                                          std::tuple{"--to", &options.to, &to}}) {
    if (text->empty()) continue;
    *value = SecondsFromText(*text);
    if (!*value) return UsageError(err, std::string(name) + ": '" + *text + "' is not a number of seconds");
  }

  std::vector<std::filesystem::path> files(options.files.begin(), options.files.end());
  LogLayout layout;
  std::vector<int> chosen;
  LogSeries series;
  if (auto error = InspectLog(files, layout)) return UsageError(err, error->Text());
  if (auto error = ChooseColumns(layout, options.columns.empty() ? std::vector<std::string>{}
                                                                 : SplitList(options.columns),
                                 chosen))
    return UsageError(err, error->Text());
  if (auto error = ReadLog(layout, chosen, {}, series)) return UsageError(err, error->Text());
  const std::string firstFile = layout.files.front().path.string();
  const auto tooFew = [&](int64_t samples) {
    return UsageError(err, fmt::format("{}: {} samples: the Allan deviation needs at least {}",
                                       firstFile, samples, kMinSamples));
  };
  if (series.Rows() < kMinSamples) return tooFew(series.Rows());
  SampleRate sampleRate;
  if (auto error = DetectSampleRate(layout, series, rate, sampleRate))
    return UsageError(err, error->Text());
  // The stretch asked for, by the rows' times as the log viewer places them.
  RowRange rows;
  if (auto error = SelectSeconds(series.Rows(), sampleRate.samplesPerSecond, from, to, rows))
    return UsageError(err, firstFile + ": " + *error);
  if (rows.count < kMinSamples) return tooFew(rows.count);
  for (const std::string& warning : sampleRate.warnings)
    err << "pemra-cli: warning: " << warning << '\n';
  std::vector<double> outOfRange;
  AveragingFactors(grid, rows.count, sampleRate.samplesPerSecond, type, &outOfRange);
  for (double tau : outOfRange)
    err << "pemra-cli: warning: tau " << CText(tau) << " s is outside what "
        << rows.count << " samples allow; left out\n";

  std::ostream& info = options.csv ? err : out;
  if (rows.count != series.Rows()) {
    const auto seconds = [&](int64_t row) {
      return GeneralText(static_cast<float>(static_cast<double>(row) / sampleRate.samplesPerSecond),
                         decimalSeparator);
    };
    info << fmt::format("rows {} to {} of {} (from {} s to {} s after the start)\n", rows.first + 1,
                        rows.End(), series.Rows(), seconds(rows.first), seconds(rows.End() - 1));
  }
  info << fmt::format("{} samples at {} samples/s (from the {}); {} Allan deviation; intervals "
                      "of 68% assuming white rate noise\n",
                      rows.count,
                      GeneralText(static_cast<float>(sampleRate.samplesPerSecond), decimalSeparator),
                      RateSourceText(sampleRate.source), AllanTypeText(type));

  std::vector<Column> columns;
  for (size_t i = 0; i < chosen.size(); ++i) {
    const LogColumn& lc = layout.columns[static_cast<size_t>(chosen[i])];
    Column c;
    c.name = lc.title.empty() ? std::to_string(chosen[i] + 1) : lc.title;
    c.kind = lc.kind;
    c.unit = lc.unit;
    if (series.wholeNumbers[i] && (lc.kind == ColumnKind::Gyro || lc.kind == ColumnKind::Accel)) {
      c.unit = "LSB";
      err << "pemra-cli: warning: column " << c.name
          << " holds whole numbers only: register values (LSB), so are its figures\n";
    }
    const std::span<const double> values(series.values[i].data() + rows.first,
                                         static_cast<size_t>(rows.count));
    c.points = AllanDeviation(values, sampleRate.samplesPerSecond, type, grid);
    c.figures = FitNoiseFigures(c.points);
    columns.push_back(std::move(c));
  }

  if (options.csv) {
    out << "column,tau_s,deviation,low,high,terms\n";
    for (const Column& c : columns)
      for (const AllanPoint& p : c.points)
        out << c.name << ',' << CText(p.tau) << ',' << CText(p.deviation) << ',' << CText(p.low)
            << ',' << CText(p.high) << ',' << p.terms << '\n';
    for (const Column& c : columns) {
      err << c.name << ":\n";
      PrintFigures(c, decimalSeparator, err);
    }
  } else {
    for (const Column& c : columns) {
      out << '\n' << c.name << '\n';
      PrintTable(c, decimalSeparator, out);
      PrintFigures(c, decimalSeparator, out);
    }
  }

  if (!options.kalibr.empty()) {
    std::vector<AxisFigures> axes;
    for (const Column& c : columns)
      if ((c.kind == ColumnKind::Gyro && c.unit == "deg/s") || (c.kind == ColumnKind::Accel && c.unit == "g"))
        axes.push_back({c.name, c.kind, c.figures});
    std::string logName;
    for (const LogFileInfo& f : layout.files)
      logName += (logName.empty() ? "" : " ") + f.path.filename().string();
    std::vector<std::string> missing;
    const std::string text = ImuYamlText(logName, axes, sampleRate.samplesPerSecond, &missing);
    std::string reason;
    if (!ReplaceFileAtomically(options.kalibr, text, &reason)) {
      err << "pemra-cli: " << Shown(reason, 4 * kMaxShown) << '\n';
      return kExitFailed;
    }
    for (const std::string& key : missing)
      err << "pemra-cli: warning: " << options.kalibr << ": " << key
          << " not determined from this log; written as .nan\n";
  }
  return kExitDone;
}

}  // namespace pemra::cli
