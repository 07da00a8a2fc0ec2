#pragma once
// The slow noise processes of one gyro or accelerometer axis, addressable by time like the
// rest of the simulated sensor (no history is kept, a value at any time costs the same):
// - bias instability: a flicker-like process, the sum of piecewise-constant random levels
//   at octave-spaced lengths kFlickerShortest .. kFlickerLongest seconds, each with its own
//   random phase. With equal level spreads s the Allan deviation of the sum is flat at
//   sqrt(2) s (the octaves' curves add to 2 s^2 / ln 2 * ln 2): within 3.5% from 1 s to
//   200 s and within 5% from 0.6 s to 300 s; beyond the longest length it falls as 1/sqrt(tau).
//   s is set so that the floor lies at 0.664 B.
// - random walk of the bias: a Brownian path built top-down on whole seconds (Levy's
//   midpoint construction, 40 levels, so any second is reached in 40 draws), joined by
//   straight lines; its Allan deviation is K sqrt(tau / 3) for tau of a few seconds and more.
// Both draw from the sensor's seeded noise on streams of their own.

#include <array>
#include <cstdint>

#include "sim/NoiseSource.h"

namespace pemra::sim {

// N, B, K of one axis, in the output's units (deg/s or g) per second: N unit*sqrt(s)
// (white noise density), B unit, K unit/sqrt(s). 0 turns a process off.
struct NoiseModel {
  double randomWalk = 0;       // N: angle / velocity random walk
  double biasInstability = 0;  // B
  double rateRandomWalk = 0;   // K: rate / acceleration random walk
};

inline constexpr double kFlickerShortest = 0.125;  // seconds
inline constexpr int kFlickerScales = 14;          // up to 1024 s
inline constexpr double kFlickerFloor = 0.664;     // floor of the Allan deviation per unit B

class SlowNoise {
 public:
  // `axis` 0..5 (gyro X-Z, accelerometer X-Z) chooses the streams.
  explicit SlowNoise(int axis = 0) : axis_(axis) {}
  // Bias instability plus random walk at `seconds` (>= 0).
  double At(const NoiseSource& noise, double seconds, const NoiseModel& model);

 private:
  double Flicker(const NoiseSource& noise, double seconds);
  double Walk(const NoiseSource& noise, int64_t second) const;

  int axis_;
  uint64_t seed_ = 0;
  bool valid_ = false;
  // The level of each scale, cached with its block number.
  std::array<int64_t, kFlickerScales> block_{};
  std::array<double, kFlickerScales> level_{};
  std::array<double, kFlickerScales> phase_{};
  int64_t walkSecond_ = -1;
  double walkFrom_ = 0, walkTo_ = 0;
};

}  // namespace pemra::sim
