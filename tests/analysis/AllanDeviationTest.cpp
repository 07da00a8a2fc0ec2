// Allan deviations against the published test data of the NIST Handbook of Frequency
// Stability Analysis (SP 1065, its tables of the 9-point and 1000-point test sets), the
// degrees of freedom against worked examples, and the chi-square quantiles against tables.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "analysis/AllanDeviation.h"

namespace pemra {
namespace {

// The handbook's 9-point fractional-frequency set.
const std::vector<double> kNine = {892, 809, 823, 798, 671, 644, 883, 903, 677};

// The handbook's 1000-point set: n(i+1) = 16807 n(i) mod 2147483647 from n(0) = 1234567890,
// each value n / 2147483647.
std::vector<double> Thousand() {
  std::vector<double> y;
  uint64_t n = 1234567890;
  for (int i = 0; i < 1000; ++i) {
    y.push_back(static_cast<double>(n) / 2147483647.0);
    n = (16807 * n) % 2147483647;
  }
  return y;
}

struct Published {
  const char* set;
  AllanType type;
  std::vector<double> taus;
  std::vector<double> deviations;
  std::vector<int64_t> terms;
};

TEST(AllanDeviation, AgreesWithThePublishedTestSetsToOnePartInAMillion) {
  const std::vector<Published> cases = {
      {"9", AllanType::Plain, {1, 2}, {91.22945, 115.8082}, {8, 3}},
      {"9", AllanType::Overlapping, {1, 2}, {91.22945, 85.95287}, {8, 6}},
      {"9", AllanType::Modified, {1, 2}, {91.22945, 74.78849}, {8, 5}},
      {"9", AllanType::Hadamard, {1, 2}, {70.80607, 85.61487}, {7, 4}},
      {"1000", AllanType::Plain, {1, 10, 100}, {2.922319e-01, 9.965736e-02, 3.897804e-02},
       {999, 99, 9}},
      {"1000", AllanType::Overlapping, {1, 10, 100}, {2.922319e-01, 9.159953e-02, 3.241343e-02},
       {999, 981, 801}},
      {"1000", AllanType::Modified, {1, 10, 100}, {2.922319e-01, 6.172376e-02, 2.170921e-02},
       {999, 972, 702}},
  };
  const std::vector<double> thousand = Thousand();
  // The first values of the generator, as the handbook lists them.
  ASSERT_DOUBLE_EQ(thousand[1] * 2147483647.0, 395529916.0);
  ASSERT_DOUBLE_EQ(thousand[2] * 2147483647.0, 1209410747.0);
  ASSERT_DOUBLE_EQ(thousand[3] * 2147483647.0, 633705974.0);
  for (const Published& c : cases) {
    SCOPED_TRACE(std::string(c.set) + " points, " + std::string(AllanTypeText(c.type)));
    const std::vector<double>& y = std::string(c.set) == "9" ? kNine : thousand;
    const auto points = AllanDeviation(y, 1.0, c.type, TauGrid{TauGridKind::List, c.taus});
    ASSERT_EQ(points.size(), c.taus.size());
    for (size_t i = 0; i < points.size(); ++i) {
      EXPECT_DOUBLE_EQ(points[i].tau, c.taus[i]);
      EXPECT_NEAR(points[i].deviation / c.deviations[i], 1.0, 1e-6) << "tau " << c.taus[i];
      EXPECT_EQ(points[i].terms, c.terms[i]) << "tau " << c.taus[i];
      EXPECT_LT(points[i].low, points[i].deviation);
      EXPECT_GT(points[i].high, points[i].deviation);
    }
  }
}

TEST(AllanDeviation, TauGridsListTheirAveragingFactors) {
  struct Case {
    TauGrid grid;
    int64_t samples;
    AllanType type;
    std::vector<int64_t> factors;
    std::vector<double> outOfRange;
  };
  const std::vector<Case> cases = {
      {{TauGridKind::Octave, {}}, 100, AllanType::Overlapping, {1, 2, 4, 8, 16, 32}, {}},
      // N / 2 a power of two: the longest tau, where K is read, is on the grid.
      {{TauGridKind::Octave, {}}, 128, AllanType::Overlapping, {1, 2, 4, 8, 16, 32, 64}, {}},
      {{TauGridKind::Octave, {}}, 12, AllanType::Hadamard, {1, 2, 4}, {}},
      {{TauGridKind::Octave, {}}, 9, AllanType::Modified, {1, 2}, {}},
      {{TauGridKind::Decade, {}}, 1000, AllanType::Overlapping, {1, 2, 5, 10, 20, 50, 100, 200, 500}, {}},
      {{TauGridKind::Decade, {}}, 1000, AllanType::Modified, {1, 2, 5, 10, 20, 50, 100, 200}, {}},
      {{TauGridKind::All, {}}, 9, AllanType::Plain, {1, 2, 3, 4}, {}},
      {{TauGridKind::List, {0.5, 0.01, 0.1, 0.024, 20}}, 1000, AllanType::Overlapping,
       {1, 2, 10, 50}, {20}},
  };
  for (const Case& c : cases) {
    std::vector<double> outOfRange;
    // The list's taus are seconds: at 100 samples per second 0.024 s rounds to m = 2.
    const double rate = c.grid.kind == TauGridKind::List ? 100.0 : 10.0;
    EXPECT_EQ(AveragingFactors(c.grid, c.samples, rate, c.type, &outOfRange), c.factors);
    EXPECT_EQ(outOfRange, c.outOfRange);
  }
}

TEST(AllanDeviation, DegreesOfFreedomForWhiteNoiseFollowTheWorkedExamples) {
  // Plain: back-to-back terms, each correlated with its neighbours by -1/2:
  //   edf = 2K^2 / (3K - 1); K = 3 gives 18 / 8.
  // Overlapping, m = 2, 6 terms: kernel correlation 4, 1, -2, -1 at lags 0..3:
  //   edf = 36 * 16 / (6 * 16 + 2 * (5 * 1 + 4 * 4 + 3 * 1)) = 576 / 144.
  // Modified, m = 2, 5 terms: kernel -1 -2 0 2 1, correlation 10, 4, -4, -4, -1:
  //   edf = 25 * 100 / (500 + 2 * (4 * 16 + 3 * 16 + 2 * 16 + 1 * 1)) = 2500 / 790.
  // m = 1, 8 terms (all three alike): correlation 2, -1: 64 * 4 / (32 + 2 * 7) = 256 / 46.
  // Modified at m = 300 and 4500: the kernel's correlation summed term by term, in integers
  // (a separate script), 10.281573173725471 and 22.089423264933185.
  struct Case {
    AllanType type;
    int64_t m, terms;
    double edf;
  };
  const std::vector<Case> cases = {
      {AllanType::Plain, 2, 3, 2.25},
      {AllanType::Overlapping, 2, 6, 4.0},
      {AllanType::Modified, 2, 5, 2500.0 / 790.0},
      {AllanType::Overlapping, 1, 8, 256.0 / 46.0},
      {AllanType::Modified, 1, 8, 256.0 / 46.0},
      {AllanType::Modified, 300, 3000, 10.281573173725471},
      {AllanType::Modified, 4500, 100000, 22.089423264933185},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(WhiteNoiseEdf(c.type, c.m, c.terms) / c.edf, 1, 1e-7)
        << AllanTypeText(c.type) << " m " << c.m;
  // For many terms the overlapping estimator tends to 3 * terms / (2 * m) (white noise).
  EXPECT_NEAR(WhiteNoiseEdf(AllanType::Overlapping, 64, 1000000) / (3.0 * 1000000 / 128), 1.0,
              0.01);
}

TEST(AllanDeviation, ChiSquareQuantilesMatchTheTables) {
  struct Case {
    double p, dof, quantile, tolerance;
  };
  const std::vector<Case> cases = {
      {0.15865525393145707, 2, 0.3455075580468998, 1e-12},  // -2 ln(1 - p)
      {0.8413447460685429, 2, 3.6820432900185267, 1e-12},
      {0.5, 1, 0.454936, 1e-6},
      {0.95, 1, 3.841459, 1e-6},
      {0.05, 10, 3.940299, 1e-6},
      {0.95, 10, 18.307038, 1e-6},
      {0.01, 20, 8.260398, 1e-6},
      {0.99, 20, 37.566235, 1e-6},
      {0.05, 100, 77.929465, 1e-6},
      {0.95, 100, 124.342113, 1e-6},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(ChiSquareQuantile(c.p, c.dof), c.quantile, c.tolerance * c.quantile)
        << "p " << c.p << " dof " << c.dof;
}

TEST(AllanDeviation, TheIntervalIsTheOneSigmaChiSquareInterval) {
  // Two degrees of freedom: the quantiles are -2 ln(1 - p), so the bounds are
  // sqrt(2 / 3.6820432900185267) and sqrt(2 / 0.3455075580468998) times the deviation.
  const Interval two = ConfidenceInterval(3.0, 2.0);
  EXPECT_NEAR(two.low, 3 * 0.7370052011016303, 1e-12);
  EXPECT_NEAR(two.high, 3 * 2.4059479176293483, 1e-12);
  // No degrees of freedom: no interval.
  EXPECT_EQ(ConfidenceInterval(3.0, 0).high, 0.0);
}

TEST(AllanDeviation, TheDenseGridHasEveryFactorUpToTenToTheFifthThenAHundredPerDecade) {
  // 250 000 samples: m up to 125 000; beyond 100 000 the factors 10^(5 + k / 100), rounded.
  const auto factors = AveragingFactors({TauGridKind::All, {}}, 250000, 100.0,
                                        AllanType::Overlapping);
  ASSERT_EQ(factors.size(), 100009u);
  EXPECT_EQ(factors[99999], 100000);
  EXPECT_EQ(std::vector<int64_t>(factors.begin() + 100000, factors.end()),
            (std::vector<int64_t>{102329, 104713, 107152, 109648, 112202, 114815, 117490,
                                  120226, 123027}));
}

TEST(AllanDeviation, GreenhallDegreesOfFreedomFollowTheWorkedCases) {
  // Worked from the paper's equations 7-10 (the basic sum) and its tables 1 and 2 (large
  // samples, 1 / edf = (a0 - a1 / r) / r), by a separate script:
  // - overlapping, white, m 2, 9 samples: M 6, J 6, the sampled phase (F = m): 3.841897233;
  // - plain, white, m 2, 9 samples: M 3, J 3: 2.370731707;
  // - modified, flicker, m 4, 40 samples: M 30, J 12, F 1: 7.670460279;
  // - Hadamard, random walk, m 3, 60 samples: M 52, J 12: 17.01325813;
  // - overlapping, flicker, m 64, 100 000 samples: r = 99873 / 64, table 2 (0.852, 0.375):
  //   1832.107852;
  // - modified, random walk, m 50, 10 000 samples: r = 9852 / 50, table 1 (1.302, 0.535):
  //   151.6526613;
  // - Hadamard, flicker, m 40, 10 000 samples: r = 9881 / 40, table 2 (0.997, 0.617):
  //   248.3905826.
  struct Case {
    AllanType type;
    int alpha;
    int64_t m, samples;
    double edf;
  };
  const std::vector<Case> cases = {
      {AllanType::Overlapping, 0, 2, 9, 3.841897233201581},
      {AllanType::Plain, 0, 2, 9, 2.3707317073170726},
      {AllanType::Modified, -1, 4, 40, 7.670460279447787},
      {AllanType::Hadamard, -2, 3, 60, 17.01325812954335},
      {AllanType::Overlapping, -1, 64, 100000, 1832.1078521374293},
      {AllanType::Modified, -2, 50, 10000, 151.65266128325382},
      {AllanType::Hadamard, -1, 40, 10000, 248.39058259470625},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(DegreesOfFreedom(c.type, c.alpha, c.m, c.samples) / c.edf, 1, 1e-9)
        << AllanTypeText(c.type) << " alpha " << c.alpha << " m " << c.m;
  // Beyond the estimator's reach: no degrees of freedom.
  EXPECT_EQ(DegreesOfFreedom(AllanType::Overlapping, 0, 5, 9), 0.0);
}

}  // namespace
}  // namespace pemra
