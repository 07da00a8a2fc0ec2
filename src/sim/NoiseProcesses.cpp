#include "sim/NoiseProcesses.h"

#include <cmath>

namespace pemra::sim {

namespace {

constexpr uint32_t kFlickerStream = 200;  // + 64 axis + scale
constexpr uint32_t kPhaseStream = 600;    // + axis
constexpr uint32_t kWalkStream = 700;     // + 64 axis + level
constexpr int kWalkLevels = 40;           // seconds 0 .. 2^40

}  // namespace

double SlowNoise::At(const NoiseSource& noise, double seconds, const NoiseModel& model) {
  if (!valid_ || seed_ != noise.Seed()) {
    for (int j = 0; j < kFlickerScales; ++j) {
      phase_[size_t(j)] = noise.Uniform(kPhaseStream + uint32_t(axis_), j);
      block_[size_t(j)] = -1;
    }
    walkSecond_ = -1;
    seed_ = noise.Seed();
    valid_ = true;
  }
  if (seconds < 0) seconds = 0;
  double v = 0;
  if (model.biasInstability != 0)
    v += model.biasInstability * kFlickerFloor / std::sqrt(2.0) * Flicker(noise, seconds);
  if (model.rateRandomWalk != 0) {
    const auto second = int64_t(std::floor(seconds));
    if (second != walkSecond_) {
      walkFrom_ = Walk(noise, second);
      walkTo_ = Walk(noise, second + 1);
      walkSecond_ = second;
    }
    const double fraction = seconds - double(second);
    v += model.rateRandomWalk * (walkFrom_ + fraction * (walkTo_ - walkFrom_));
  }
  return v;
}

double SlowNoise::Flicker(const NoiseSource& noise, double seconds) {
  double sum = 0;
  double length = kFlickerShortest;
  for (int j = 0; j < kFlickerScales; ++j, length *= 2) {
    const auto block = int64_t(std::floor(seconds / length + phase_[size_t(j)]));
    if (block != block_[size_t(j)]) {
      block_[size_t(j)] = block;
      level_[size_t(j)] = noise.Gaussian(kFlickerStream + 64 * uint32_t(axis_) + uint32_t(j), block);
    }
    sum += level_[size_t(j)];
  }
  return sum;
}

// The walk at a whole second: W(0) = 0, W(2^40) drawn, and each midpoint the mean of its
// ends plus a draw of half the spread the interval's length gives.
double SlowNoise::Walk(const NoiseSource& noise, int64_t second) const {
  int64_t lo = 0, hi = int64_t(1) << kWalkLevels;
  const uint32_t stream = kWalkStream + 64 * uint32_t(axis_);
  double wLo = 0, wHi = std::sqrt(double(hi)) * noise.Gaussian(stream + kWalkLevels, 0);
  for (int level = kWalkLevels - 1; level >= 0 && second != lo; --level) {
    const int64_t mid = lo + (hi - lo) / 2;
    const double wMid =
        0.5 * (wLo + wHi) + 0.5 * std::sqrt(double(hi - lo)) * noise.Gaussian(stream + uint32_t(level), mid);
    if (second < mid) {
      hi = mid, wHi = wMid;
    } else {
      lo = mid, wLo = wMid;
    }
  }
  return second == lo ? wLo : wHi;
}

}  // namespace pemra::sim
