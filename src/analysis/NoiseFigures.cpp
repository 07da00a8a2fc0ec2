#include "analysis/NoiseFigures.h"

#include <cmath>

namespace pemra {

namespace {

constexpr double kSecondsPerHour = 3600.0;

// Local slope from point i to the first point at least twice its tau (the next point on an
// octave grid; a wider step on denser grids, whose neighbours differ by noise alone).
struct Segment {
  size_t from, to;
  double slope;
};

std::vector<Segment> Segments(const std::vector<AllanPoint>& p) {
  std::vector<Segment> segments;
  for (size_t i = 0; i < p.size(); ++i) {
    size_t j = i + 1;
    while (j < p.size() && p[j].tau < 2 * p[i].tau * (1 - 1e-9)) ++j;
    if (j >= p.size()) break;
    segments.push_back({i, j, std::log(p[j].deviation / p[i].deviation) /
                                  std::log(p[j].tau / p[i].tau)});
  }
  return segments;
}

// A line of fixed slope through the longest run of segments whose slope is near it; its
// value at `tauRead`. Among runs of equal length the first (`preferLast` false) or last wins.
NoiseFigure FitSlope(const std::vector<AllanPoint>& p, const std::vector<Segment>& segments,
                     double slope, double tauRead, bool preferLast) {
  size_t bestFrom = 0, bestTo = 0, bestCount = 0;
  for (size_t i = 0; i < segments.size();) {
    if (std::fabs(segments[i].slope - slope) > kSlopeTolerance) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j + 1 < segments.size() && std::fabs(segments[j + 1].slope - slope) <= kSlopeTolerance)
      ++j;
    const size_t from = segments[i].from, to = segments[j].to;
    const size_t count = to - from + 1;
    if (count > bestCount || (preferLast && count == bestCount)) {
      bestFrom = from;
      bestTo = to;
      bestCount = count;
    }
    i = j + 1;
  }
  NoiseFigure figure;
  if (bestCount == 0) return figure;
  double weighted = 0, weights = 0;
  for (size_t i = bestFrom; i <= bestTo; ++i) {
    const double w = p[i].edf > 0 ? p[i].edf : 1;
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
  figures.randomWalk = FitSlope(p, segments, -0.5, 1.0, false);
  figures.rateRandomWalk = FitSlope(p, segments, 0.5, 3.0, true);

  // The minimum counts when the curve has flattened into it (the step into it no longer
  // falls like white noise) and rises after it: a curve still falling at its end, or rising
  // from its start, does not reach the floor.
  size_t lowest = 0;
  for (size_t i = 1; i < p.size(); ++i)
    if (p[i].deviation < p[lowest].deviation) lowest = i;
  if (p.size() >= 3 && lowest > 0 && lowest + 1 < p.size()) {
    bool flattened = false;
    for (const Segment& s : segments)
      if (s.to == lowest && s.slope > -0.5 + 2 * kSlopeTolerance) flattened = true;
    if (flattened) {
      figures.biasInstability.determined = true;
      figures.biasInstability.value = p[lowest].deviation / kFlickerFloor;
      figures.biasInstability.tauLow = p[lowest].tau;
      figures.biasInstability.tauHigh = p[lowest].tau;
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
