#include "evaluation/EvaluationFigures.h"

#include <algorithm>
#include <cmath>

#include "analysis/AllanDeviation.h"
#include "analysis/ImuYaml.h"
#include "analysis/NoiseFigures.h"

namespace pemra {

namespace {

// Far more than a still log's noise lets the means of its first and last tenth differ:
// this many times the spread of the difference of two averages that long.
constexpr double kStillnessFactor = 10.0;

ColumnKind KindOf(AxisKind kind) { return kind == AxisKind::Gyro ? ColumnKind::Gyro : ColumnKind::Accel; }

FigureRecord FromNoiseFigure(const char* key, const char* name, const NoiseFigure& figure,
                             const FigureUnit& unit, const char* missing) {
  FigureRecord r;
  r.key = key;
  r.name = name;
  r.unit = unit.name;
  r.determined = figure.determined;
  if (figure.determined) {
    r.value = figure.value * unit.factor;
    r.hasTaus = true;
    r.tauLow = figure.tauLow;
    r.tauHigh = figure.tauHigh;
    r.intervalNote = "the fit gives no interval yet";
  } else {
    r.reason = missing;
  }
  return r;
}

// The mean of the first and of the last tenth of the samples differ by far more than the
// noise at that averaging time allows: the sensor moved or its bias drifted.
void CheckStillness(std::span<const double> samples, double rate,
                    const std::vector<AllanPoint>& points, AxisReport& axis) {
  const size_t tenth = samples.size() / 10;
  if (tenth < 2 || points.empty()) return;
  double first = 0, last = 0;
  for (size_t i = 0; i < tenth; ++i) {
    first += samples[i];
    last += samples[samples.size() - tenth + i];
  }
  first /= static_cast<double>(tenth);
  last /= static_cast<double>(tenth);
  const double tau = static_cast<double>(tenth) / rate;
  const AllanPoint* near = &points.front();
  for (const AllanPoint& p : points)
    if (p.tau <= tau) near = &p;
  const double allowed = kStillnessFactor * std::sqrt(2.0) * near->deviation;
  if (std::abs(last - first) > allowed)
    axis.warnings.push_back("the log was not still: the means of its first and last tenth differ by " +
                            std::to_string(std::abs(last - first)) + " " + axis.dataUnit +
                            ", more than " + std::to_string(kStillnessFactor) +
                            " times the noise allows");
}

}  // namespace

const std::vector<std::string>& FigureKeys() {
  static const std::vector<std::string> keys{"N", "B", "K", "minimum", "density"};
  return keys;
}

std::string FigureUnitFor(AxisKind kind, const std::string& key) {
  const bool gyro = kind == AxisKind::Gyro;
  if (key == "N") return gyro ? "deg/sqrt(h)" : "m/s/sqrt(h)";
  if (key == "B" || key == "minimum") return gyro ? "deg/h" : "mg";
  if (key == "K") return gyro ? "deg/h/sqrt(h)" : "m/s/h/sqrt(h)";
  if (key == "density") return gyro ? "deg/s/sqrt(Hz)" : "mg/sqrt(Hz)";
  return "";
}

void AnalyseAxis(std::span<const double> samples, double rate, AxisReport& axis,
                 const std::atomic<bool>* cancel) {
  const ColumnKind kind = KindOf(axis.kind);
  const std::vector<AllanPoint> points =
      AllanDeviation(samples, rate, AllanType::Overlapping, TauGrid{}, cancel);
  axis.curve.clear();
  for (const AllanPoint& p : points) axis.curve.push_back({p.tau, p.deviation, p.low, p.high});
  axis.curveNote = "overlapping Allan deviation, octave grid; 68% intervals assuming white rate noise";

  const bool cancelled = cancel != nullptr && cancel->load();
  const NoiseFigures fit = cancelled ? NoiseFigures{} : FitNoiseFigures(points);
  const FigureUnits units = UnitsFor(kind, axis.dataUnit);
  const bool gyro = axis.kind == AxisKind::Gyro;
  const char* cut = cancelled ? "the analysis was cancelled" : nullptr;
  axis.figures.clear();
  axis.figures.push_back(FromNoiseFigure("N", gyro ? "angle random walk" : "velocity random walk",
                                         fit.randomWalk, units.n,
                                         cut ? cut : "no stretch of slope -1/2 on the curve"));
  axis.figures.push_back(FromNoiseFigure("B", "bias instability", fit.biasInstability, units.b,
                                         cut ? cut : "no flat floor on the curve"));
  axis.figures.push_back(FromNoiseFigure("K", gyro ? "rate random walk" : "acceleration random walk",
                                         fit.rateRandomWalk, units.k,
                                         cut ? cut : "no stretch of slope +1/2 on the curve"));

  // The minimum deviation, whatever the curve: its lowest point, with that point's interval.
  FigureRecord minimum;
  minimum.key = "minimum";
  minimum.name = "minimum deviation";
  minimum.unit = units.b.name;
  if (!points.empty() && !cancelled) {
    const auto lowest = std::min_element(points.begin(), points.end(), [](const auto& a, const auto& b) {
      return a.deviation < b.deviation;
    });
    minimum.determined = true;
    minimum.value = lowest->deviation * units.b.factor;
    minimum.hasInterval = true;
    minimum.low = lowest->low * units.b.factor;
    minimum.high = lowest->high * units.b.factor;
    minimum.intervalNote = "68%, assuming white rate noise";
    minimum.hasTaus = true;
    minimum.tauLow = minimum.tauHigh = lowest->tau;
  } else {
    minimum.reason = cancelled ? "the analysis was cancelled" : "no point on the curve";
  }
  axis.figures.push_back(minimum);

  FigureRecord density;
  density.key = "density";
  density.name = "noise density";
  density.unit = FigureUnitFor(axis.kind, "density");
  density.reason = "spectrum not available";
  axis.figures.push_back(density);

  if (!cancelled) CheckStillness(samples, rate, points, axis);
}

std::string ImuYamlFor(const std::vector<AxisReport>& axes, const std::string& logName, double rate,
                       std::vector<std::string>* missing) {
  std::vector<AxisFigures> figures;
  for (const AxisReport& axis : axes) {
    const ColumnKind kind = KindOf(axis.kind);
    const FigureUnits units = UnitsFor(kind, axis.dataUnit);
    AxisFigures out{axis.title, kind, {}};
    // Back to the data's units, as the analysis gave them.
    const auto back = [&axis](const char* key, const FigureUnit& unit, NoiseFigure& figure) {
      for (const FigureRecord& r : axis.figures)
        if (r.key == key && r.determined)
          figure = {true, r.value / unit.factor, r.tauLow, r.tauHigh};
    };
    back("N", units.n, out.figures.randomWalk);
    back("B", units.b, out.figures.biasInstability);
    back("K", units.k, out.figures.rateRandomWalk);
    figures.push_back(std::move(out));
  }
  return ImuYamlText(logName, figures, rate, missing);
}

}  // namespace pemra
