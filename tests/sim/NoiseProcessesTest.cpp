// The simulator's noise draws and the flicker's blocks: uniform draws cover [0, 1) evenly,
// and the flicker's scales change level at their own, shifted instants (not all together at
// multiples of the shortest block, which would put steps into the Allan deviation).

#include <gtest/gtest.h>

#include <cmath>

#include "sim/NoiseProcesses.h"
#include "sim/NoiseSource.h"

namespace pemra::sim {
namespace {

TEST(NoiseProcesses, UniformDrawsCoverTheWholeUnitInterval) {
  const NoiseSource noise(3);
  constexpr int kDraws = 20000;
  double sum = 0;
  int upperHalf = 0;
  double highest = 0;
  for (int i = 0; i < kDraws; ++i) {
    const double u = noise.Uniform(7, i);
    ASSERT_GE(u, 0.0);
    ASSERT_LT(u, 1.0);
    sum += u;
    upperHalf += u >= 0.5;
    highest = std::max(highest, u);
  }
  // Mean 1/2 (standard error 0.002), half the draws in each half (standard error 0.0035).
  EXPECT_NEAR(sum / kDraws, 0.5, 0.01);
  EXPECT_NEAR(double(upperHalf) / kDraws, 0.5, 0.02);
  EXPECT_GT(highest, 0.99);
}

TEST(NoiseProcesses, FlickerScalesChangeAtShiftedInstants) {
  // Flicker alone; look just before and after each multiple of the shortest block length.
  const NoiseModel model{0, 1.0, 0};
  const NoiseSource noise(5);
  SlowNoise slow(1);
  int changes = 0;
  constexpr int kInstants = 200;
  for (int k = 1; k <= kInstants; ++k) {
    const double t = k * kFlickerShortest;
    const double before = slow.At(noise, t - 1e-6, model);
    const double after = slow.At(noise, t + 1e-6, model);
    changes += before != after;
  }
  // With each scale shifted by its own uniform phase, a block edge falls within a
  // microsecond of a multiple only by chance.
  EXPECT_LT(changes, kInstants / 10);
}

}  // namespace
}  // namespace pemra::sim
