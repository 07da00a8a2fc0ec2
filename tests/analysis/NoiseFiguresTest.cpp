// Noise figures read from curves whose lines are known, their units, the imu.yaml they give,
// and the sample-rate detection.

#include <gtest/gtest.h>

#include <cmath>

#include "analysis/ImuYaml.h"
#include "analysis/NoiseFigures.h"
#include "analysis/SampleRate.h"

namespace pemra {
namespace {

// An octave grid from 0.01 s with sigma(tau) = max(N / sqrt(tau), F, K sqrt(tau / 3)): each
// process alone where it dominates, so the lines are exact.
std::vector<AllanPoint> Curve(double n, double floor, double k, int octaves) {
  std::vector<AllanPoint> points;
  for (int i = 0; i < octaves; ++i) {
    AllanPoint p;
    p.tau = 0.01 * std::pow(2.0, i);
    p.deviation = std::max({n / std::sqrt(p.tau), floor, k * std::sqrt(p.tau / 3)});
    p.edf = 100;
    points.push_back(p);
  }
  return points;
}

constexpr double kK = 3.464101615137755e-05;  // 0.002 / sqrt(10000 / 3): meets the floor at 10000 s

TEST(NoiseFigures, ReadsTheLinesAndTheFloorOrSaysNotDetermined) {
  struct Case {
    const char* name;
    std::vector<AllanPoint> curve;
    std::optional<double> n, b, k;
    double nLow, nHigh, bTau, kLow;
  };
  std::vector<AllanPoint> noisyEnd = Curve(0.02, 0, 0, 16);
  noisyEnd.back().deviation *= 1.6;
  // A floor whose last two points, of 3 degrees of freedom each, rise by 1.25 per octave:
  // near +1/2 for their scatter, but no rise the curve can be seen to make.
  std::vector<AllanPoint> scatteredRise = Curve(0.02, 0.002, 0, 18);
  for (size_t i : {size_t{16}, size_t{17}}) scatteredRise[i].edf = 3;
  scatteredRise[16].deviation = 0.002 * 1.25;
  scatteredRise[17].deviation = 0.002 * 1.5625;
  const std::vector<Case> cases = {
      // White noise only: the curve never leaves its -1/2 line.
      {"white", Curve(0.02, 0, 0, 16), 0.02, std::nullopt, std::nullopt, 0.01, 327.68, 0, 0},
      // A last point that scatters upwards is no floor: the curve fell into the minimum at
      // -1/2.
      {"white, scattered end", noisyEnd, 0.02, std::nullopt, std::nullopt, 0.01, 163.84, 0, 0},
      {"floor, scattered rise", scatteredRise, 0.02, 0.002 / 0.664, std::nullopt, 0.01, 81.92,
       163.84, 0},
      // All three: floor from 163.84 s (white falls below 0.002 at 100 s), random walk from
      // 10000 s. The minimum is the first point of the floor.
      {"three", Curve(0.02, 0.002, kK, 24), 0.02, 0.002 / 0.664, kK, 0.01, 81.92, 163.84, 10485.76},
      // The floor lies beyond the log's end: still falling, no B; nor K.
      {"short", Curve(0.02, 0.002, kK, 12), 0.02, std::nullopt, std::nullopt, 0.01, 20.48, 0, 0},
      // Random walk alone: rising from the first point, no N and no B.
      {"walk", Curve(0, 0, 0.01, 10), std::nullopt, std::nullopt, 0.01, 0, 0, 0, 0.01},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const NoiseFigures f = FitNoiseFigures(c.curve);
    ASSERT_EQ(f.randomWalk.determined, c.n.has_value());
    ASSERT_EQ(f.biasInstability.determined, c.b.has_value());
    ASSERT_EQ(f.rateRandomWalk.determined, c.k.has_value());
    if (c.n) {
      EXPECT_NEAR(f.randomWalk.value / *c.n, 1, 1e-12);
      EXPECT_DOUBLE_EQ(f.randomWalk.tauLow, c.nLow);
      EXPECT_DOUBLE_EQ(f.randomWalk.tauHigh, c.nHigh);
    }
    if (c.b) {
      EXPECT_NEAR(f.biasInstability.value / *c.b, 1, 1e-12);
      EXPECT_DOUBLE_EQ(f.biasInstability.tauLow, c.bTau);
    }
    if (c.k) {
      EXPECT_NEAR(f.rateRandomWalk.value / *c.k, 1, 1e-12);
      EXPECT_DOUBLE_EQ(f.rateRandomWalk.tauLow, c.kLow);
    }
  }
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
      EXPECT_EQ(FigureText(NoiseFigure{true, c.value[i], 0, 0}, units[i]->factor), c.text[i]);
    }
  }
  EXPECT_EQ(FigureText(NoiseFigure{}, 60), "not determined");
}

TEST(ImuYaml, WritesTheMeanOverTheAxesInSiUnits) {
  const NoiseFigure none;
  std::vector<AxisFigures> axes = {
      {"X Gryo", ColumnKind::Gyro, {{true, 0.02, 0, 0}, {true, 0.002 / 0.664, 0, 0}, {true, kK, 0, 0}}},
      {"Y Gyro", ColumnKind::Gyro, {{true, 0.04, 0, 0}, none, none}},
      {"X acc", ColumnKind::Accel, {{true, 1e-4, 0, 0}, {true, 3e-4, 0, 0}, {true, 2e-5, 0, 0}}},
  };
  std::vector<std::string> missing;
  EXPECT_EQ(ImuYamlText("DATALOG_1.csv DATALOG_2.csv", axes, 819.2, &missing),
            "# noise model from DATALOG_1.csv DATALOG_2.csv; "
            "X Gryo: N 1.2 deg/sqrt(h), B 10.84 deg/h, K 7.482 deg/h/sqrt(h); "
            "Y Gyro: N 2.4 deg/sqrt(h), B not determined deg/h, K not determined deg/h/sqrt(h); "
            "X acc: N 0.05884 m/s/sqrt(h), B 0.3 mg, K 42.36 m/s/h/sqrt(h)\n"
            "gyroscope_noise_density: 5.235988e-04\n"
            "gyroscope_random_walk: 6.045998e-07\n"
            "accelerometer_noise_density: 9.806650e-04\n"
            "accelerometer_random_walk: 1.961330e-04\n"
            "update_rate: 819.2\n");
  EXPECT_TRUE(missing.empty());
  axes.pop_back();
  EXPECT_NE(ImuYamlText("L", axes, 100, &missing).find("accelerometer_random_walk: .nan\n"),
            std::string::npos);
  EXPECT_EQ(missing, (std::vector<std::string>{"accelerometer_noise_density",
                                               "accelerometer_random_walk"}));
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
