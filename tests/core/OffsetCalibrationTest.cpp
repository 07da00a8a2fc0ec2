// Offsets in units as register codes: each row's factor, its limits and halves to even.

#include <gtest/gtest.h>

#include <cmath>

#include "core/OffsetCalibration.h"

namespace pemra {
namespace {

TEST(OffsetCalibration, ValueBecomesTheCodeWithinTheRowsLimits) {
  const struct {
    int row;  // 0 X gyro .. 5 Z accelerometer
    double value;
    int32_t code;
  } cases[] = {
      {0, 0.0091575, 0},   {0, 0.0274725, 2},    // half a code, one and a half: to even
      {0, -0.01, -1},      {0, 40, 2047},        // beyond the upper limit 37.490805
      {1, -37.50912, -2048}, {2, -38, -2048},    {2, NAN, 0},
      {3, 0.001261, 0},    {3, 0.003783, 2},     // the accelerometers' factor 0.002522
      {4, 5.162534, 2047}, {5, -6, -2048},       {5, -0.0025, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OffsetCode(kOffsetRows[static_cast<size_t>(c.row)], c.value), c.code)
        << "row " << c.row << " value " << c.value;
  }
}

}  // namespace
}  // namespace pemra
