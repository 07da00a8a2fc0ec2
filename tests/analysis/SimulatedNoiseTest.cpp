// The simulated sensor's noise processes, each alone, analysed as a log would be: the
// Allan deviation gives back the figures they were set to, and the bias-instability floor
// is flat over two decades.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "analysis/AllanDeviation.h"
#include "analysis/NoiseFigures.h"
#include "sim/NoiseProcesses.h"

namespace pemra {
namespace {

// `samples` of one axis at `rate` per second: its slow processes, plus white noise of
// density model.randomWalk (one draw per sample, as the sensor at one tap).
std::vector<double> Slow(const sim::NoiseModel& model, double rate, int64_t samples,
                         uint64_t seed = 1, int axis = 0) {
  sim::NoiseSource noise(seed);
  sim::SlowNoise slow(axis);
  std::vector<double> y(static_cast<size_t>(samples));
  const double white = model.randomWalk * std::sqrt(rate);
  for (int64_t k = 0; k < samples; ++k)
    y[size_t(k)] = slow.At(noise, double(k) / rate, model) + white * noise.Gaussian(99, k);
  return y;
}

TEST(SimulatedNoise, TheBiasInstabilityFloorIsFlatOverTwoDecades) {
  // B = 50 deg/h: the floor lies at 0.664 * 50 / 3600 = 0.0092222 deg/s. 200 000 s at 20
  // samples per second: the points up to 200 s average hundreds of independent stretches.
  const auto points = AllanDeviation(Slow({0, 50.0 / 3600.0, 0}, 20.0, 4000000), 20.0,
                                     AllanType::Overlapping,
                                     TauGrid{TauGridKind::List, {1, 2, 5, 10, 20, 50, 100, 200}});
  ASSERT_EQ(points.size(), 8u);
  for (const AllanPoint& p : points)
    EXPECT_NEAR(p.deviation / 0.0092222, 1.0, 0.05) << "tau " << p.tau;
}

TEST(SimulatedNoise, EachProcessAloneGivesBackItsFigure) {
  struct Case {
    const char* name;
    sim::NoiseModel model;
    double rate;
    int64_t samples;
    double n, b, k;  // 0: not determined
    double tolerance;
  };
  const std::vector<Case> cases = {
      // The random walk alone: K = 0.01 deg/s/sqrt(s) (2160 deg/h/sqrt(h)), no N, no B.
      {"random walk", {0, 0, 0.01}, 10.0, 2000000, 0, 0, 0.01, 0.1},
      // All three, apart: white noise meets the bias-instability floor at 1 s, the walk meets
      // it at 1000 s (55 hours at 20 samples per second).
      {"all three", {0.0092222, 50.0 / 3600.0, 5.05e-4}, 20.0, 4000000, 0.0092222, 50.0 / 3600.0,
       5.05e-4, 0.15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto figures = FitNoiseFigures(
        AllanDeviation(Slow(c.model, c.rate, c.samples), c.rate, AllanType::Overlapping, {}));
    EXPECT_EQ(figures.randomWalk.determined, c.n != 0);
    EXPECT_EQ(figures.biasInstability.determined, c.b != 0);
    EXPECT_EQ(figures.rateRandomWalk.determined, c.k != 0);
    if (c.n != 0) {
      EXPECT_NEAR(figures.randomWalk.value / c.n, 1.0, c.tolerance);
    }
    if (c.b != 0) {
      EXPECT_NEAR(figures.biasInstability.value / c.b, 1.0, c.tolerance);
    }
    if (c.k != 0) {
      EXPECT_NEAR(figures.rateRandomWalk.value / c.k, 1.0, c.tolerance);
    }
  }
}

TEST(SimulatedNoise, TheSeedFixesEveryValue) {
  const sim::NoiseModel model{0, 50.0 / 3600.0, 0.001};
  const auto a = Slow(model, 100.0, 2000, 7, 1);
  EXPECT_EQ(a, Slow(model, 100.0, 2000, 7, 1));
  EXPECT_NE(a, Slow(model, 100.0, 2000, 8, 1));
  EXPECT_NE(a, Slow(model, 100.0, 2000, 7, 2));
  // A value read on its own equals the one read in sequence (nothing depends on history).
  sim::NoiseSource noise(7);
  sim::SlowNoise alone(1);
  EXPECT_EQ(alone.At(noise, 1999 / 100.0, model), a.back());
}

}  // namespace
}  // namespace pemra
