#include "analysis/NoiseFigures.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

namespace pemra {

namespace {

constexpr double kSecondsPerHour = 3600.0;
// A flicker stretch spans at least an octave of tau.
constexpr double kOctave = 2.0 * (1 - 1e-9);
// A process is read from a point only where it makes at least this share of the variance.
constexpr double kDominantShare = 0.25;
// The floor is read where tau spans this many samples at least (where any do): over fewer,
// the sampled flicker and the modified deviation's averaging stand apart from the
// continuous theory the coefficients come from.
constexpr int64_t kFloorFactor = 16;
// How far the slope of a figure's point estimates may stray from 0 along its stretch
// (beyond twice its standard error).
constexpr double kSlopeTolerance = 0.02;
// Fewer points than these make no curve to read figures from.
constexpr size_t kMinimumPoints = 3;

// Consecutive points identified as one noise, first .. last inclusive.
struct Run {
  size_t first = 0, last = 0;
};

std::vector<Run> Runs(const std::vector<AllanPoint>& p, int alpha) {
  std::vector<Run> runs;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i].noise.alpha != alpha) continue;
    if (!runs.empty() && runs.back().last + 1 == i) runs.back().last = i;
    else runs.push_back({i, i});
  }
  return runs;
}

double EdfSum(const std::vector<AllanPoint>& p, const Run& r) {
  double sum = 0;
  for (size_t i = r.first; i <= r.last; ++i) sum += p[i].edf;
  return sum;
}

// The run holding the most degrees of freedom, among those `accept` passes.
template <typename Accept>
std::optional<Run> Best(const std::vector<AllanPoint>& p, const std::vector<Run>& runs,
                        Accept accept) {
  std::optional<Run> best;
  for (const Run& r : runs)
    if (accept(r) && (!best || EdfSum(p, r) > EdfSum(p, *best))) best = r;
  return best;
}

// A figure with the interval of the best-determined point of [first, last].
NoiseFigure Figure(const std::vector<AllanPoint>& p, size_t first, size_t last, double value,
                   int alpha) {
  NoiseFigure f;
  f.determined = true;
  f.value = value;
  f.tauLow = p[first].tau;
  f.tauHigh = p[last].tau;
  for (size_t i = first; i <= last; ++i) f.edf = std::max(f.edf, p[i].edf);
  const Interval interval = ConfidenceInterval(value, f.edf);
  f.low = interval.low;
  f.high = interval.high;
  f.alpha = alpha;
  return f;
}

NoiseFigure NotDetermined(std::string reason) {
  NoiseFigure f;
  f.reason = std::move(reason);
  return f;
}

// The constant of a filter's law (FilterConstant) and its error; 0 where no filter shows.
struct FilterLaw {
  double c = 0, error = 0;
};

struct Model {
  const std::vector<AllanPoint>& p;
  NoiseCoefficients c;
  FilterLaw filter;
  // The share of the white noise's variance the filter leaves at point i (1 where it has
  // settled; points within twice its constant are not on its law and are left as they are).
  double Filter(size_t i) const {
    const double m = static_cast<double>(p[i].m);
    return m > 2 * filter.c ? 1 - filter.c / m : 1;
  }
  // The variance each process gives at point i (0 for a figure not determined).
  double White(const NoiseFigure& n, size_t i) const {
    if (!n.determined) return 0;
    const double v = n.value * c.White(p[i].m);
    return v * v / p[i].tau * Filter(i);
  }
  double Floor(const NoiseFigure& b) const {
    return b.determined ? (b.value * c.flicker) * (b.value * c.flicker) : 0;
  }
  double Walk(const NoiseFigure& k, size_t i) const {
    if (!k.determined) return 0;
    const double v = k.value * c.walk;
    return v * v * p[i].tau;
  }
};

// Whether the curve is seen to fall (rise) over a run: its first (last) point lies above,
// beyond both intervals, the lowest point after (before) it.
bool SeenToFall(const std::vector<AllanPoint>& p, const Run& r) {
  size_t lowest = r.first;
  for (size_t i = r.first; i < p.size(); ++i)
    if (p[i].deviation < p[lowest].deviation) lowest = i;
  return p[r.first].low > p[lowest].high;
}
bool SeenToRise(const std::vector<AllanPoint>& p, const Run& r) {
  size_t lowest = r.last;
  for (size_t i = 0; i <= r.last; ++i)
    if (p[i].deviation < p[lowest].deviation) lowest = i;
  return p[r.last].low > p[lowest].high;
}

// The edf-weighted mean of log(value) over the points of a run where `share` leaves the
// process at least kDominantShare of the variance; over all its points where none does.
// A figure read over a run: each point's own estimate, 0.5 log(variance / scale), where the
// variance is the point's less the other processes' (when that leaves this one at least
// kDominantShare of it); then only the points where the estimate holds along the run (its
// slope to the next point of the run, the previous one for the last, within
// kSlopeTolerance plus twice its standard error: a filter ahead of the sensor's output, or a
// walk smooth between its steps, identifies as the noise at short tau without lying on its
// line); then their mean weighted with the degrees of freedom (where no two points agree,
// the best-determined point alone).
struct Parts {
  double own, total, scale;
};

template <typename Value>
std::optional<NoiseFigure> FitAlong(const std::vector<AllanPoint>& p, const Run& r, int alpha,
                                    Value value) {
  std::vector<double> estimate(p.size(), 0.0);
  for (size_t i = r.first; i <= r.last; ++i) {
    const auto [own, total, scale] = value(i);
    estimate[i] = 0.5 * std::log((own >= kDominantShare * total ? own : total) / scale);
  }
  double sum = 0, weights = 0;
  size_t first = r.last, last = r.first;
  for (size_t i = r.first; i <= r.last; ++i) {
    if (r.first != r.last) {
      const size_t a = i < r.last ? i : i - 1, b = a + 1;
      const double span = std::log(p[b].tau / p[a].tau);
      const double slope = (estimate[b] - estimate[a]) / span;
      const double error = std::sqrt(0.5 / p[a].edf + 0.5 / p[b].edf) / span;
      if (std::fabs(slope) > kSlopeTolerance + 2 * error) continue;
    }
    sum += p[i].edf * estimate[i];
    weights += p[i].edf;
    first = std::min(first, i);
    last = std::max(last, i);
  }
  if (!(weights > 0)) {
    // Nowhere two points agree: the best-determined point alone.
    size_t best = r.first;
    for (size_t i = r.first; i <= r.last; ++i)
      if (p[i].edf > p[best].edf) best = i;
    return Figure(p, best, best, std::exp(estimate[best]), alpha);
  }
  return Figure(p, first, last, std::exp(sum / weights), alpha);
}

// A digital low-pass filter ahead of the output (the sensor's moving average over its taps,
// any filter of finite length L) lowers the Allan variance of white noise by a term in 1/m:
// for m >= L exactly sigma^2(m) tau = N^2 (1 - c / m), with c = 1.5 sum |k| r(k) over the
// filter's normalised autocorrelation r (c = 1.875 for a moving average of 4 samples). At
// the shortest taus white noise outweighs the other processes by far, so c is read there:
// from each pair of neighbouring points, the first pair whose c the next pair confirms
// (within twice their errors), and only where it stands above zero beyond them. 0 where
// no filter shows (white noise sampled as it is, or noise that rises at short tau).
FilterLaw FilterConstant(const std::vector<AllanPoint>& p, AllanType type) {
  if (type != AllanType::Overlapping && type != AllanType::Plain) return {};
  struct Pair {
    double c, error;
  };
  const auto pairAt = [&p](size_t i) -> std::optional<Pair> {
    const AllanPoint &a = p[i], &b = p[i + 1];
    const double ea = a.deviation * a.deviation * a.tau, eb = b.deviation * b.deviation * b.tau;
    const double ma = static_cast<double>(a.m), mb = static_cast<double>(b.m);
    // ea = a (1 - c / ma), eb = a (1 - c / mb)
    const double denominator = eb / ma - ea / mb;
    if (!(denominator > 0)) return std::nullopt;
    const double c = (eb - ea) / denominator;
    // Relative errors of the two variances, sqrt(2 / edf) each, carried through.
    const double ra = std::sqrt(2.0 / a.edf), rb = std::sqrt(2.0 / b.edf);
    const double dcA = (-denominator + (eb - ea) / mb) / (denominator * denominator) * ea * ra;
    const double dcB = (denominator - (eb - ea) / ma) / (denominator * denominator) * eb * rb;
    return Pair{c, std::hypot(dcA, dcB)};
  };
  // Up to the first point identified as white noise: beyond it the others may show.
  size_t white = 0;
  while (white < p.size() && p[white].noise.alpha != 0) ++white;
  for (size_t i = 0; i + 2 < p.size() && i <= white; ++i) {
    const auto first = pairAt(i), next = pairAt(i + 1);
    if (!first || !next) continue;
    if (std::fabs(first->c - next->c) > 2 * std::hypot(first->error, next->error)) continue;
    const double w1 = 1 / (first->error * first->error), w2 = 1 / (next->error * next->error);
    const double c = (w1 * first->c + w2 * next->c) / (w1 + w2);
    const double error = 1 / std::sqrt(w1 + w2);
    return c > 2 * error ? FilterLaw{c, error} : FilterLaw{};
  }
  return {};
}

// N over the white stretch, less the floor and random walk where they are known, and with
// the filter's share (FilterConstant) given back. A point the filter's law lifts carries the
// error of its constant too: its degrees of freedom are lowered to those of both errors
// (the relative error of the point's N grows by half of c's error over m - c).
NoiseFigure FitWhite(const std::vector<AllanPoint>& measured, const Model& model,
                     const NoiseFigure& b, const NoiseFigure& k) {
  std::vector<AllanPoint> p = measured;
  for (size_t i = 0; i < p.size(); ++i) {
    if (model.Filter(i) == 1) continue;
    const double lift = 0.5 * model.filter.error / (static_cast<double>(p[i].m) - model.filter.c);
    p[i].edf = 1 / (2 * (0.5 / p[i].edf + lift * lift));
  }
  const auto run = Best(p, Runs(p, 0),
                        [&](const Run& r) { return r.last > r.first && SeenToFall(p, r); });
  if (!run) {
    if (!p.empty() && p.front().noise.alpha < 0)
      return NotDetermined("curve not falling at the shortest tau");
    return NotDetermined("no stretch of white rate noise");
  }
  const auto figure = FitAlong(p, *run, 0, [&](size_t i) {
    const double total = p[i].deviation * p[i].deviation;
    const double white = model.c.White(p[i].m);
    return Parts{total - model.Floor(b) - model.Walk(k, i), total,
                 white * white / p[i].tau * model.Filter(i)};
  });
  return figure ? *figure : NotDetermined("no stretch along the -1/2 line of white rate noise");
}

// K over the random-walk stretch (beyond the white one), less the floor and white noise
// where they are known.
NoiseFigure FitWalk(const std::vector<AllanPoint>& p, const Model& model, const NoiseFigure& n,
                    const NoiseFigure& b) {
  const auto beyondWhite = [&](const Run& r) { return !n.determined || p[r.first].tau > n.tauHigh; };
  const auto run = Best(p, Runs(p, -2),
                        [&](const Run& r) { return beyondWhite(r) && SeenToRise(p, r); });
  if (!run) {
    for (const Run& r : Runs(p, -2))
      if (beyondWhite(r)) return NotDetermined("curve not seen to rise where random walk was identified");
    return NotDetermined("no stretch of rate random walk");
  }
  const auto figure = FitAlong(p, *run, -2, [&](size_t i) {
    const double total = p[i].deviation * p[i].deviation;
    return Parts{total - model.White(n, i) - model.Floor(b), total,
                 model.c.walk * model.c.walk * p[i].tau};
  });
  return figure ? *figure : NotDetermined("no stretch along the +1/2 line of rate random walk");
}

// B from a flicker floor, with the white noise and random walk under it taken out; the floor
// must stand above them beyond its interval.
NoiseFigure FitFloor(const std::vector<AllanPoint>& p, const Model& model, const NoiseFigure& n,
                     const NoiseFigure& k) {
  if (p.size() < kMinimumPoints) return NotDetermined("log shorter than 3 taus");
  const auto others = [&](size_t i) { return model.White(n, i) + model.Walk(k, i); };
  bool belowModel = false;
  const auto floorOver = [&](size_t first, size_t last) -> std::optional<NoiseFigure> {
    double total = 0, lowTotal = 0, under = 0, weights = 0;
    size_t best = first;
    bool any = false;
    for (size_t i = first; i <= last; ++i) any = any || p[i].m >= kFloorFactor;
    for (size_t i = first; i <= last; ++i) {
      if (any && p[i].m < kFloorFactor) continue;
      const double w = p[i].edf;
      total += w * p[i].deviation * p[i].deviation;
      lowTotal += w * p[i].low * p[i].low;
      under += w * others(i);
      weights += w;
      if (p[i].edf > p[best].edf) best = i;
    }
    // Beyond its interval, and a real part of the variance (a fluctuation where the white
    // noise meets the random walk can pass the first test by chance, never the second).
    if (!(weights > 0) || !(lowTotal > under) || total - under < kDominantShare * total) {
      belowModel = true;
      return std::nullopt;
    }
    const double floor = std::sqrt((total - under) / weights);
    return Figure(p, first, last, floor / model.c.flicker, -1);
  };
  // A stretch of at least an octave identified as flicker.
  const auto run = Best(p, Runs(p, -1), [&](const Run& r) {
    return p[r.last].tau >= kOctave * p[r.first].tau && (!n.determined || p[r.first].tau > n.tauLow);
  });
  if (run) {
    if (auto figure = floorOver(run->first, run->last)) return *figure;
  }
  // Or a minimum the curve rises from, beyond the intervals, on both sides.
  size_t lowest = 0;
  for (size_t i = 1; i < p.size(); ++i)
    if (p[i].deviation < p[lowest].deviation) lowest = i;
  bool before = false, after = false;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i].low <= p[lowest].high) continue;
    if (i < lowest) before = true;
    if (i > lowest) after = true;
  }
  if (before && after) {
    if (auto figure = floorOver(lowest, lowest)) return *figure;
  }
  if (!k.determined && p.back().noise.alpha >= 0 &&
      p.back().deviation < p[p.size() - 2].deviation)
    return NotDetermined("curve still falling at the longest tau");
  if (belowModel) return NotDetermined("no flat stretch above the white noise and random walk");
  return NotDetermined("no flat stretch");
}

}  // namespace

double NoiseCoefficients::White(int64_t m) const {
  if (type != AllanType::Modified) return 1;
  const double md = static_cast<double>(m);
  return std::sqrt((md * md + 1) / (2 * md * md));
}

NoiseCoefficients CoefficientsFor(AllanType type) {
  const double ln2 = std::numbers::ln2, ln3 = std::log(3.0), pi = std::numbers::pi;
  NoiseCoefficients c;
  c.type = type;
  switch (type) {
    case AllanType::Overlapping:
    case AllanType::Plain:
      c.flicker = kFlickerFloor;
      c.walk = std::sqrt(1.0 / 3);
      break;
    case AllanType::Modified:
      c.flicker = std::sqrt((27 * ln3 - 32 * ln2) / (8 * pi));
      c.walk = std::sqrt(11.0 / 40);
      break;
    case AllanType::Hadamard:
      c.flicker = std::sqrt((4 * ln2 - 1.5 * ln3) / pi);
      c.walk = std::sqrt(1.0 / 6);
      break;
  }
  return c;
}

NoiseFigures FitNoiseFigures(const std::vector<AllanPoint>& input, AllanType type) {
  std::vector<AllanPoint> p;
  for (const AllanPoint& point : input)
    if (point.deviation > 0 && std::isfinite(point.deviation) && point.tau > 0 && point.edf > 0)
      p.push_back(point);
  NoiseFigures figures;
  if (p.empty()) {
    const NoiseFigure none = NotDetermined("no deviation to read (the log is constant or too short)");
    figures.randomWalk = figures.biasInstability = figures.rateRandomWalk = figures.minimum = none;
    return figures;
  }
  const Model model{p, CoefficientsFor(type), FilterConstant(p, type)};
  // Each process first as it stands, then each less the others found: the floor lifts the
  // white line's end and the random walk's start.
  const NoiseFigure none;
  NoiseFigure n = FitWhite(p, model, none, none);
  NoiseFigure k = FitWalk(p, model, n, none);
  NoiseFigure b = FitFloor(p, model, n, k);
  for (int pass = 0; pass < 2; ++pass) {
    n = FitWhite(p, model, b, k);
    k = FitWalk(p, model, n, b);
    if (b.determined) b = FitFloor(p, model, n, k);
  }
  figures.randomWalk = n;
  figures.biasInstability = b;
  figures.rateRandomWalk = k;

  size_t lowest = 0;
  for (size_t i = 1; i < p.size(); ++i)
    if (p[i].deviation < p[lowest].deviation) lowest = i;
  figures.minimum = Figure(p, lowest, lowest, p[lowest].deviation, p[lowest].noise.alpha);
  figures.minimum.low = p[lowest].low;
  figures.minimum.high = p[lowest].high;
  return figures;
}

FigureUnits UnitsFor(ColumnKind kind, const std::string& dataUnit) {
  const double rootHour = std::sqrt(kSecondsPerHour);
  if (kind == ColumnKind::Gyro && dataUnit == "deg/s")
    return {{"deg/sqrt(h)", rootHour},
            {"deg/h", kSecondsPerHour},
            {"deg/h/sqrt(h)", kSecondsPerHour * rootHour}};
  if (kind == ColumnKind::Accel && dataUnit == "g")
    return {{"m/s/sqrt(h)", kStandardGravity * rootHour},
            {"mg", 1000.0},
            {"m/s/h/sqrt(h)", kStandardGravity * kSecondsPerHour * rootHour}};
  const std::string unit = dataUnit.empty() ? "units" : dataUnit;
  return {{unit + "*sqrt(s)", 1.0}, {unit, 1.0}, {unit + "/sqrt(s)", 1.0}};
}

}  // namespace pemra
