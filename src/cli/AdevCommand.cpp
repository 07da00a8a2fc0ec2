#include "cli/AdevCommand.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>

#include <fmt/format.h>

#include "analysis/AllanDeviation.h"
#include "analysis/ImuYaml.h"
#include "analysis/LogReader.h"
#include "analysis/NoiseFigures.h"
#include "analysis/SampleRate.h"
#include "cli/AnalysisInput.h"
#include "cli/InputText.h"
#include "core/AtomicFile.h"
#include "core/NumberText.h"

namespace pemra::cli {

namespace {

constexpr int64_t kMinSamples = 3;

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
  AddLogInputOptions(*adev, o.files, o.columns, o.rate);
  adev->add_option("--taus", o.taus, "octave (default), decade (1-2-5), all, or seconds, comma-separated");
  adev->add_option("--type", o.type, "overlapping (default), plain or modified")
      ->check(CLI::IsMember({"overlapping", "plain", "modified"}));
  adev->add_flag("--csv", o.csv, "one line per point: column,tau_s,deviation,low,high,terms");
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
  if (const int status = ParseRateOption(options.rate, rate, err); status != kExitDone)
    return status;

  AnalysisLog log;
  if (const int status = ReadAnalysisLog(options.files, options.columns, rate, kMinSamples,
                                         "the Allan deviation", err, log);
      status != kExitDone)
    return status;
  const LogLayout& layout = log.layout;
  const std::vector<int>& chosen = log.chosen;
  const LogSeries& series = log.series;
  const SampleRate& sampleRate = log.rate;
  std::vector<double> outOfRange;
  AveragingFactors(grid, series.Rows(), sampleRate.samplesPerSecond, type, &outOfRange);
  for (double tau : outOfRange)
    err << "pemra-cli: warning: tau " << CText(tau) << " s is outside what "
        << series.Rows() << " samples allow; left out\n";

  std::ostream& info = options.csv ? err : out;
  info << fmt::format("{} samples at {} samples/s (from the {}); {} Allan deviation; intervals "
                      "of 68% assuming white rate noise\n",
                      series.Rows(),
                      GeneralText(static_cast<float>(sampleRate.samplesPerSecond), decimalSeparator),
                      RateSourceText(sampleRate.source), AllanTypeText(type));

  std::vector<Column> columns;
  for (size_t i = 0; i < chosen.size(); ++i) {
    const AnalysisColumn input = ChosenColumn(log, i, err);
    Column c;
    c.name = input.name;
    c.kind = input.kind;
    c.unit = input.unit;
    c.points = AllanDeviation(series.values[i], sampleRate.samplesPerSecond, type, grid);
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
