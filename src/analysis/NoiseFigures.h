#pragma once
// A sensor's noise figures read from its Allan deviation curve, as the IEEE Std 952 Annex C
// method reads them:
// - N (angle / velocity random walk): a line of slope -1/2 fitted to the part of the curve
//   before its minimum whose local slope is near -1/2, read at tau = 1 s;
// - K (rate / acceleration random walk): a line of slope +1/2 fitted where the local slope
//   is near +1/2 after the minimum, read at tau = 3 s;
// - B (bias instability): the curve's minimum / 0.664, where the curve flattens out into it
//   and rises after it.
// A figure the curve does not reach is not determined. Each line is fitted where the curve
// comes nearest to its slope (other noise and the sensor's filter bend the curve away from
// it elsewhere), in log-log by least squares weighted with the points' degrees of freedom, so
// the points of few terms at long tau count for little.

#include <string>
#include <vector>

#include "analysis/AllanDeviation.h"
#include "analysis/LogReader.h"

namespace pemra {

struct NoiseFigure {
  bool determined = false;
  double value = 0;    // in the data's units: N unit*sqrt(s), B unit, K unit/sqrt(s)
  double tauLow = 0;   // the part of the curve it came from, seconds
  double tauHigh = 0;
};

struct NoiseFigures {
  NoiseFigure randomWalk;       // N
  NoiseFigure biasInstability;  // B
  NoiseFigure rateRandomWalk;   // K
};

// How near to -1/2 or +1/2 a local slope must come for the line to be read at all, and how
// near the neighbouring slopes must stay to widen the fit; each plus the slope's own standard
// error (from the two points' degrees of freedom), so that the precise points of short tau
// must lie on the line while the scattered ones of long tau may stray.
inline constexpr double kSlopeNear = 0.1;
inline constexpr double kSlopeTolerance = 0.03;
// The minimum is looked for among points at least this well determined, so that one
// scattered point at the end does not make the curve seem to fall on.
inline constexpr double kMinimumEdf = 5.0;
// Bias instability: the flat floor of flicker noise lies at 0.664 B.
inline constexpr double kFlickerFloor = 0.664;
inline constexpr double kStandardGravity = 9.80665;  // m/s^2 per g

NoiseFigures FitNoiseFigures(const std::vector<AllanPoint>& points);

// The units a figure is stated in, and the factor from the data's units to them.
struct FigureUnit {
  std::string name;
  double factor = 1;
};
struct FigureUnits {
  FigureUnit n, b, k;
};
// Gyro columns (deg/s): deg/sqrt(h), deg/h, deg/h/sqrt(h). Accelerometer columns (g):
// m/s/sqrt(h), mg, m/s/h/sqrt(h). Any other column, or raw values (`dataUnit` "LSB"):
// the data's own unit times sqrt(s), the unit, the unit per sqrt(s).
FigureUnits UnitsFor(ColumnKind kind, const std::string& dataUnit);

}  // namespace pemra
