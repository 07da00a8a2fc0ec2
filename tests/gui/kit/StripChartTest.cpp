#include "gui/kit/StripChart.h"

#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>

namespace pemra {
namespace {

const QColor kRed(242, 0, 0);
const QColor kGreen(0, 150, 0);
const QColor kBlue(0, 0, 150);

class StripChartTest : public testing::Test {
 protected:
  StripChartTest() {
    chart.SetTraceColour(0, kRed);
    chart.SetTraceColour(1, kGreen);
    chart.SetTraceColour(2, kBlue);
  }

  void Plot(double a, double b, double c, std::array<bool, 3> drawn = {true, true, true}) {
    chart.PlotSample({a, b, c}, drawn, top, bottom);
  }

  QColor At(double x, double y) const {
    const QPointF p = chart.SurfacePoint(x, y);
    const int px = std::clamp(static_cast<int>(std::lround(p.x())), 0, chart.Surface().width() - 1);
    const int py = std::clamp(static_cast<int>(std::lround(p.y())), 0, chart.Surface().height() - 1);
    return chart.Surface().pixelColor(px, py);
  }

  // Pixel column of a chart column, and the colours found anywhere in that pixel column.
  bool ColumnHas(int pixelX, const QColor& colour) const {
    const QImage& s = chart.Surface();
    for (int y = 0; y < s.height(); ++y) {
      if (s.pixelColor(pixelX, y) == colour) return true;
    }
    return false;
  }
  int PixelX(double x) const { return static_cast<int>(std::lround(chart.SurfacePoint(x, 0).x())); }

  StripChart chart;
  double top = 10.0;
  double bottom = -10.0;
};

TEST_F(StripChartTest, FirstSampleIsJoinedToTheOriginAtColumnOne) {
  EXPECT_FALSE(chart.HasCoordinates());
  Plot(5.0, -5.0, 0.0);
  EXPECT_EQ(chart.Column(), 1);
  EXPECT_EQ(chart.PreviousColumn(), 1);
  EXPECT_DOUBLE_EQ(chart.PreviousValue(0), 5.0);
  // The segment runs from (0, 0) to (1, value): both ends carry the trace colour.
  EXPECT_EQ(At(1, 5.0), kRed);
  EXPECT_EQ(At(1, -5.0), kGreen);
  EXPECT_EQ(At(0.5, 2.5), kRed);
  // Cursor one column ahead, away from the traces.
  EXPECT_EQ(At(2, -8.0), StripChart::kCursor);
}

TEST_F(StripChartTest, SweepWrapsAfterColumn350AndErasesTheOldTraceColumnByColumn) {
  for (int i = 1; i <= StripChart::kColumns; ++i) Plot(5.0, -2.0, -8.0);
  EXPECT_EQ(chart.Column(), 350);
  EXPECT_EQ(At(200, 5.0), kRed);

  Plot(-5.0, -2.0, -8.0);  // sample 351: back to column 0
  EXPECT_EQ(chart.Column(), 0);
  EXPECT_EQ(chart.PreviousColumn(), 0);
  // A vertical segment at column 0 from the old sweep's last value to the new one.
  EXPECT_EQ(At(0, 0.0), kRed);
  // The band from 0 to 1 is cleared apart from that segment and the cursor at column 1;
  // the old trace further right is still there.
  const int inside = PixelX(0) + 1;
  if (inside < PixelX(1)) {
    EXPECT_FALSE(ColumnHas(inside, kRed));
  }
  EXPECT_EQ(At(1, 8.0), StripChart::kCursor);
  EXPECT_EQ(At(100, 5.0), kRed);

  Plot(-5.0, -2.0, -8.0);
  EXPECT_EQ(chart.Column(), 1);
  EXPECT_EQ(At(1, -5.0), kRed);
  EXPECT_NE(At(1, 5.0), kRed);  // the old sample at column 1 is gone
  EXPECT_EQ(At(2, 8.0), StripChart::kCursor);
}

TEST_F(StripChartTest, UncheckedChannelsAreNotDrawnButTheSweepAndValuesAdvance) {
  Plot(5.0, -5.0, 0.0, {false, false, false});
  EXPECT_EQ(chart.Column(), 1);
  EXPECT_FALSE(ColumnHas(PixelX(1), kRed));
  EXPECT_FALSE(ColumnHas(PixelX(1), kGreen));
  EXPECT_EQ(At(2, 0.0), StripChart::kCursor);
  // Re-checked, a channel is joined to the value it had while unchecked.
  Plot(5.0, -5.0, 0.0, {true, false, false});
  EXPECT_EQ(At(1, 5.0), kRed);
  EXPECT_EQ(At(2, 5.0), kRed);
}

TEST_F(StripChartTest, ZeroHeightRangeBecomesZeroToMinusOne) {
  top = 0.0;
  bottom = 0.0;
  Plot(-0.5, 0.0, 0.0);
  EXPECT_EQ(bottom, -1.0);
  EXPECT_EQ(top, 0.0);
  EXPECT_EQ(At(1, -0.5), kRed);
}

TEST_F(StripChartTest, ValuesOutsideTheRangeAreClippedAtTheEdge) {
  Plot(0.0, 0.0, 0.0);
  Plot(1e300, -1e300, 0.0);
  // The segment leaves the chart: it reaches the top and bottom edges in its column span.
  bool topEdge = false;
  bool bottomEdge = false;
  const QImage& s = chart.Surface();
  for (int x = PixelX(1); x <= PixelX(2); ++x) {
    topEdge = topEdge || s.pixelColor(x, 0) == kRed;
    bottomEdge = bottomEdge || s.pixelColor(x, s.height() - 1) == kGreen;
  }
  EXPECT_TRUE(topEdge);
  EXPECT_TRUE(bottomEdge);
}

TEST_F(StripChartTest, PaintingShowsTheStoredTrace) {
  chart.resize(chart.Surface().size());
  for (int i = 0; i < 20; ++i) Plot(5.0, -5.0, 0.0);
  // A repaint (what a covered window gets) draws the off-screen image, trace included.
  const QImage painted = chart.grab().toImage();
  const QPointF p = chart.SurfacePoint(10, 5.0);
  EXPECT_EQ(painted.pixelColor(static_cast<int>(std::lround(p.x())),
                               static_cast<int>(std::lround(p.y()))),
            kRed);
}

TEST_F(StripChartTest, PointerReportsChartCoordinatesOnceTheyExist) {
  chart.resize(350, 200);
  QSignalSpy spy(&chart, &StripChart::PointerMoved);
  QMouseEvent before(QEvent::MouseMove, QPointF(175, 100), QPointF(175, 100), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&chart, &before);
  EXPECT_EQ(spy.count(), 0);

  Plot(0.0, 0.0, 0.0);
  QMouseEvent move(QEvent::MouseMove, QPointF(175, 50), QPointF(175, 50), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&chart, &move);
  ASSERT_EQ(spy.count(), 1);
  EXPECT_NEAR(spy[0][0].toDouble(), 175.0, 1e-9);
  EXPECT_NEAR(spy[0][1].toDouble(), 5.0, 1e-9);
}

}  // namespace
}  // namespace pemra
