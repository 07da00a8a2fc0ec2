// Series derived from a log's columns: worked values of the integral (trapezoid), the moving
// average and scale and offset, their units, and the column they add to a log.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "analysis/DerivedSeries.h"
#include "analysis/LogView.h"

namespace pemra {
namespace {

void ExpectValues(const std::vector<double>& got, const std::vector<double>& expected) {
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], expected[i], 1e-12) << "row " << i;
}

TEST(DerivedSeries, IntegralIsTheTrapezoidSumInTheIntegratedUnit) {
  struct Case {
    const char* name;
    std::vector<double> y;
    double rate;
    std::string unit;
    std::string integralUnit;
    std::vector<double> expected;  // worked by hand
  };
  std::vector<double> two(101, 2.0);        // 2 deg/s for 1 s at 100 samples/s
  std::vector<double> oneG(11, 1.0);        // 1 g for 1 s at 10 samples/s
  std::vector<double> twoDeg(101), velocity(11);
  for (size_t i = 0; i < 101; ++i) twoDeg[i] = 0.02 * static_cast<double>(i);
  for (size_t i = 0; i < 11; ++i) velocity[i] = 0.980665 * static_cast<double>(i);
  const std::vector<Case> cases = {
      {"2 deg/s over 1 s: 2 deg", two, 100, "deg/s", "deg", twoDeg},
      {"1 g over 1 s: 9.80665 m/s", oneG, 10, "g", "m/s", velocity},
      // A ramp 0, 1, 2, 3, 4 at 2 samples/s: steps (0+1)/4, (1+2)/4, ... (rectangles would
      // give 0.5, 1.5, 3, 5).
      {"ramp, trapezoid", {0, 1, 2, 3, 4}, 2, "V", "V*s", {0, 0.25, 1.0, 2.25, 4.0}},
      {"raw values", {10, -10, 10}, 1, "LSB", "LSB*s", {0, 0, 0}},
      {"no unit", {1, 3}, 4, "", "s", {0, 0.5}},
      {"one row", {7}, 1, "deg/s", "deg", {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    double factor = 0;
    EXPECT_EQ(IntegralUnit(c.unit, factor), c.integralUnit);
    ExpectValues(Integral(c.y, c.rate, factor), c.expected);
  }
  double factor = 0;
  IntegralUnit("deg/s", factor);
  EXPECT_DOUBLE_EQ(Integral(two, 100, factor).back(), 2.0);
}

TEST(DerivedSeries, MovingAverageAndScaleOffset) {
  ExpectValues(MovingAverage(std::vector<double>{1, 2, 3, 4, 5, 6}, 3), {1, 1.5, 2, 3, 4, 5});
  ExpectValues(MovingAverage(std::vector<double>{4, 8}, 1), {4, 8});
  ExpectValues(MovingAverage(std::vector<double>{4, 8, -6}, 5), {4, 6, 2});
  ExpectValues(ScaleOffset(std::vector<double>{0, 0.5, 3}, 2, -1), {-1, 0, 5});
  // A long run: the running sum keeps the mean of a constant exact to the last row.
  std::vector<double> level(1000000, 0.1);
  level[0] = 1e6;
  const std::vector<double> mean = MovingAverage(level, 10);
  EXPECT_NEAR(mean.back(), 0.1, 1e-12);
}

LoadedLog SmallLog() {
  LoadedLog log;
  log.layout.titles = true;
  log.layout.columns = {{"Sample #", ColumnKind::SampleNumber, 0, ""},
                        {"X Gyro", ColumnKind::Gyro, 2, "deg/s"}};
  log.series.columns = {1};
  log.series.values = {std::vector<double>(101, 2.0)};
  log.series.values[0][100] = 4.0;
  log.series.wholeNumbers = {false};
  log.series.newDataZeros = {0, 0};
  log.series.files = {LogFileRows{101, std::nullopt, std::nullopt}};
  log.samplesPerSecond = 100;
  Summarise(log);
  return log;
}

TEST(DerivedSeries, AddsAColumnWithTitleUnitAndSummary) {
  LoadedLog log = SmallLog();
  size_t slot = 0;
  ASSERT_FALSE(AddDerivedColumn(log, 0, "deg/s", {DerivedKind::Integral}, slot));
  EXPECT_EQ(slot, 1u);
  EXPECT_EQ(log.ColumnTitle(1), "X Gyro integral");
  EXPECT_EQ(log.Column(1).unit, "deg");
  // 99 steps of 0.02 deg, then (2 + 4) / 2 / 100.
  const ColumnStatistics s = log.summaries[1].Statistics(log.series.values[1], {0, 101});
  EXPECT_NEAR(s.max, 2.01, 1e-12);
  EXPECT_EQ(s.count, 101);

  DerivedRecipe mean{DerivedKind::MovingAverage, 2};
  ASSERT_FALSE(AddDerivedColumn(log, 0, "deg/s", mean, slot));
  EXPECT_EQ(log.ColumnTitle(2), "X Gyro mean of 2");
  EXPECT_EQ(log.series.values[2][100], 3.0);
  DerivedRecipe scaled{DerivedKind::ScaleOffset, 1, 0.5, -1};
  ASSERT_FALSE(AddDerivedColumn(log, 2, "deg/s", scaled, slot));
  EXPECT_EQ(log.ColumnTitle(3), "X Gyro mean of 2 x 0.5 + -1");
  EXPECT_EQ(log.series.values[3][100], 0.5);
  EXPECT_EQ(log.Column(3).unit, "deg/s");

  // A new rate: the integral follows it (half the rate, twice the angle).
  log.samplesPerSecond = 50;
  RecomputeDerivedColumns(log);
  EXPECT_NEAR(log.series.values[1][100], 4.02, 1e-12);
  // The first 64 rows are one block of the summary: its maximum is row 63's, 63 x 0.04.
  EXPECT_NEAR(log.summaries[1].Statistics(log.series.values[1], {0, 64}).max, 2.52, 1e-12);
}

TEST(DerivedSeries, RefusesWhatCannotBeDerived) {
  struct Case {
    DerivedRecipe recipe;
    double rate;
    std::string error;
  };
  const std::vector<Case> cases = {
      {{DerivedKind::Integral}, 0,
       "the integral over time needs the sample rate, which this log does not tell"},
      {{DerivedKind::MovingAverage, 0}, 100, "the moving average needs from 1 to 101 rows"},
      {{DerivedKind::MovingAverage, 102}, 100, "the moving average needs from 1 to 101 rows"},
      {{DerivedKind::ScaleOffset, 1, NAN, 0}, 100, "the scale and the offset must be numbers"},
      {{DerivedKind::ScaleOffset, 1, 1e150, 0}, 100,
       "the values would exceed what the analysis takes (magnitude 1e150)"},
  };
  for (const Case& c : cases) {
    LoadedLog log = SmallLog();
    log.samplesPerSecond = c.rate;
    size_t slot = 99;
    const auto error = AddDerivedColumn(log, 0, "deg/s", c.recipe, slot);
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, c.error);
    EXPECT_EQ(log.series.values.size(), 1u);  // nothing added
    EXPECT_EQ(log.layout.columns.size(), 2u);
  }
}

}  // namespace
}  // namespace pemra
