#pragma once
// A sensor's noise figures read from its deviation curve, each from the stretch of taus where
// its noise was identified (NoiseIdentification.h), as the IEEE Std 952 Annex C method reads
// them, with the theory of the deviation's own type:
// - N (angle / velocity random walk): a line of slope -1/2 fitted, weighted with the points'
//   degrees of freedom, over the taus identified as white rate noise; read at tau = 1 s;
//   where a digital filter ahead of the output lowers the line's short end (the sensor's
//   moving average), the filter's law N^2 (1 - c / m), c read at the shortest taus, is given
//   back, so the density the filter keeps is what N states;
// - B (bias instability): only where the curve has a flicker floor: a stretch of at least an
//   octave identified as flicker, or a minimum the curve is seen to rise from, beyond their
//   intervals, on both sides; in both cases the floor must stand above what the white noise
//   and random walk found elsewhere give there. B = floor / 0.664 (Allan);
// - K (rate / acceleration random walk): a line of slope +1/2 over the taus identified as
//   random walk of rate, less the floor and white noise under it; read at tau = 3 s;
// - the minimum deviation and its tau, whatever the curve (the figure many data sheets call
//   bias stability).
// Each carries a 68% interval (the chi-square interval of the best-determined point of its
// stretch: neighbouring points of one curve are not independent, so their degrees of
// freedom are not added), or "not determined" with its reason.

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
  double low = 0;      // 68% interval
  double high = 0;
  double edf = 0;      // the degrees of freedom the interval comes from
  int alpha = 0;       // the noise it assumed
  std::string reason;  // why not determined
};

struct NoiseFigures {
  NoiseFigure randomWalk;       // N
  NoiseFigure biasInstability;  // B
  NoiseFigure rateRandomWalk;   // K
  NoiseFigure minimum;          // the minimum deviation, in the data's units
};

// Bias instability: the flat floor of flicker noise lies at 0.664 B on the Allan deviation.
inline constexpr double kFlickerFloor = 0.664;
inline constexpr double kStandardGravity = 9.80665;  // m/s^2 per g

// How each noise shows on a type's deviation: white rate noise of density N gives
// N * white(m) / sqrt(tau), flicker of bias instability B the floor flicker * B, a random
// walk K gives K * walk * sqrt(tau). Allan: 1, 0.664, 1/sqrt(3). Modified: sqrt((m^2 + 1) /
// (2 m^2)) exactly for white noise; for the others the limits for many samples per tau,
// sqrt((27 ln 3 - 32 ln 2) / (8 pi)) and sqrt(11 / 40). Hadamard: 1, sqrt((4 ln 2 - 1.5 ln 3)
// / pi), 1 / sqrt(6).
struct NoiseCoefficients {
  double flicker = kFlickerFloor;
  double walk = 0;
  double White(int64_t m) const;
  AllanType type = AllanType::Overlapping;
};
NoiseCoefficients CoefficientsFor(AllanType type);

// The points must come from one deviation of `type`, in ascending tau.
NoiseFigures FitNoiseFigures(const std::vector<AllanPoint>& points,
                             AllanType type = AllanType::Overlapping);

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
