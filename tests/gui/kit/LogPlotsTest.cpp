// What the plots of logs draw: readable log-axis ticks and one stacked value axis per unit
// with raw columns told apart.

#include <QApplication>

#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "analysis/LogView.h"
#include "gui/kit/LogPlots.h"
#include "gui/kit/PlotAxes.h"

namespace pemra {
namespace {

TEST(LogPlots, LogTicksAreDistinctAndReachTheSmallestValue) {
  struct Case {
    double lower, upper;
    std::vector<double> ticks;
    std::vector<const char*> labels;
  };
  const std::vector<Case> cases = {
      // Less than a decade and a half: every digit.
      {0.15, 0.45, {0.2, 0.3, 0.4}, {"0.2", "0.3", "0.4"}},
      {0.08, 0.9, {0.08, 0.09, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9},
       {"0.08", "0.09", "0.1", "0.2", "0.3", "0.4", "0.5", "0.6", "0.7", "0.8", "0.9"}},
      // A bias floor at 0.03 in a range of two decades: 1-2-5 steps, down to 0.02.
      {0.015, 0.9, {0.02, 0.05, 0.1, 0.2, 0.5}, {"0.02", "0.05", "0.1", "0.2", "0.5"}},
      {0.005, 0.6, {0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5}, {"0.005", "0.01", "0.02", "0.05", "0.1", "0.2", "0.5"}},
      // Many decades: powers of ten.
      {1e-4, 20, {1e-4, 1e-3, 0.01, 0.1, 1, 10}, {"0.0001", "0.001", "0.01", "0.1", "1", "10"}},
      {5e-6, 200, {1e-5, 1e-4, 1e-3, 0.01, 0.1, 1, 10, 100},
       {"1e-05", "0.0001", "0.001", "0.01", "0.1", "1", "10", "100"}},
      // Beyond eight decades, every second power of ten.
      {2e-7, 3e4, {1e-6, 1e-4, 0.01, 1, 100, 1e4}, {"1e-06", "0.0001", "0.01", "1", "100", "10000"}},
      {200, 3e6, {200, 500, 1000, 2000, 5000, 1e4, 2e4, 5e4, 1e5, 2e5, 5e5, 1e6, 2e6},
       {"200", "500", "1000", "2000", "5000", "10000", "20000", "50000", "1e+05", "2e+05", "5e+05", "1e+06", "2e+06"}},
      {0, 1, {}, {}},
      {1, 1, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.lower) + ".." + std::to_string(c.upper));
    const std::vector<double> ticks = LogTicks(c.lower, c.upper);
    ASSERT_EQ(ticks.size(), c.ticks.size());
    for (size_t i = 0; i < ticks.size(); ++i) {
      EXPECT_DOUBLE_EQ(ticks[i], c.ticks[i]);
      EXPECT_EQ(LogTickLabel(ticks[i]).toStdString(), c.labels[i]);
    }
  }
}

// A short axis (a small plot, large text) has room for few labels: coarser steps until they
// fit, but never fewer than two ticks where the finer steps gave two or more.
TEST(LogPlots, LogTicksOnAShortAxisTakeCoarserSteps) {
  struct Case {
    double lower, upper;
    size_t most;
    std::vector<double> ticks;
  };
  const std::vector<Case> cases = {
      {0.0003, 1.5, 11, {0.0005, 0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1}},
      {0.0003, 1.5, 10, {0.001, 0.01, 0.1, 1}},
      {0.0003, 1.5, 4, {0.001, 0.01, 0.1, 1}},
      {0.0003, 1.5, 3, {0.01, 1}},
      {0.0003, 1.5, 1, {0.01, 1}},
      {0.08, 0.9, 4, {0.1, 0.2, 0.5}},
      {0.15, 0.45, 2, {0.2, 0.3, 0.4}},  // 1-2-5 would leave 0.2 alone
      {1e-6, 1e6, 5, {1e-6, 1e-3, 1, 1e3, 1e6}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.lower) + ".." + std::to_string(c.upper) + " most " + std::to_string(c.most));
    const std::vector<double> ticks = LogTicks(c.lower, c.upper, c.most);
    ASSERT_EQ(ticks.size(), c.ticks.size());
    for (size_t i = 0; i < ticks.size(); ++i) EXPECT_DOUBLE_EQ(ticks[i], c.ticks[i]);
  }
}

// The axis's own length decides: a tall plot labels 1-2-5 steps over 0.0003..1.5, a plot
// of 120 pixels powers of ten only.
TEST(LogPlots, ALogAxisLabelsAsManyTicksAsItsLengthHolds) {
  for (const auto& [height, labels] : {std::pair{900, 11}, std::pair{120, 2}}) {
    SCOPED_TRACE(height);
    QCustomPlot plot;
    plot.resize(400, height);
    UseLogTicks(*plot.yAxis);
    plot.yAxis->setRange(0.0003, 1.5);
    plot.show();
    QApplication::processEvents();
    // Ticks are chosen before the layout of a replot: the second one sees the axis's length.
    plot.replot();
    plot.replot();
    EXPECT_EQ(plot.yAxis->tickVector().size(), labels);
  }
}

// A log of gyro, accelerometer and temperature columns; `raw`: whole numbers in the gyro
// and accelerometer columns (register values).
std::shared_ptr<LoadedLog> Log(bool raw) {
  auto log = std::make_shared<LoadedLog>();
  log->layout.columns = {LogColumn{"X Gyro", ColumnKind::Gyro, 2, "deg/s"},
                         LogColumn{"Y Gyro", ColumnKind::Gyro, 3, "deg/s"},
                         LogColumn{"X acc", ColumnKind::Accel, 5, "g"},
                         LogColumn{"X Temp", ColumnKind::Other, 8, "degC"}};
  log->series.columns = {0, 1, 2, 3};
  const double g = raw ? 12 : 0.25;
  log->series.values = {{g, g, g}, {g, -g, g}, {g, 2 * g, g}, {25.5, 25.25, 25.5}};
  log->series.wholeNumbers = {raw, raw, raw, false};
  log->series.files = {LogFileRows{3, {}, {}}};
  log->samplesPerSecond = 10;
  Summarise(*log);
  return log;
}

TEST(LogPlots, OneStackPerUnitOnOneTimeAxis) {
  struct Case {
    bool raw;
    std::vector<size_t> shown;
    QStringList titles;
  };
  const std::vector<Case> cases = {
      {false, {0, 1, 2, 3}, {"Rate (deg/s)", "Acceleration (g)", "Temperature (degC)"}},
      {false, {2}, {"Acceleration (g)"}},
      {false, {}, {"Value"}},
      // Register values are not in deg/s or g, whatever the titles say.
      {true, {0, 2, 3}, {"Raw (LSB)", "Temperature (degC)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.titles.join(",").toStdString());
    QCustomPlot plot;
    plot.resize(600, 600);
    LogTimePlot time(plot);
    time.SetLog(Log(c.raw));
    time.Show(c.shown);
    time.ResetView();
    EXPECT_EQ(time.ValueAxisTitles(), c.titles);
    ASSERT_EQ(time.Stacks().size(), static_cast<size_t>(c.titles.size()));
    // One time axis: a change in one stack is every stack's, labelled at the bottom only.
    time.Stacks().back()->axis(QCPAxis::atBottom)->setRange(0.05, 0.15);
    for (QCPAxisRect* stack : time.Stacks()) {
      EXPECT_EQ(stack->axis(QCPAxis::atBottom)->range(), QCPRange(0.05, 0.15));
      EXPECT_EQ(stack->axis(QCPAxis::atBottom)->tickLabels(), stack == time.Stacks().back());
    }
    EXPECT_EQ(time.Stacks().back()->axis(QCPAxis::atBottom)->label(), QStringLiteral("Time (s)"));
    EXPECT_EQ(time.VisibleRows(), (RowRange{1, 1}));
  }
}

}  // namespace
}  // namespace pemra
