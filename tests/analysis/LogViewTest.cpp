// What a plot of a log asks of its rows: the rows a time range covers, the statistics and
// extremes of a range across the block summaries' boundaries, the points drawn per bucket,
// and the visible rows as CSV text that the reader takes back.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <vector>

#include "analysis/LogView.h"
#include "support/ScratchDir.h"

namespace pemra {
namespace {

using testing::ScratchDir;

// A log of one column, `values`, at `rate` rows per second (0: no rate found).
LoadedLog OneColumn(std::vector<double> values, double rate) {
  LoadedLog log;
  log.layout.columns = {LogColumn{"Sample #", ColumnKind::SampleNumber, 0, ""},
                        LogColumn{"X Gryo", ColumnKind::Gyro, 2, "deg/s"}};
  log.series.columns = {1};
  log.series.files = {LogFileRows{static_cast<int64_t>(values.size()), {}, {}}};
  log.series.values = {std::move(values)};
  log.samplesPerSecond = rate;
  Summarise(log);
  return log;
}

TEST(LogView, VisibleRowsAreThoseWhoseTimesLieInTheRange) {
  struct Case {
    double rate, from, to;
    RowRange rows;
  };
  // Ten rows; at 4 rows per second they lie at 0, 0.25, ..., 2.25 s.
  const std::vector<Case> cases = {
      {4, 0, 2.25, {0, 10}},   {4, -5, 100, {0, 10}},  {4, 0.3, 1.0, {2, 3}},
      {4, 0.25, 0.25, {1, 1}}, {4, -5, 0, {0, 1}},     {4, 0.26, 0.49, {2, 0}},
      {4, 2.3, 5, {10, 0}},    {4, 1.0, 0.5, {0, 0}},  {4, NAN, 1, {0, 0}},
      {0, 2.5, 4, {3, 2}},     {0, 8.5, 20, {9, 1}},
  };
  for (const Case& c : cases) {
    const LoadedLog log = OneColumn(std::vector<double>(10, 1.0), c.rate);
    EXPECT_EQ(log.VisibleRows(c.from, c.to), c.rows) << c.rate << " " << c.from << ".." << c.to;
  }
}

TEST(LogView, StatisticsOfARangeAcrossBlockBoundaries) {
  struct Case {
    RowRange rows;
    int64_t count;
    double mean, deviation, min, max, rms;
  };
  // Values 0, 1, ..., 9999: n consecutive integers from a have mean a + (n - 1) / 2,
  // sample deviation sqrt(n (n + 1) / 12) and RMS sqrt(sum of i^2 / n).
  const std::vector<Case> cases = {
      {{0, 10000}, 10000, 4999.5, 2886.8956799071675, 0, 9999, 5773.069677390011},
      {{100, 8292}, 8292, 4245.5, 2393.8385492760367, 100, 8391, 4873.811872309668},
      {{4000, 200}, 200, 4099.5, 57.879184513951124, 4000, 4199, 4099.906523324647},
      {{4095, 2}, 2, 4095.5, 0.7071067811865476, 4095, 4096, 4095.500030521304},
      {{9990, 50}, 10, 9994.5, 3.0276503540974917, 9990, 9999, 9994.500412726991},  // cut at the end
      {{5, 1}, 1, 5, NAN, 5, 5, 5},
      {{10, 0}, 0, NAN, NAN, NAN, NAN, NAN},
  };
  std::vector<double> values(10000);
  for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<double>(i);
  const LoadedLog log = OneColumn(values, 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rows.first) + "+" + std::to_string(c.rows.count));
    const ColumnStatistics s = log.summaries[0].Statistics(log.series.values[0], c.rows);
    EXPECT_EQ(s.count, c.count);
    auto expect = [](double actual, double wanted, const char* what) {
      if (std::isnan(wanted)) {
        EXPECT_TRUE(std::isnan(actual)) << what << " " << actual;
      } else {
        EXPECT_NEAR(actual, wanted, 1e-9 * std::max(1.0, std::fabs(wanted))) << what;
      }
    };
    expect(s.mean, c.mean, "mean");
    expect(s.deviation, c.deviation, "deviation");
    expect(s.min, c.min, "min");
    expect(s.max, c.max, "max");
    expect(s.rms, c.rms, "rms");
  }
}

TEST(LogView, StatisticsOfSignedValuesAroundZero) {
  // 1, -1, 3, -3, 2: mean 0.4; squared deviations 0.36 + 1.96 + 6.76 + 11.56 + 2.56 = 23.2,
  // so the sample deviation is sqrt(23.2 / 4); the squares sum to 24, so the RMS is
  // sqrt(24 / 5). Rows 1 to 3 (-1, 3, -3): mean -1/3, RMS sqrt(19 / 3).
  const LoadedLog log = OneColumn({1, -1, 3, -3, 2}, 10);
  const ColumnStatistics all = log.summaries[0].Statistics(log.series.values[0], {0, 5});
  EXPECT_DOUBLE_EQ(all.mean, 0.4);
  EXPECT_DOUBLE_EQ(all.deviation, 2.4083189157584592);
  EXPECT_DOUBLE_EQ(all.rms, 2.1908902300206643);
  const ColumnStatistics part = log.summaries[0].Statistics(log.series.values[0], {1, 3});
  EXPECT_DOUBLE_EQ(part.mean, -1.0 / 3);
  EXPECT_DOUBLE_EQ(part.rms, 2.516611478423583);
  EXPECT_EQ(part.min, -3);
  EXPECT_EQ(part.max, 3);
}

TEST(LogView, ExtremesAtTheEdgesOfTheBlocks) {
  // Zeros with extremes on the last row of a fine block (63), the first and last rows of a
  // coarse block (4096, 8191) and the last row, which lies in no whole block.
  std::vector<double> values(10000, 0.0);
  values[63] = -7;
  values[4096] = 9;
  values[8191] = 5;
  values[9999] = -3;
  const LoadedLog log = OneColumn(values, 1);
  struct Case {
    int64_t first, end;
    bool any;
    double min, max;
  };
  const std::vector<Case> cases = {
      {0, 10000, true, -7, 9},   {64, 10000, true, -3, 9}, {64, 9999, true, 0, 9},
      {4097, 8191, true, 0, 0},  {4097, 8192, true, 0, 5}, {4096, 4097, true, 9, 9},
      {60, 64, true, -7, 0},     {9000, 20000, true, -3, 0}, {0, 0, false, 0, 0},
      {-10, 63, true, 0, 0},
  };
  for (const Case& c : cases) {
    double min = 0, max = 0;
    ASSERT_EQ(log.summaries[0].MinMax(log.series.values[0], c.first, c.end, min, max), c.any)
        << c.first << ".." << c.end;
    if (!c.any) continue;
    EXPECT_EQ(min, c.min) << c.first << ".." << c.end;
    EXPECT_EQ(max, c.max) << c.first << ".." << c.end;
  }
}

TEST(LogView, DecimatedPointsKeepEveryBucketsExtremes) {
  struct Case {
    RowRange rows;
    int buckets;
    std::vector<double> keys, values;
  };
  const std::vector<Case> cases = {
      // 20 rows in 4 buckets of 5: minimum at the bucket's start, maximum at its middle.
      {{0, 20}, 4, {0, 0.5, 1.25, 1.75, 2.5, 3.0, 3.75, 4.25}, {1, 5, 2, 9, 5, 9, 2, 8}},
      // Few rows: every one, with one more on either side.
      {{2, 3}, 4, {0.25, 0.5, 0.75, 1.0, 1.25}, {1, 4, 1, 5, 9}},
      // A view between two rows still draws the line through it.
      {{3, 0}, 4, {0.5, 0.75}, {4, 1}},
      {{19, 5}, 4, {4.5, 4.75}, {8, 4}},
  };
  const LoadedLog log = OneColumn({3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8, 9, 7, 9, 3, 2, 3, 8, 4}, 4);
  for (const Case& c : cases) {
    std::vector<double> keys, values;
    DecimatedPoints(log, 0, c.rows, c.buckets, keys, values);
    EXPECT_EQ(keys, c.keys) << c.rows.first << "+" << c.rows.count;
    EXPECT_EQ(values, c.values) << c.rows.first << "+" << c.rows.count;
  }
}

TEST(LogView, VisibleRowsAsCsvInTheLogsOwnFormatReadBackByTheReader) {
  struct Case {
    const char* name;
    std::string log;
    std::string csv;
  };
  const std::vector<Case> cases = {
      {"T_1.csv",
       "File Name,T_1.csv\r\nDate,12/07/26\r\nTime,11:00:21\r\nBegin Seconds,100\r\n"
       "End Seconds,101\r\n \r\nSample #,Time (sec),XgND,X Gryo,Y Gyro,Z acc,\r\n"
       "1,0,1,1.17216,-0.5,1.000061,\r\n2,0.25,1,10.69596,0.25,0.9993896,\r\n"
       "3,0.5,1,2,0.125,1E-05,\r\n4,0.75,0,3.5,-2,1,\r\n",
       "Sample #,Time (sec),X Gryo,Z acc,\r\n1,0.25,10.69596,0.9993896,\r\n2,0.5,2,1E-05,\r\n"},
      {"T_1.txt",
       "File Name\tT_1.txt\r\nDate\t12.07.26\r\nTime\t11:00:21\r\nBegin Seconds\t100\r\n"
       "End Seconds\t101\r\n \r\nSample #\tTime (sec)\tXgND\tX Gryo\tY Gyro\tZ acc\t\r\n"
       "1\t0\t1\t1,17216\t-0,5\t1,000061\t\r\n2\t0,25\t1\t10,69596\t0,25\t0,9993896\t\r\n"
       "3\t0,5\t1\t2\t0,125\t1E-05\t\r\n4\t0,75\t0\t3,5\t-2\t1\t\r\n",
       "Sample #\tTime (sec)\tX Gryo\tZ acc\t\r\n1\t0,25\t10,69596\t0,9993896\t\r\n"
       "2\t0,5\t2\t1E-05\t\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const auto path = dir.path() / c.name;
    std::ofstream(path, std::ios::binary) << c.log;
    LoadedLog log;
    const auto error = LoadLog({path}, {}, log);
    ASSERT_FALSE(error) << error->Text();
    ASSERT_EQ(log.series.columns, (std::vector<int>{3, 4, 5}));  // the value columns
    EXPECT_EQ(log.samplesPerSecond, 4);                         // 4 rows in 1 s
    EXPECT_EQ(log.VisibleRows(0.2, 0.6), (RowRange{1, 2}));
    std::string csv = RowsCsvTitle(log, {0, 2});
    AppendRowsCsv(log, {0, 2}, log.VisibleRows(0.2, 0.6), 1, csv);
    EXPECT_EQ(csv, c.csv);

    // The export is a log of its own: its rate from the time column, its values as shown.
    const auto exported = dir.path() / (std::string("export_") + c.name);
    std::ofstream(exported, std::ios::binary) << csv;
    LoadedLog again;
    const auto againError = LoadLog({exported}, {}, again);
    ASSERT_FALSE(againError) << againError->Text();
    EXPECT_EQ(again.samplesPerSecond, 4);
    EXPECT_EQ(again.ColumnTitle(1), "Z acc");
    EXPECT_EQ(again.series.values, (std::vector<std::vector<double>>{{10.69596, 2}, {0.9993896, 1e-05}}));
  }
}

}  // namespace
}  // namespace pemra
