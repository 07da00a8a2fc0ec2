#include "evaluation/EvaluationFigures.h"

#include <algorithm>
#include <cmath>

#include "analysis/AllanDeviation.h"
#include "analysis/ImuYaml.h"
#include "analysis/NoiseFigures.h"
#include "analysis/NoiseIdentification.h"
#include "analysis/Psd.h"

namespace pemra {

namespace {

// Far more than a still log's noise lets the means of its first and last tenth differ:
// this many times the spread of the difference of two averages that long.
constexpr double kStillnessFactor = 10.0;

ColumnKind KindOf(AxisKind kind) { return kind == AxisKind::Gyro ? ColumnKind::Gyro : ColumnKind::Accel; }

FigureRecord FromNoiseFigure(const char* key, const char* name, const NoiseFigure& figure,
                             const FigureUnit& unit, const char* cut) {
  FigureRecord r;
  r.key = key;
  r.name = name;
  r.unit = unit.name;
  r.determined = figure.determined && cut == nullptr;
  if (r.determined) {
    r.value = figure.value * unit.factor;
    r.hasTaus = true;
    r.tauLow = figure.tauLow;
    r.tauHigh = figure.tauHigh;
    if (figure.edf > 0) {
      r.hasInterval = true;
      r.low = figure.low * unit.factor;
      r.high = figure.high * unit.factor;
      r.intervalNote = "68%, assuming " + std::string(NoiseText(figure.alpha)) + " noise";
    } else {
      r.intervalNote = "no interval: too few degrees of freedom";
    }
  } else {
    r.reason = cut ? cut : figure.reason.empty() ? "not determined from this curve" : figure.reason;
  }
  return r;
}

// The white-noise density of the spectrum's flat band, in the unit the figure is stated in.
FigureRecord DensityRecord(std::span<const double> samples, double rate, const AxisReport& axis,
                           const char* cut) {
  FigureRecord density;
  density.key = "density";
  density.name = "noise density";
  const bool physical = axis.dataUnit == "deg/s" || axis.dataUnit == "g";
  density.unit = physical ? FigureUnitFor(axis.kind, "density") : axis.dataUnit + "/sqrt(Hz)";
  const double factor = physical && axis.kind == AxisKind::Accel ? 1000.0 : 1.0;  // g to mg
  if (cut) {
    density.reason = cut;
    return density;
  }
  if (samples.size() < 2) {
    density.reason = "too few samples for a spectrum";
    return density;
  }
  // Segments of 2^14 samples, or on a shorter log the longest power of two that still gives
  // eight of them: one segment alone is too scattered to show a flat band.
  const auto n = static_cast<int64_t>(samples.size());
  int64_t segment = DefaultPsdSegment(n);
  if (n < 8 * segment) {
    segment = 2;
    while (segment * 2 <= n / 8) segment *= 2;
  }
  const Spectrum spectrum = WelchSpectrum(samples, rate, segment);
  const FlatBand flat = SummariseSpectrum(spectrum).flat;
  if (!flat.determined) {
    density.reason = flat.reason.empty() ? "no flat band in the spectrum" : flat.reason;
    return density;
  }
  density.determined = true;
  density.value = flat.density * factor;
  density.hasInterval = true;
  density.low = flat.low * factor;
  density.high = flat.high * factor;
  density.intervalNote = "68%, Welch spectrum's flat band from " + std::to_string(flat.frequencyLow) +
                         " to " + std::to_string(flat.frequencyHigh) + " Hz";
  return density;
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
  axis.curveNote = "overlapping Allan deviation, octave grid; 68% intervals for the noise "
                   "identified at each tau (lag-1 autocorrelation, B1 ratio where few averages "
                   "remain) with Greenhall's degrees of freedom";

  const bool cancelled = cancel != nullptr && cancel->load();
  const NoiseFigures fit =
      cancelled ? NoiseFigures{} : FitNoiseFigures(points, AllanType::Overlapping);
  const FigureUnits units = UnitsFor(kind, axis.dataUnit);
  const bool gyro = axis.kind == AxisKind::Gyro;
  const char* cut = cancelled ? "the analysis was cancelled" : nullptr;
  axis.figures.clear();
  axis.figures.push_back(FromNoiseFigure("N", gyro ? "angle random walk" : "velocity random walk",
                                         fit.randomWalk, units.n, cut));
  axis.figures.push_back(FromNoiseFigure("B", "bias instability", fit.biasInstability, units.b, cut));
  axis.figures.push_back(FromNoiseFigure("K", gyro ? "rate random walk" : "acceleration random walk",
                                         fit.rateRandomWalk, units.k, cut));
  axis.figures.push_back(FromNoiseFigure("minimum", "minimum deviation", fit.minimum, units.b, cut));
  axis.figures.push_back(DensityRecord(samples, rate, axis, cut));

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
        if (r.key == key && r.determined) {
          figure.determined = true;
          figure.value = r.value / unit.factor;
          figure.tauLow = r.tauLow;
          figure.tauHigh = r.tauHigh;
        }
    };
    back("N", units.n, out.figures.randomWalk);
    back("B", units.b, out.figures.biasInstability);
    back("K", units.k, out.figures.rateRandomWalk);
    figures.push_back(std::move(out));
  }
  return ImuYamlText(logName, figures, rate, missing);
}

}  // namespace pemra
