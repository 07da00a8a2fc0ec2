#include "gui/kit/ChartZoom.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace pemra {
namespace {

struct Cycle {
  double top;
  std::vector<double> tops;  // after each click
};

void PrintTo(const Cycle& cycle, std::ostream* os) { *os << "top " << cycle.top; }

class ChartZoomCycle : public testing::TestWithParam<Cycle> {};

TEST_P(ChartZoomCycle, DividesByTwoEightSixtyFourThenRestores) {
  ChartZoom zoom;
  double top = GetParam().top;
  double bottom = -top;
  for (double expected : GetParam().tops) {
    zoom.Click(21420, top, bottom);
    EXPECT_DOUBLE_EQ(top, expected);
    EXPECT_DOUBLE_EQ(bottom, -expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Ranges, ChartZoomCycle,
                         testing::Values(Cycle{350, {175, 43.75, 5.47, 350, 175, 43.75}},
                                         Cycle{10, {5, 1.25, 0.16, 10, 5}},
                                         Cycle{1.5, {0.75, 0.19, 0.02, 1.5}},
                                         // Halves of a hundredth go to the even digit.
                                         Cycle{0.25, {0.12, 0.03, 0.0, 0.25}},
                                         Cycle{1.25, {0.62, 0.16, 0.02, 1.25}},
                                         Cycle{5, {2.5, 0.62, 0.08, 5}}),
                         [](const testing::TestParamInfo<Cycle>& info) {
                           return "Top" + std::to_string(static_cast<int>(info.param.top * 100));
                         });

TEST(ChartZoom, RangeChangedBetweenClicksIsDividedFurther) {
  ChartZoom zoom;
  double top = 350;
  double bottom = -350;
  zoom.Click(21420, top, bottom);  // 175
  zoom.Click(21420, top, bottom);  // 43.75
  top = 350;                       // the gyro range reset by a new reading of the range
  bottom = -350;
  zoom.Click(21420, top, bottom);
  EXPECT_DOUBLE_EQ(top, 43.75);  // 350 / 8: the cycle goes on
  zoom.Click(21420, top, bottom);
  EXPECT_DOUBLE_EQ(top, 350);  // back to the base of the model
}

TEST(ChartZoom, NewModelRestartsTheCycleFromItsRange) {
  ChartZoom zoom;
  double top = 10;
  double bottom = -10;
  zoom.Click(21420, top, bottom);
  zoom.Click(21420, top, bottom);
  EXPECT_DOUBLE_EQ(top, 1.25);
  top = 1.7;
  bottom = -1.7;
  zoom.Click(21430, top, bottom);
  EXPECT_DOUBLE_EQ(top, 0.85);
  EXPECT_EQ(zoom.Step(), 2);
  zoom.Click(21430, top, bottom);
  zoom.Click(21430, top, bottom);
  zoom.Click(21430, top, bottom);
  EXPECT_NEAR(top, 1.7, 1e-6);  // the base is kept as a 32-bit float
}

}  // namespace
}  // namespace pemra
