#include "analysis/NoiseFigures.h"

#include <cmath>
#include <optional>

namespace pemra {

namespace {

constexpr double kSecondsPerHour = 3600.0;
// A step into the minimum no steeper than this has left the -1/2 line of white noise.
constexpr double kFlattened = -0.25;

// Local slope from point i to the first point at least twice its tau (the next point on an
// octave grid; a wider step on denser grids, whose neighbours differ by noise alone).
struct Segment {
  size_t from, to;
  double slope;
  double error;  // the slope's standard error
};

double Weight(const AllanPoint& q) { return q.edf > 0 ? q.edf : 1; }

// The log of a deviation with e degrees of freedom has a variance of about 1 / (2e).
double Variance(const AllanPoint& q) { return q.edf > 0 ? 0.5 / q.edf : 0.5; }

std::vector<Segment> Segments(const std::vector<AllanPoint>& p) {
  std::vector<Segment> segments;
  for (size_t i = 0; i < p.size(); ++i) {
    size_t j = i + 1;
    while (j < p.size() && p[j].tau < 2 * p[i].tau * (1 - 1e-9)) ++j;
    if (j >= p.size()) break;
    const double span = std::log(p[j].tau / p[i].tau);
    segments.push_back({i, j, std::log(p[j].deviation / p[i].deviation) / span,
                        std::sqrt(Variance(p[i]) + Variance(p[j])) / span});
  }
  return segments;
}

// A line of fixed slope where the curve runs nearest to it: the segment whose slope is
// closest to it for its uncertainty (among `allowed` ones, and near enough), widened over its neighbours while
// their slopes stay near it. Its value at `tauRead`.
NoiseFigure FitSlope(const std::vector<AllanPoint>& p, const std::vector<Segment>& segments,
                     double slope, double tauRead, const std::vector<bool>& allowed) {
  const auto off = [&](size_t i) { return std::fabs(segments[i].slope - slope); };
  // Nearest counts the slope's uncertainty against it: a precise segment a little off the
  // slope beats a scattered one that happens to lie on it.
  const auto score = [&](size_t i) { return off(i) + segments[i].error; };
  std::optional<size_t> best;
  for (size_t i = 0; i < segments.size(); ++i)
    if (allowed[i] && off(i) <= kSlopeNear + segments[i].error && (!best || score(i) < score(*best)))
      best = i;
  NoiseFigure figure;
  if (!best) return figure;
  const auto along = [&](size_t i) {
    return allowed[i] && off(i) <= kSlopeTolerance + segments[i].error;
  };
  size_t first = *best, last = *best;
  while (first > 0 && along(first - 1)) --first;
  while (last + 1 < segments.size() && along(last + 1)) ++last;
  const size_t bestFrom = segments[first].from, bestTo = segments[last].to;
  // The curve must be seen to fall (rise) over the stretch: the slope of a free line fitted
  // to it (weighted with the points' inverse variances) must lie more than two of its
  // standard errors from 0, else the stretch may be the scatter of a flat one.
  double sw = 0, sx = 0, sy = 0;
  for (size_t i = bestFrom; i <= bestTo; ++i) {
    const double w = 1 / Variance(p[i]);
    sw += w;
    sx += w * std::log(p[i].tau);
    sy += w * std::log(p[i].deviation);
  }
  double sxx = 0, sxy = 0;
  for (size_t i = bestFrom; i <= bestTo; ++i) {
    const double w = 1 / Variance(p[i]);
    const double dx = std::log(p[i].tau) - sx / sw;
    sxx += w * dx * dx;
    sxy += w * dx * (std::log(p[i].deviation) - sy / sw);
  }
  const double run = sxy / sxx, runError = 1 / std::sqrt(sxx);
  if (run * slope <= 2 * runError * std::fabs(slope)) return figure;
  double weighted = 0, weights = 0;
  for (size_t i = bestFrom; i <= bestTo; ++i) {
    const double w = Weight(p[i]);
    weighted += w * (std::log(p[i].deviation) - slope * std::log(p[i].tau));
    weights += w;
  }
  figure.determined = true;
  figure.value = std::exp(weighted / weights + slope * std::log(tauRead));
  figure.tauLow = p[bestFrom].tau;
  figure.tauHigh = p[bestTo].tau;
  return figure;
}

}  // namespace

NoiseFigures FitNoiseFigures(const std::vector<AllanPoint>& input) {
  std::vector<AllanPoint> p;
  for (const AllanPoint& point : input)
    if (point.deviation > 0 && point.tau > 0) p.push_back(point);
  NoiseFigures figures;
  const std::vector<Segment> segments = Segments(p);

  // The minimum, among points determined well enough that one scattered point at the end
  // does not make the curve seem to fall on.
  std::optional<size_t> lowest;
  for (size_t i = 0; i < p.size(); ++i)
    if (p[i].edf >= kMinimumEdf && (!lowest || p[i].deviation < p[*lowest].deviation)) lowest = i;

  // The -1/2 line lies before the minimum, the +1/2 line after it.
  std::vector<bool> before(segments.size()), after(segments.size());
  for (size_t i = 0; i < segments.size(); ++i) {
    before[i] = !lowest || segments[i].to <= *lowest;
    after[i] = !lowest || segments[i].from >= *lowest;
  }
  figures.randomWalk = FitSlope(p, segments, -0.5, 1.0, before);
  figures.rateRandomWalk = FitSlope(p, segments, 0.5, 3.0, after);

  // The minimum counts when the curve has flattened into it (the step into it no longer
  // falls like white noise) and something follows it: a curve still falling at its end, or
  // rising from its start, does not reach the floor.
  if (lowest && *lowest > 0 && *lowest + 1 < p.size()) {
    bool flattened = false;
    for (const Segment& s : segments)
      if (s.to == *lowest && s.slope > kFlattened) flattened = true;
    if (flattened) {
      figures.biasInstability.determined = true;
      figures.biasInstability.value = p[*lowest].deviation / kFlickerFloor;
      figures.biasInstability.tauLow = p[*lowest].tau;
      figures.biasInstability.tauHigh = p[*lowest].tau;
    }
  }
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
