// Noise figures read from curves whose lines are known, their units, the imu.yaml they give,
// and the sample-rate detection.

#include <gtest/gtest.h>

#include <cmath>

#include "analysis/ImuYaml.h"
#include "analysis/NoiseFigures.h"
#include "analysis/PowerLawNoise.h"
#include "analysis/SampleRate.h"

namespace pemra {
namespace {

constexpr double kK = 3.464101615137755e-05;  // 0.002 / sqrt(10000 / 3)

NoiseFigure Determined(double value) {
  NoiseFigure f;
  f.determined = true;
  f.value = value;
  return f;
}

// Generated series of known N, B and K at 100 samples per second, 2^17 samples (22
// minutes), on the octave grid. N 3.32e-4 meets the floor 0.664 B (B 1e-3) at 0.25 s; K
// 1.15e-4 meets it at 100 s, so only the last few taus hold the walk, and K is read loosely.
TEST(NoiseFigures, GiveBackTheKnownNoiseOfGeneratedSeriesForEveryType) {
  struct Case {
    const char* name;
    testing::PowerLaw truth;
    double nTolerance;                 // 0: N not determined
    double bTolerance;                 // 0: B not determined
    double kLow, kHigh;                // K / truth, when determined; 0, 0: not determined
    bool kRequired;
  };
  const std::vector<Case> cases = {
      {"white", {3.32e-4, 0, 0}, 0.015, 0, 0, 0, false},
      {"white + random walk", {3.32e-4, 0, 2e-4}, 0.015, 0, 0.85, 1.15, true},
      {"white + flicker + random walk", {3.32e-4, 1e-3, 1.15e-4}, 0.02, 0.04, 0.6, 1.4, false},
      {"flicker", {0, 1e-3, 0}, 0, 0.02, 0, 0, false},
  };
  // Two seeds on the overlapping deviation; the first on every other type too.
  struct Run {
    AllanType type;
    uint64_t seed;
  };
  const std::vector<Run> runs = {{AllanType::Overlapping, 1}, {AllanType::Plain, 1},
                                 {AllanType::Modified, 1},    {AllanType::Hadamard, 1},
                                 {AllanType::Overlapping, 2}};
  for (const Case& c : cases) {
    std::vector<double> y;
    for (const Run& run : runs) {
      SCOPED_TRACE(std::string(c.name) + ", " + std::string(AllanTypeText(run.type)) + ", seed " +
                   std::to_string(run.seed));
      if (run.type == AllanType::Overlapping) y = testing::PowerLawNoise(c.truth, 100.0, 1 << 17, run.seed);
      const NoiseFigures f = FitNoiseFigures(AllanDeviation(y, 100.0, run.type, {}), run.type);
      ASSERT_EQ(f.randomWalk.determined, c.nTolerance > 0) << f.randomWalk.reason;
      if (c.nTolerance > 0) {
        EXPECT_NEAR(f.randomWalk.value / c.truth.n, 1, c.nTolerance);
        EXPECT_LE(f.randomWalk.tauLow, 0.02);  // the modified deviation's m = 1 lies off the line
        EXPECT_LT(f.randomWalk.low, f.randomWalk.value);
        EXPECT_GT(f.randomWalk.high, f.randomWalk.value);
      } else {
        EXPECT_EQ(f.randomWalk.reason, "curve not falling at the shortest tau");
      }
      ASSERT_EQ(f.biasInstability.determined, c.bTolerance > 0) << f.biasInstability.reason;
      if (c.bTolerance > 0) {
        EXPECT_NEAR(f.biasInstability.value / c.truth.b, 1, c.bTolerance);
        EXPECT_EQ(f.biasInstability.alpha, -1);
      } else {
        EXPECT_FALSE(f.biasInstability.reason.empty());
      }
      if (c.kRequired) {
        ASSERT_TRUE(f.rateRandomWalk.determined) << f.rateRandomWalk.reason;
      }
      if (c.kHigh == 0) {
        EXPECT_FALSE(f.rateRandomWalk.determined) << f.rateRandomWalk.value;
      } else if (f.rateRandomWalk.determined) {
        EXPECT_GE(f.rateRandomWalk.value / c.truth.k, c.kLow);
        EXPECT_LE(f.rateRandomWalk.value / c.truth.k, c.kHigh);
      }
      // The minimum deviation is always there, inside its interval.
      ASSERT_TRUE(f.minimum.determined);
      EXPECT_LE(f.minimum.low, f.minimum.value);
      EXPECT_GE(f.minimum.high, f.minimum.value);
    }
  }
}

// Curves made by hand on an octave grid from 0.01 s, white noise of N 0.02 exactly, with two
// kinds of bump the identification may call flicker: one point alone (less than an octave),
// and two points only 5% above the white line (a floor of 9% of the variance, within what a
// crossing of white noise and random walk gives). Neither is a flicker floor.
TEST(NoiseFigures, BumpsOnTheWhiteLineAreNoFloor) {
  struct Case {
    const char* name;
    std::vector<size_t> flicker;  // points identified as flicker
    double raise;                 // their deviation over the white line
    double edf;
  };
  const std::vector<Case> cases = {
      {"one point", {8}, 1.5, 100},
      {"two points barely above", {8, 9}, 1.05, 1e6},
  };
  for (const Case& c : cases) {
    std::vector<AllanPoint> points;
    for (int i = 0; i < 12; ++i) {
      AllanPoint p;
      p.m = int64_t(1) << i;
      p.tau = 0.01 * static_cast<double>(p.m);
      p.deviation = 0.02 / std::sqrt(p.tau);
      p.edf = c.edf;
      for (size_t f : c.flicker)
        if (f == static_cast<size_t>(i)) {
          p.deviation *= c.raise;
          p.noise.alpha = -1;
        }
      const Interval interval = ConfidenceInterval(p.deviation, p.edf);
      p.low = interval.low;
      p.high = interval.high;
      points.push_back(p);
    }
    const NoiseFigures f = FitNoiseFigures(points);
    EXPECT_FALSE(f.biasInstability.determined) << c.name << ": " << f.biasInstability.value;
    ASSERT_TRUE(f.randomWalk.determined) << c.name;
    EXPECT_NEAR(f.randomWalk.value, 0.02, 1e-9) << c.name;
  }
  // A curve that rises over its first taus (a filter ahead of the output) before the white
  // line: that rise, even identified as random walk, is no rate random walk.
  std::vector<AllanPoint> filtered;
  for (int i = 0; i < 12; ++i) {
    AllanPoint p;
    p.m = int64_t(1) << i;
    p.tau = 0.01 * static_cast<double>(p.m);
    p.deviation = i == 0 ? 0.1 : i == 1 ? 0.12 : 0.02 / std::sqrt(p.tau);
    p.noise.alpha = i < 2 ? -2 : 0;
    p.edf = 100;
    const Interval interval = ConfidenceInterval(p.deviation, p.edf);
    p.low = interval.low;
    p.high = interval.high;
    filtered.push_back(p);
  }
  const NoiseFigures f = FitNoiseFigures(filtered);
  EXPECT_TRUE(f.randomWalk.determined);
  EXPECT_FALSE(f.rateRandomWalk.determined) << f.rateRandomWalk.value;
  EXPECT_EQ(f.rateRandomWalk.reason, "no stretch of rate random walk");
}

// White noise through a moving average of L samples, as a sensor's digital filter gives its
// output: the density stays N, but the Allan deviation falls below the -1/2 line by the
// factor sqrt(1 - c / m) for m >= L, c = (L^2 - 1) / (2 L) (1.875 for 4 taps, 7.96875 for 16).
// N = 0.020963 deg/s*sqrt(s) (0.6 deg/s per sample at 819.2 samples per second, 1.2578
// deg/sqrt(h)), 2^18 samples (5 minutes). Read on the raw line it comes out 3 to 6% low.
TEST(NoiseFigures, WhiteNoiseBehindAMovingAverageGivesBackItsDensity) {
  constexpr double kRate = 819.2, kN = 0.020963;
  struct Case {
    int taps;
    uint64_t seed;
  } cases[] = {{1, 3}, {4, 3}, {4, 4}, {16, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.taps) + " taps, seed " + std::to_string(c.seed));
    const std::vector<double> draws = testing::PowerLawNoise({kN, 0, 0}, kRate, (1 << 18) + 15, c.seed);
    std::vector<double> y(1 << 18);
    double sum = 0;
    for (size_t i = 0; i < draws.size(); ++i) {
      sum += draws[i];
      if (i >= size_t(c.taps)) sum -= draws[i - size_t(c.taps)];
      if (i >= 15) y[i - 15] = sum / c.taps;
    }
    const NoiseFigure n = FitNoiseFigures(AllanDeviation(y, kRate, AllanType::Overlapping, {})).randomWalk;
    ASSERT_TRUE(n.determined) << n.reason;
    EXPECT_NEAR(n.value / kN, 1, 0.01);
    EXPECT_LT(n.low, kN * 1.01);
    EXPECT_GT(n.high, kN * 0.99);
  }
}

TEST(NoiseFigures, ShortLogsSayWhyAFigureIsNotDetermined) {
  struct Case {
    size_t samples;
    std::string bReason;
  };
  // 300 rows of white noise: the curve falls to its end; 5 rows: two taus only.
  const std::vector<Case> cases = {{300, "curve still falling at the longest tau"},
                                   {5, "log shorter than 3 taus"}};
  for (const Case& c : cases) {
    const auto y = testing::PowerLawNoise({3.32e-4, 0, 0}, 100.0, c.samples, 7);
    const NoiseFigures f = FitNoiseFigures(AllanDeviation(y, 100.0, AllanType::Overlapping, {}));
    EXPECT_FALSE(f.biasInstability.determined) << c.samples;
    EXPECT_EQ(f.biasInstability.reason, c.bReason);
    EXPECT_FALSE(f.rateRandomWalk.determined);
    EXPECT_TRUE(f.minimum.determined);
  }
  // A constant log has no deviation to read.
  const NoiseFigures flat = FitNoiseFigures(
      AllanDeviation(std::vector<double>(100, 0.5), 100.0, AllanType::Overlapping, {}));
  EXPECT_FALSE(flat.minimum.determined);
  EXPECT_EQ(flat.randomWalk.reason, "no deviation to read (the log is constant or too short)");
}

TEST(NoiseFigures, StatesGyroAndAccelerometerFiguresInDataSheetUnits) {
  struct Case {
    ColumnKind kind;
    std::string unit;
    double value[3];  // N, B, K in the data's units
    std::string text[3];
    std::string names[3];
  };
  const std::vector<Case> cases = {
      {ColumnKind::Gyro, "deg/s", {0.02, 0.002 / 0.664, kK}, {"1.2", "10.84", "7.482"},
       {"deg/sqrt(h)", "deg/h", "deg/h/sqrt(h)"}},
      {ColumnKind::Accel, "g", {1e-4, 3e-4, 2e-5}, {"0.05884", "0.3", "42.36"},
       {"m/s/sqrt(h)", "mg", "m/s/h/sqrt(h)"}},
      {ColumnKind::Gyro, "LSB", {2, 3, 4}, {"2", "3", "4"},
       {"LSB*sqrt(s)", "LSB", "LSB/sqrt(s)"}},
  };
  for (const Case& c : cases) {
    const FigureUnits u = UnitsFor(c.kind, c.unit);
    const FigureUnit* units[3] = {&u.n, &u.b, &u.k};
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(units[i]->name, c.names[i]);
      EXPECT_EQ(FigureText(Determined(c.value[i]), units[i]->factor), c.text[i]);
    }
  }
  EXPECT_EQ(FigureText(NoiseFigure{}, 60), "not determined");
}

TEST(ImuYaml, WritesTheMeanOverTheAxesInSiUnitsAndNamesWhatIsMissing) {
  NoiseFigure noWalk;
  noWalk.reason = "no stretch of rate random walk";
  const auto axis = [](const char* title, ColumnKind kind, NoiseFigure n, NoiseFigure b,
                       NoiseFigure k) {
    NoiseFigures f;
    f.randomWalk = n;
    f.biasInstability = b;
    f.rateRandomWalk = k;
    return AxisFigures{title, kind, f};
  };
  std::vector<AxisFigures> axes = {
      axis("X Gryo", ColumnKind::Gyro, Determined(0.02), Determined(0.002 / 0.664), Determined(kK)),
      axis("Y Gyro", ColumnKind::Gyro, Determined(0.04), NoiseFigure{}, Determined(3 * kK)),
      axis("X acc", ColumnKind::Accel, Determined(1e-4), Determined(3e-4), Determined(2e-5)),
  };
  std::vector<std::string> missing;
  EXPECT_EQ(ImuYamlText("DATALOG_1.csv DATALOG_2.csv", axes, 819.2, &missing),
            "# noise model from DATALOG_1.csv DATALOG_2.csv (overlapping Allan deviation; noise "
            "identified by lag-1 autocorrelation (B1 ratio where few averages remain), 68% "
            "intervals from Greenhall's degrees of freedom, figures by IEEE Std 952 Annex C); "
            "X Gryo: N 1.2 deg/sqrt(h), B 10.84 deg/h, K 7.482 deg/h/sqrt(h); "
            "Y Gyro: N 2.4 deg/sqrt(h), B not determined deg/h, K 22.45 deg/h/sqrt(h); "
            "X acc: N 0.05884 m/s/sqrt(h), B 0.3 mg, K 42.36 m/s/h/sqrt(h)\n"
            "gyroscope_noise_density: 5.235988e-04\n"
            "gyroscope_random_walk: 1.209200e-06\n"
            "accelerometer_noise_density: 9.806650e-04\n"
            "accelerometer_random_walk: 1.961330e-04\n"
            "rostopic: /imu0/data\n"
            "update_rate: 819.2\n");
  EXPECT_TRUE(missing.empty());
  // One gyro axis without K: the key is missing, with the axis and its reason; no
  // accelerometer axis: both of its keys are.
  axes[1].figures.rateRandomWalk = noWalk;
  axes.pop_back();
  const std::string text = ImuYamlText("L", axes, 100, &missing, AllanType::Modified);
  EXPECT_NE(text.find("gyroscope_random_walk: .nan\n"), std::string::npos);
  EXPECT_NE(text.find("(modified Allan deviation; "), std::string::npos);
  EXPECT_EQ(missing,
            (std::vector<std::string>{"gyroscope_random_walk (Y Gyro: no stretch of rate random walk)",
                                      "accelerometer_noise_density (no accelerometer column)",
                                      "accelerometer_random_walk (no accelerometer column)"}));
}

TEST(SampleRate, ComesFromTheRateGivenTheHeaderOrTheTimeColumn) {
  struct Case {
    const char* name;
    std::optional<double> given;
    std::optional<double> begin, end;  // seconds since midnight, both files
    std::optional<double> firstTime, lastTime;
    int64_t rows;  // per file (two files)
    std::vector<int64_t> zeros;
    double rate;
    RateSource source;
    std::vector<std::string> warnings;
  };
  const std::string noBurst =
      " per second, not at a rate the sensor samples at (nearest 327.6808): a log taken without "
      "burst reads? The analysis assumes one row per sensor sample";
  const std::vector<Case> cases = {
      {"given", 100.0, 10.0, 20.0, 0.0, 9.0, 1000, {0, 0}, 100, RateSource::Given, {}},
      // 2 x 8192 rows over 2 x 10 s.
      {"header", std::nullopt, 100.0, 110.0, 0.0, 1.0, 8192, {0, 0}, 819.2, RateSource::Header, {}},
      // A file that spans midnight: 86399 to 9 is 10 s.
      {"midnight", std::nullopt, 86399.0, 9.0, std::nullopt, std::nullopt, 8192, {0, 0}, 819.2,
       RateSource::Header, {}},
      // 2 x 4097 rows, 5 s from the first row's start to the last one's.
      {"time column", std::nullopt, std::nullopt, std::nullopt, 0.0, 5.0, 4097, {0, 0}, 819.2,
       RateSource::TimeColumn, {}},
      {"not one row per sample", std::nullopt, 0.0, 10.0, std::nullopt, std::nullopt, 3180, {0, 25},
       318, RateSource::Header,
       {"column XgND holds 0 in 25 of 6360 rows: the rows are not one per sensor sample, and the "
        "analysis assumes evenly spaced samples",
        "the rows come at 318" + noBurst}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogLayout layout;
    layout.columns = {{"Sample #", ColumnKind::SampleNumber, 0, ""},
                      {"XgND", ColumnKind::NewData, 2, ""}};
    LogSeries series;
    series.newDataZeros = c.zeros;
    for (int f = 1; f <= 2; ++f) {
      layout.files.push_back({"L_" + std::to_string(f) + ".csv", 0, c.begin.has_value(), 7,
                              c.begin, c.end});
      series.files.push_back({c.rows, c.firstTime, c.lastTime});
    }
    SampleRate rate;
    const auto error = DetectSampleRate(layout, series, c.given, rate);
    ASSERT_FALSE(error) << error->Text();
    EXPECT_NEAR(rate.samplesPerSecond, c.rate, 1e-9);
    EXPECT_EQ(rate.source, c.source);
    EXPECT_EQ(rate.warnings, c.warnings);
  }
  LogLayout layout;
  layout.files.push_back({"L_1.csv", 0, false, 0, std::nullopt, std::nullopt});
  LogSeries series;
  series.files.push_back({100, std::nullopt, std::nullopt});
  SampleRate rate;
  const auto error = DetectSampleRate(layout, series, std::nullopt, rate);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->Text(), "L_1.csv: tells no sample rate (no header and no time column): give the rate");
}

}  // namespace
}  // namespace pemra
