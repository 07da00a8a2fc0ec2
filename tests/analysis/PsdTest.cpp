// The noise spectrum: segment counts, the exact density of a sine at a bin frequency,
// Parseval's sum, the level of white noise of known spread, peaks above the floor, and the
// flat band refused where there is none.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "analysis/Psd.h"

namespace pemra {
namespace {

constexpr double kPi = std::numbers::pi;

std::vector<double> WhiteNoise(size_t samples, double spread, uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::normal_distribution<double> normal(0.0, spread);
  std::vector<double> y(samples);
  for (double& v : y) v = normal(generator);
  return y;
}

TEST(Psd, SegmentsOverlapByHalf) {
  struct Case {
    int64_t samples, segment, hop, count;
  };
  const Case cases[] = {
      {10, 4, 2, 4},   // starts 0, 2, 4, 6
      {10, 10, 5, 1},  // the whole log
      {9, 4, 2, 3},    // the last sample is left out
      {10, 5, 3, 2},   // odd segment: starts 0, 3
      {11, 5, 3, 3},   // starts 0, 3, 6
      {2, 2, 1, 1},
      {3, 4, 2, 0},    // shorter than a segment
      {10, 1, 1, 0},   // no spectrum from one sample
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PsdHop(c.segment), c.hop) << c.segment;
    EXPECT_EQ(PsdSegmentCount(c.samples, c.segment), c.count) << c.samples << " " << c.segment;
  }
  EXPECT_EQ(DefaultPsdSegment(100), 100);
  EXPECT_EQ(DefaultPsdSegment(16384), 16384);
  EXPECT_EQ(DefaultPsdSegment(10000000), 16384);
  const Spectrum s = WelchSpectrum(std::vector<double>(10, 1.0), 8.0, 4);
  EXPECT_EQ(s.segments, 4);
  ASSERT_EQ(s.frequency.size(), 3u);  // DC, 2 Hz, Nyquist
  EXPECT_EQ(s.frequency[2], 4.0);
  EXPECT_TRUE(WelchSpectrum(std::vector<double>(3, 1.0), 8.0, 4).density.empty());
}

// A sine of amplitude A at bin k0 of an N-sample segment at rate fs. The periodic Hann window
// is w_t = 1/2 - 1/4 e^(i 2 pi t/N) - 1/4 e^(-i 2 pi t/N) and the sine
// A/2 e^(i phi) e^(i 2 pi k0 t/N) + its conjugate, so the windowed DFT has |X| = A N/4 at k0
// and A N/8 at k0 +- 1, nothing elsewhere; sum w^2 = 3N/8. One-sided
// S(k0) = 2 |X|^2 / (fs sum w^2) = A^2 N / (3 fs): the sine's power A^2/2 over the window's
// equivalent noise bandwidth, 1.5 bins of fs/N. Its neighbours hold a quarter of it.
TEST(Psd, ASineAtABinGivesItsPowerOverTheHannBandwidth) {
  struct Case {
    double amplitude;
    int k0;
    double phase;
    double peak;       // sqrt(A^2 N / (3 fs)), N = 64, fs = 48
    double frequency;  // k0 * 48 / 64
  };
  const Case cases[] = {
      {3.0, 8, 0.0, 2.0, 6.0},     // S = 9 * 64 / 144 = 4
      {0.75, 12, 1.1, 0.5, 9.0},   // S = 0.5625 * 64 / 144 = 0.25
  };
  for (const Case& c : cases) {
    std::vector<double> y(160);  // segments start at 0, 32, 64, 96
    for (size_t t = 0; t < y.size(); ++t)
      y[t] = 7.5 + c.amplitude * std::cos(2 * kPi * c.k0 * double(t) / 64 + c.phase);
    const Spectrum s = WelchSpectrum(y, 48.0, 64);
    ASSERT_EQ(s.density.size(), 33u);
    EXPECT_EQ(s.segments, 4);
    const auto k = static_cast<size_t>(c.k0);
    EXPECT_DOUBLE_EQ(s.frequency[k], c.frequency);
    EXPECT_NEAR(s.density[k], c.peak, 1e-12);
    EXPECT_NEAR(s.density[k - 1], c.peak / 2, 1e-12);
    EXPECT_NEAR(s.density[k + 1], c.peak / 2, 1e-12);
    EXPECT_LT(s.density[k - 2], 1e-12);  // the mean removed, no leakage beyond the main lobe
    EXPECT_LT(s.density[0], 1e-12);
    const SpectrumSummary summary = SummariseSpectrum(s);
    ASSERT_EQ(summary.peaks.size(), 1u);
    EXPECT_DOUBLE_EQ(summary.peaks[0].frequency, c.frequency);
  }
}

// 1 + 2 cos(2 pi 3 t/16) + 0.5 (-1)^t: variance 2^2/2 + 0.5^2 = 2.25; every segment of 16
// holds whole periods, so the sum of S over the bins times fs/16 gives it exactly, DC and
// Nyquist counted once.
TEST(Psd, ParsevalTheSumOfTheDensityIsTheVariance) {
  std::vector<double> y(32);
  for (size_t t = 0; t < y.size(); ++t)
    y[t] = 1 + 2 * std::cos(2 * kPi * 3 * double(t) / 16) + 0.5 * (t % 2 == 0 ? 1 : -1);
  const Spectrum s = WelchSpectrum(y, 4.0, 16);
  ASSERT_EQ(s.density.size(), 9u);
  EXPECT_EQ(s.segments, 3);
  double sum = 0;
  for (double d : s.density) sum += d * d * s.binWidth;
  EXPECT_NEAR(sum, 2.25, 1e-12);
}

// White noise of spread s at rate fs: one-sided S = 2 s^2 / fs, here 0.5 * sqrt(2/100) =
// 0.0707107 unit/sqrt(Hz). 2^16 samples in segments of 256: 511 segments. Neighbouring
// segments' Hann windows overlap over half their length: sum over t < 128 of
// sin^2 cos^2 (pi t/256) = 256/16 against sum w^2 = 3 * 256/8, a correlation of 1/6, so per
// bin 2 * 511 / (1 + 2 (510/511) / 36) = 968.3 degrees of freedom; bins 1..127, less their
// correlation (1 + 2 (4/9 + 1/36)), give 62750 for bins 2..127 (bin 1 is left out: the
// removal of each segment's mean lowers it): S is known to sqrt(2/62750) = 0.565% and the
// density to 0.28%. The band lies within 1.5% (five standard errors); its 68% interval spans
// 0.565%.
TEST(Psd, WhiteNoiseOfKnownSpreadGivesItsLevel) {
  for (uint64_t seed : {1u, 2u, 3u}) {
    const Spectrum s = WelchSpectrum(WhiteNoise(65536, 0.5, seed), 100.0, 256);
    EXPECT_EQ(s.segments, 511);
    EXPECT_NEAR(s.dof, 968.3, 0.1);
    const SpectrumSummary summary = SummariseSpectrum(s);
    const FlatBand& flat = summary.flat;
    ASSERT_TRUE(flat.determined) << flat.reason;
    EXPECT_NEAR(flat.density / 0.0707107, 1, 0.015) << seed;
    EXPECT_NEAR((flat.high - flat.low) / flat.density, 0.00565, 0.0001) << seed;
    EXPECT_LT(flat.low, flat.density);
    EXPECT_GT(flat.high, flat.density);
    EXPECT_DOUBLE_EQ(flat.frequencyLow, 0.78125);    // bin 2 of 100/256 Hz
    EXPECT_DOUBLE_EQ(flat.frequencyHigh, 49.609375);  // bin 127, the last below Nyquist
    EXPECT_EQ(flat.bins, 126);
    EXPECT_TRUE(summary.peaks.empty()) << summary.peaks[0].frequency;
  }
}

// Two sines in that noise: A = 0.2 at bin 64 (25 Hz) and 0.15 at bin 100 (39.0625 Hz) add
// A^2 * 256 / 300 to the noise's 0.005: S = 0.039133 and 0.0242, densities 0.19782 and
// 0.15556, 7.8 and 4.8 times the floor. Their estimate scatters mostly through the cross term
// of sine and noise, sqrt(2 * 0.0192 * 0.005 / 484) = 0.00063 in S at the smaller (some 484
// independent segments): 1.3% of its density; bounds 6%. The band's level leaves their
// main lobes (five bins each) out.
TEST(Psd, PeaksClearlyAboveTheFloorLargestFirst) {
  std::vector<double> y = WhiteNoise(65536, 0.5, 4);
  for (size_t t = 0; t < y.size(); ++t)
    y[t] += 0.2 * std::sin(2 * kPi * 64 * double(t) / 256) +
            0.15 * std::cos(2 * kPi * 100 * double(t) / 256 + 0.3);
  const SpectrumSummary summary = SummariseSpectrum(WelchSpectrum(y, 100.0, 256));
  ASSERT_EQ(summary.peaks.size(), 2u);
  EXPECT_DOUBLE_EQ(summary.peaks[0].frequency, 25.0);
  EXPECT_NEAR(summary.peaks[0].density / 0.19782, 1, 0.06);
  EXPECT_DOUBLE_EQ(summary.peaks[1].frequency, 39.0625);
  EXPECT_NEAR(summary.peaks[1].density / 0.15556, 1, 0.06);
  EXPECT_NEAR(summary.peaks[1].floor / 0.0707107, 1, 0.05);
  ASSERT_TRUE(summary.flat.determined);
  EXPECT_NEAR(summary.flat.density / 0.0707107, 1, 0.015);
  EXPECT_EQ(summary.flat.bins, 126 - 2 * 5);
}

// Flicker noise, S falling as 1/f: first-order lags of unit variance with time constants of
// 1, 2, 4, ... 2^15 samples add up to a 1/f spectrum between their corners.
std::vector<double> Flicker(size_t samples, uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<double> y(samples, 0.0);
  for (int j = 0; j <= 15; ++j) {
    const double phi = std::exp(-1.0 / std::ldexp(1.0, j));
    double state = normal(generator);
    for (double& v : y) {
      state = phi * state + std::sqrt(1 - phi * phi) * normal(generator);
      v += state;
    }
  }
  return y;
}

TEST(Psd, FlatBandNotDeterminedWithoutOne) {
  std::vector<double> walk = WhiteNoise(16384, 1.0, 5);
  for (size_t t = 1; t < walk.size(); ++t) walk[t] += walk[t - 1];  // S falls as 1/f^2
  struct Case {
    std::vector<double> y;
    int64_t segment;
    const char* reason;
  };
  const Case cases[] = {
      {walk, 16384, "no flat stretch of three octaves"},
      {Flicker(65536, 9), 4096, "no flat stretch of three octaves"},
      {WhiteNoise(1000, 1.0, 7), 1000, "too few samples for three octaves known to 10%"},
      {WhiteNoise(10, 1.0, 8), 2, "too few frequency bins (segment 2 samples)"},
      {WhiteNoise(10, 1.0, 8), 4, "too few frequency bins (segment 4 samples)"},
  };
  for (const Case& c : cases) {
    const SpectrumSummary summary = SummariseSpectrum(WelchSpectrum(c.y, 10.0, c.segment));
    EXPECT_FALSE(summary.flat.determined);
    EXPECT_EQ(summary.flat.reason, c.reason);
  }
  // A still, noiseless log: a flat band of zero, nothing above it.
  const SpectrumSummary still = SummariseSpectrum(WelchSpectrum(std::vector<double>(8192, 2.5), 10.0, 1024));
  ASSERT_TRUE(still.flat.determined) << still.flat.reason;
  EXPECT_EQ(still.flat.density, 0.0);
  EXPECT_TRUE(still.peaks.empty());
}

}  // namespace
}  // namespace pemra
