#include "cli/AdevCommand.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <optional>
#include <span>
#include <tuple>

#include <fmt/format.h>

#include "analysis/AllanDeviation.h"
#include "analysis/ImuYaml.h"
#include "analysis/LogInput.h"
#include "analysis/LogReader.h"
#include "analysis/NoiseFigures.h"
#include "analysis/OutputFile.h"
#include "analysis/RowSelection.h"
#include "analysis/SampleRate.h"
#include "cli/AnalysisInput.h"
#include "cli/InputText.h"
#include "core/NumberText.h"

namespace pemra::cli {

namespace {

constexpr int64_t kMinSamples = 3;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
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

// imu.yaml goes only to a name ending in .yaml or .yml (any case): never to a log or an
// input given where the output was meant.
bool IsYamlName(const std::string& name) {
  const std::string ext = Lower(std::filesystem::path(name).extension().string());
  return !std::filesystem::path(name).stem().empty() && (ext == ".yaml" || ext == ".yml");
}

struct Column {
  std::string name;  // title, or the position when the files have no title line
  ColumnKind kind;
  std::string unit;  // of the data: "deg/s", "g", ..., "LSB" for raw values
  std::vector<AllanPoint> points;
  NoiseFigures figures;
};

// A double for people: seven significant digits of the double itself (never through a
// float, so 1e300 stays 1E+300).
std::string Num(double value, char sep) {
  if (value != 0 && std::isfinite(value)) {
    const double scale = std::pow(10.0, 6 - std::floor(std::log10(std::fabs(value))));
    if (std::isfinite(scale) && scale > 0) {
      const double rounded = std::round(value * scale) / scale;
      if (std::isfinite(rounded)) value = rounded;
    }
  }
  return GeneralText(value, sep);
}

void PrintTable(const Column& c, char sep, std::ostream& out) {
  out << fmt::format("{:<14} {:<14} {:<14} {:<14} {:<10} {}\n", "tau (s)",
                     "deviation (" + (c.unit.empty() ? std::string("units") : c.unit) + ")",
                     "low", "high", "terms", "noise");
  for (const AllanPoint& p : c.points)
    out << fmt::format("{:<14} {:<14} {:<14} {:<14} {:<10} {}\n", Num(p.tau, sep),
                       Num(p.deviation, sep), Num(p.low, sep), Num(p.high, sep), p.terms,
                       NoiseText(p.noise.alpha));
}

void PrintFigures(const Column& c, char sep, std::ostream& out) {
  const FigureUnits units = UnitsFor(c.kind, c.unit);
  const bool accel = c.kind == ColumnKind::Accel;
  const auto line = [&](const char* name, const NoiseFigure& f, const FigureUnit& unit) {
    std::string text = fmt::format("{:<28} ", name);
    if (!f.determined) return text + "not determined: " + f.reason + "\n";
    text += Num(f.value * unit.factor, sep) + " " + unit.name;
    if (f.edf > 0)
      text += " (68%: " + Num(f.low * unit.factor, sep) + " to " + Num(f.high * unit.factor, sep) +
              ", " + std::string(NoiseText(f.alpha)) + ")";
    if (f.tauLow == f.tauHigh)
      text += " (tau " + Num(f.tauLow, sep) + " s)";
    else
      text += " (tau " + Num(f.tauLow, sep) + " to " + Num(f.tauHigh, sep) + " s)";
    return text + "\n";
  };
  out << line(accel ? "N velocity random walk" : "N angle random walk", c.figures.randomWalk, units.n);
  out << line("B bias instability", c.figures.biasInstability, units.b);
  out << line(accel ? "K acceleration random walk" : "K rate random walk",
              c.figures.rateRandomWalk, units.k);
  out << line("minimum deviation", c.figures.minimum, units.b);
}

// A log that moved: the means of its first and last tenth apart by more than
// kStillnessLimit times the typical change between neighbouring tenths (the median of
// those changes, which one movement does not lift). Returns the warning, or empty.
constexpr double kStillnessLimit = 10.0;

std::string StillnessWarning(std::span<const double> y, const std::string& name,
                             const std::string& unit, char sep) {
  const size_t tenth = y.size() / 10;
  if (tenth < 1) return "";
  std::vector<double> means(10);
  for (size_t k = 0; k < 10; ++k) {
    double sum = 0;
    for (size_t i = k * tenth; i < (k + 1) * tenth; ++i) sum += y[i];
    means[k] = sum / static_cast<double>(tenth);
  }
  std::vector<double> steps;
  for (size_t k = 0; k + 1 < 10; ++k) steps.push_back(std::fabs(means[k + 1] - means[k]));
  std::nth_element(steps.begin(), steps.begin() + 4, steps.end());
  const double typical = steps[4];
  const double change = std::fabs(means[9] - means[0]);
  if (!(change > kStillnessLimit * typical)) return "";
  return fmt::format("column {}: the mean of the last tenth differs from the first tenth's by {} "
                     "{}, {} times the typical change between neighbouring tenths: the log does "
                     "not look still, and figures of a moving log mean nothing",
                     name, Num(change, sep), unit.empty() ? "units" : unit,
                     typical > 0 ? Num(change / typical, sep) : std::string("many"));
}

// Above this many seconds the run is announced with its estimate and shows its progress.
constexpr double kAnnounceSeconds = 10.0;
constexpr double kSecondsPerWork = 1.0e-9;  // a sample-term, measured by bench_adev

}  // namespace

void AddAdevCommand(CLI::App& app, Command& command) {
  AdevOptions& o = command.adev;
  auto* adev = app.add_subcommand(
      "adev", "Allan deviation and noise figures of a data log (no sensor needed)");
  AddLogInputOptions(*adev, o.files, o.columns, o.rate, o.join);
  adev->add_option("--taus", o.taus, "octave (default), decade (1-2-5), all, or seconds, comma-separated");
  adev->add_option("--type", o.type, "overlapping (default), plain, modified or hadamard")
      ->check(CLI::IsMember({"overlapping", "plain", "modified", "hadamard"}));
  adev->add_flag("--remove-drift", o.removeDrift,
                 "take the least-squares line (a linear drift) out of the rate first");
  adev->add_flag("--csv", o.csv,
                 "one line per point: column,tau_s,deviation,low,high,terms,alpha,edf");
  auto* kalibr = adev->add_option("--kalibr", o.kalibr,
                                  "write the noise model as imu.yaml to this file (.yaml or .yml)");
  AddStretchOptions(*adev, o.from, o.to, "analyse");
  adev->callback([&command, kalibr] {
    command.kind = CommandKind::Adev;
    command.adev.kalibrGiven = kalibr->count() > 0;
  });
}

int RunAdev(const AdevOptions& options, std::ostream& out, std::ostream& err,
            char decimalSeparator) {
  AllanType type = AllanType::Overlapping;
  if (options.type == "plain") type = AllanType::Plain;
  if (options.type == "modified") type = AllanType::Modified;
  if (options.type == "hadamard") type = AllanType::Hadamard;
  TauGrid grid;
  std::string bad;
  if (!ParseGrid(options.taus, grid, bad))
    return UsageError(err, "--taus: '" + bad + "' is not octave, decade, all or a number of seconds above 0");
  std::optional<double> rate;
  if (const int status = ParseRateOption(options.rate, rate, err); status != kExitDone)
    return status;

  std::optional<double> from, to;
  if (const int status = ParseStretchOptions(options.from, options.to, from, to, err);
      status != kExitDone)
    return status;

  if (options.kalibrGiven && !IsYamlName(options.kalibr))
    return UsageError(err, "--kalibr: '" + options.kalibr + "' must end in .yaml or .yml");

  AnalysisLog log;
  if (const int status = ReadAnalysisLog(options.files, options.columns, rate, options.join,
                                         kMinSamples, "the Allan deviation", err, log);
      status != kExitDone)
    return status;
  const LogLayout& layout = log.layout;
  const std::vector<int>& chosen = log.chosen;
  const LogSeries& series = log.series;
  const SampleRate& sampleRate = log.rate;
  // The model's file is checked against the output rule before any work, so a wrong target
  // is told at once; it is replaced only when every figure it holds is determined.
  OutputFile yamlFile;
  if (!options.kalibr.empty()) {
    std::vector<std::filesystem::path> inputs;
    for (const LogFileInfo& f : layout.files) inputs.push_back(f.path);
    if (!yamlFile.Begin(options.kalibr, inputs)) {
      err << "pemra-cli: " << Shown(yamlFile.Error(), 4 * kMaxShown) << '\n';
      return kExitFailed;
    }
  }
  // The stretch asked for, by the rows' times as the log viewer places them.
  RowRange rows;
  if (const int status =
          SelectStretch(log, from, to, kMinSamples, "the Allan deviation", err, rows);
      status != kExitDone)
    return status;
  std::vector<double> outOfRange;
  AveragingFactors(grid, rows.count, sampleRate.samplesPerSecond, type, &outOfRange);
  for (double tau : outOfRange)
    err << "pemra-cli: warning: tau " << CText(tau) << " s is outside what "
        << rows.count << " samples allow; left out\n";

  std::ostream& info = options.csv ? err : out;
  info << StretchLine(log, rows, decimalSeparator);
  info << fmt::format("{} samples at {} samples/s (from the {}); {}{}; intervals of 68% for the "
                      "noise identified at each tau (lag-1 autocorrelation, B1 ratio where few "
                      "averages remain) with Greenhall's degrees of freedom; figures by IEEE Std "
                      "952 Annex C\n",
                      rows.count, Num(sampleRate.samplesPerSecond, decimalSeparator),
                      RateSourceText(sampleRate.source), DeviationName(type),
                      options.removeDrift ? ", linear drift removed" : "");

  // A long run is announced with its estimate, and shows its progress.
  const std::vector<int64_t> factors =
      AveragingFactors(grid, rows.count, sampleRate.samplesPerSecond, type);
  const double seconds = kSecondsPerWork * static_cast<double>(chosen.size()) *
                         DeviationWork(type, rows.count, factors);
  const bool announce = seconds > kAnnounceSeconds;
  if (announce)
    err << "pemra-cli: " << factors.size() << " averaging factors over " << chosen.size()
        << " columns: about " << Num(std::round(seconds), '.') << " s\n";

  std::vector<Column> columns;
  for (size_t i = 0; i < chosen.size(); ++i) {
    const AnalysisColumn input = ChosenColumn(log, i, err);
    Column c;
    c.name = input.name;
    c.kind = input.kind;
    c.unit = input.unit;
    const std::span<const double> values(series.values[i].data() + rows.first,
                                         static_cast<size_t>(rows.count));
    const std::string stillness = StillnessWarning(values, c.name, c.unit, decimalSeparator);
    if (!stillness.empty()) err << "pemra-cli: warning: " << stillness << '\n';
    std::vector<double> drifted;
    std::span<const double> y = values;
    if (options.removeDrift) {
      drifted.assign(y.begin(), y.end());
      RemoveLinearDrift(drifted);
      y = drifted;
    }
    int shown = -1;
    const auto progress = [&](double fraction) {
      const int percent = static_cast<int>(
          100 * (static_cast<double>(i) + fraction) / static_cast<double>(chosen.size()));
      if (percent / 10 == shown / 10) return;
      shown = percent;
      err << "pemra-cli: " << percent << "% done\n" << std::flush;
    };
    c.points = AllanDeviation(y, sampleRate.samplesPerSecond, type, grid, nullptr,
                              announce ? std::function<void(double)>(progress)
                                       : std::function<void(double)>());
    c.figures = FitNoiseFigures(c.points, type);
    columns.push_back(std::move(c));
  }

  if (options.csv) {
    out << "column,tau_s,deviation,low,high,terms,alpha,edf\n";
    for (const Column& c : columns)
      for (const AllanPoint& p : c.points)
        out << c.name << ',' << CText(p.tau) << ',' << CText(p.deviation) << ',' << CText(p.low)
            << ',' << CText(p.high) << ',' << p.terms << ',' << p.noise.alpha << ','
            << CText(p.edf) << '\n';
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
    const std::string text =
        ImuYamlText(logName, axes, sampleRate.samplesPerSecond, &missing, type);
    if (!missing.empty()) {
      // A file that calibration tools load must not carry a guess: nothing is written.
      for (const std::string& key : missing)
        err << "pemra-cli: " << Shown(options.kalibr) << ": not written: " << key
            << " not determined from this log\n";
      return kExitFailed;
    }
    if (!yamlFile.Write(text) || !yamlFile.Commit()) {
      err << "pemra-cli: " << Shown(yamlFile.Error(), 4 * kMaxShown) << '\n';
      return kExitFailed;
    }
  }
  return kExitDone;
}

}  // namespace pemra::cli
