// Where a window goes on a screen: no larger than the free area less its frame, a cut
// dimension making room for the other's scroll bar, and kept inside the free area.

#include <gtest/gtest.h>

#include "gui/kit/ScreenFit.h"

namespace pemra {
namespace {

TEST(ScreenFit, WindowIsCutToTheFreeAreaAndKeptOnIt) {
  const QMargins frame(4, 24, 4, 4);  // 8 px wide, 28 px tall
  constexpr int kBar = 15;
  const struct {
    const char* what;
    QSize wanted;
    QPoint corner;
    QRect available;
    QRect inside;
  } cases[] = {
      {"fits", {600, 500}, {100, 50}, {0, 0, 1366, 740}, {104, 74, 600, 500}},
      {"too tall", {1134, 1016}, {0, 0}, {0, 0, 1366, 740}, {4, 24, 1149, 712}},
      {"too wide and tall", {1788, 1162}, {0, 0}, {0, 0, 1600, 960}, {4, 24, 1592, 932}},
      {"too wide", {1700, 500}, {0, 0}, {0, 0, 1600, 960}, {4, 24, 1592, 515}},
      {"past the right edge", {600, 400}, {1000, 300}, {0, 0, 1366, 740}, {762, 324, 600, 400}},
      {"past the bottom edge", {600, 400}, {10, 500}, {0, 0, 1366, 740}, {14, 336, 600, 400}},
      {"above the free area", {600, 400}, {0, 0}, {0, 30, 1600, 970}, {4, 54, 600, 400}},
      {"left of a second screen", {600, 400}, {1500, 10}, {1600, 0, 1280, 1024}, {1604, 34, 600, 400}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FittedGeometry(c.wanted, c.corner, c.available, frame, kBar), c.inside) << c.what;
  }
}

}  // namespace
}  // namespace pemra
