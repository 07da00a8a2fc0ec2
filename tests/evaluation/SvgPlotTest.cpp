// The report's numbers and plots as a reader sees them: numbers without an exponent where a
// plain one reads better, tick labels of a one-hour time axis, and a legend drawn over the
// curves rather than under them.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "evaluation/SvgPlot.h"

namespace pemra {
namespace {

TEST(ShortNumber, WritesPlainNumbersBetweenOneTenThousandthAndAMillion) {
  struct Case {
    double value;
    int digits;
    const char* text;
  } cases[] = {
      {1.2578, 4, "1.258"},      {0.0003412, 4, "0.0003412"}, {2.5e-7, 4, "2.5e-07"},
      {1000, 3, "1000"},         {3000, 3, "3000"},           {12345, 4, "12345"},
      {999999, 3, "999999"},     {1e6, 3, "1e+06"},           {-1500, 2, "-1500"},
      {0.0001234, 2, "0.00012"}, {5e-5, 3, "5e-05"},          {1134, 4, "1134"},
      {std::numeric_limits<double>::quiet_NaN(), 4, "not determined"},
  };
  for (const Case& c : cases) EXPECT_EQ(ShortNumber(c.value, c.digits), c.text) << c.value;
}

TEST(PlotSvg, AnHourOfTimeIsLabelledInWholeSecondsUnderItsLegend) {
  PlotFrame frame;
  frame.title = "Still log";
  frame.xLabel = "time (s)";
  frame.yLabel = "less its mean (deg/s)";
  PlotSeries a{"X Gyro", {0, 1800, 3600}, {0.1, -0.1, 0.05}, {}, {}, false, false};
  PlotSeries b{"Y Gyro", {0, 1800, 3600}, {-0.2, 0.2, 0.0}, {}, {}, false, false};
  const std::string svg = PlotSvg(frame, {a, b});
  for (const char* tick : {">0</text>", ">1000</text>", ">2000</text>", ">3000</text>"})
    EXPECT_NE(svg.find(tick), std::string::npos) << tick;
  EXPECT_EQ(svg.find("e+03"), std::string::npos);
  // The legend's ground and entries come after the last curve, so they are drawn over it.
  const size_t lastCurve = svg.rfind("<polyline");
  const size_t ground = svg.find("fill-opacity=\"0.85\"");
  ASSERT_NE(ground, std::string::npos);
  EXPECT_GT(ground, lastCurve);
  EXPECT_GT(svg.find(">Y Gyro</text>"), ground);
}

}  // namespace
}  // namespace pemra
