// Noise identification against series of known noise (lag-1 autocorrelation where enough
// averages remain, the B1 ratio where few do), the B1 ratio's expected values, and the
// figures read from generated curves of known N, B and K for every deviation type.

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

#include "analysis/AllanDeviation.h"
#include "analysis/NoiseFigures.h"
#include "analysis/NoiseIdentification.h"
#include "analysis/PowerLawNoise.h"

namespace pemra {
namespace {

using testing::PowerLaw;
using testing::PowerLawNoise;

std::vector<double> RunningSums(const std::vector<double>& y) {
  std::vector<double> x(y.size() + 1, 0.0);
  std::partial_sum(y.begin(), y.end(), x.begin() + 1);
  return x;
}

TEST(NoiseIdentification, TheB1RatioHasItsPublishedExpectedValues) {
  // B1(N, mu) = N (1 - N^mu) / (2 (N - 1) (1 - 2^mu)); mu = 0: N ln N / (2 (N - 1) ln 2).
  struct Case {
    int64_t n;
    int mu;
    double b1;
  };
  const std::vector<Case> cases = {
      {10, -2, 11.0 / 15}, {10, -1, 1.0}, {10, 0, 1.8455156082707571}, {10, 1, 5.0},
      {20, -2, 0.7}, {20, 0, 2.274698997309138}, {20, 1, 10.0},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(ExpectedB1(c.n, c.mu), c.b1, 1e-12) << "N " << c.n << " mu " << c.mu;
}

TEST(NoiseIdentification, FindsTheNoiseOfSeriesOfKnownNoise) {
  // 8192 samples: m = 4 leaves 2048 averages (lag-1 autocorrelation), m = 512 leaves 16
  // (B1 ratio). Four seeds each; every one must come out right at m = 4; at m = 512 the B1
  // ratio of 16 averages, a weak test, may miss twice.
  struct Case {
    const char* name;
    PowerLaw truth;
    bool phase;  // differences of white noise: white phase noise
    int alpha;
    int b1Alpha;  // the B1 ratio looks for rate noises only: white phase reads as white
  };
  const std::vector<Case> cases = {
      {"white", {1, 0, 0}, false, 0, 0},
      {"flicker", {0, 1, 0}, false, -1, -1},
      {"random walk", {0, 0, 1}, false, -2, -2},
      {"white phase", {1, 0, 0}, true, 2, 0},
  };
  for (const Case& c : cases) {
    int b1Right = 0;
    for (uint64_t seed = 1; seed <= 4; ++seed) {
      std::vector<double> y = PowerLawNoise(c.truth, 1.0, 8193, seed);
      if (c.phase)
        for (size_t i = 0; i + 1 < y.size(); ++i) y[i] = y[i + 1] - y[i];
      y.pop_back();
      const std::vector<double> x = RunningSums(y);
      const NoiseId lag = IdentifyNoise(x, 4, 2);
      EXPECT_EQ(lag.method, NoiseIdMethod::LagOneAutocorrelation);
      EXPECT_EQ(lag.alpha, c.alpha) << c.name << " seed " << seed << " p " << lag.estimate;
      const NoiseId b1 = IdentifyNoise(x, 512, 2);
      EXPECT_EQ(b1.method, NoiseIdMethod::B1Ratio);
      b1Right += b1.alpha == c.b1Alpha;
    }
    EXPECT_GE(b1Right, 2) << c.name;
  }
}

TEST(NoiseIdentification, CarriesThePreviousNoiseWhereTooFewAveragesRemain) {
  const std::vector<double> x = RunningSums(PowerLawNoise({1, 0, 0}, 1.0, 100, 3));
  const NoiseId previous{-2, -2.1, NoiseIdMethod::B1Ratio};
  const NoiseId carried = IdentifyNoise(x, 30, 2, &previous);
  EXPECT_EQ(carried.method, NoiseIdMethod::Carried);
  EXPECT_EQ(carried.alpha, -2);
  // The Allan deviations hold alpha to -2 .. 2: a flicker walk reads as random walk.
  std::vector<double> walk2 = PowerLawNoise({0, 0, 1}, 1.0, 4096, 5);
  std::partial_sum(walk2.begin(), walk2.end(), walk2.begin());
  EXPECT_EQ(IdentifyNoise(RunningSums(walk2), 2, 2).alpha, -2);
  EXPECT_EQ(IdentifyNoise(RunningSums(walk2), 2, 3).alpha, -4);
}

}  // namespace
}  // namespace pemra
