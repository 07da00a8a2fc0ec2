#include "sim/MotionProfile.h"

#include <cmath>
#include <numbers>

namespace pemra::sim {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Mean of sin(w t + phase) over taps samples spaced d apart ending at t1: the sum of a
// sampled sine is a sine at the centre time scaled by sin(M x) / sin(x), x = w d / 2.
double WaveMean(const Wave& wave, double t1, double d, int64_t taps) {
  const double w = kTwoPi * wave.frequencyHz;
  const double centre = t1 - 0.5 * double(taps - 1) * d;
  const double value = std::sin(w * centre + wave.phase);
  if (taps <= 1) return wave.amplitude * value;
  const double x = 0.5 * w * d;
  const double m = double(taps);
  const double sx = std::sin(x);
  double gain;
  if (std::fabs(sx) < 1e-12) {
    gain = std::cos(m * x) / std::cos(x);  // the limit where the samples alias to one phase
  } else {
    gain = std::sin(m * x) / (m * sx);
  }
  return wave.amplitude * gain * value;
}

}  // namespace

double Signal::At(double seconds) const {
  double v = constant;
  for (const Wave& w : waves) {
    if (w.amplitude != 0.0) v += w.amplitude * std::sin(kTwoPi * w.frequencyHz * seconds + w.phase);
  }
  return v;
}

double Signal::MeanOver(double lastSeconds, double spacing, int64_t taps) const {
  double v = constant;
  for (const Wave& w : waves) {
    if (w.amplitude != 0.0) v += WaveMean(w, lastSeconds, spacing, taps);
  }
  return v;
}

MotionProfile MotionProfile::Default() {
  MotionProfile p = AtRest();
  p.rate[0].waves[0] = Wave{30.0, 0.5, 0.0};
  p.rate[1].waves[0] = Wave{10.0, 0.2, 0.0};
  p.rate[2].constant = 5.0;
  p.acceleration[0].waves[0] = Wave{0.02, 2.0, 0.0};
  p.acceleration[1].waves[0] = Wave{0.02, 2.0, std::numbers::pi / 2};
  // A drift of at most about half a degree per minute: 1.5 degrees over a 20-minute cycle.
  for (int i = 0; i < 3; ++i) p.temperature[i].waves[0] = Wave{1.5, 1.0 / 1200.0, i * 2.0};
  return p;
}

namespace {

// Per-sample rms at the power-on rate, as a density.
constexpr double kPowerOnRate = 819.2;
// The random walks meet the floor 0.664 B at this averaging time: K sqrt(tau / 3) = 0.664 B.
constexpr double kWalkMeetsFloor = 30.0;

NoiseModel Model(double rmsPerSample, double biasInstability) {
  NoiseModel m;
  m.randomWalk = rmsPerSample / std::sqrt(kPowerOnRate);
  m.biasInstability = biasInstability;
  m.rateRandomWalk = kFlickerFloor * biasInstability * std::sqrt(3.0 / kWalkMeetsFloor);
  return m;
}

}  // namespace

NoiseModel MotionProfile::DefaultGyroNoise() { return Model(0.6, 90.0 / 3600.0); }
NoiseModel MotionProfile::DefaultAccelNoise() { return Model(0.005, 0.3e-3); }

MotionProfile MotionProfile::AtRest() {
  MotionProfile p;
  p.acceleration[2].constant = 1.0;
  p.temperature[0].constant = 25.0;
  p.temperature[1].constant = 25.4;
  p.temperature[2].constant = 24.7;
  p.gyroBias = {1.6, -2.3, 0.9};
  p.accelBias = {0.03, -0.02, 0.045};
  p.gyroNoise = DefaultGyroNoise();
  p.accelNoise = DefaultAccelNoise();
  p.temperatureNoise = 0.05;
  p.supplyNoise = 0.001;
  return p;
}

}  // namespace pemra::sim
