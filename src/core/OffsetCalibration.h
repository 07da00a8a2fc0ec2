#pragma once
// The six offset-correction registers in engineering units. Each row has its own factor
// (units per code, a constant of the calibration, not the register table's scale) and
// accepts the codes -2048..2047.

#include <array>
#include <cstdint>

#include "core/RegisterTable.h"

namespace pemra {

struct OffsetRow {
  int16_t index;  // register-table entry (XGYRO_ OFF .. ZACCL_ OFF)
  double factor;  // units per code
  double lower;   // -2048 x factor
  double upper;   // 2047 x factor
};

inline constexpr double kGyroOffsetFactor = 0.018315;    // degrees per second
inline constexpr double kAccelOffsetFactor = 0.002522;   // g

// X, Y, Z gyro, then X, Y, Z accelerometer.
inline constexpr std::array<OffsetRow, 6> kOffsetRows = {{
    {reg::XGYRO_OFF, kGyroOffsetFactor, -37.50912, 37.490805},
    {reg::YGYRO_OFF, kGyroOffsetFactor, -37.50912, 37.490805},
    {reg::ZGYRO_OFF, kGyroOffsetFactor, -37.50912, 37.490805},
    {reg::XACCL_OFF, kAccelOffsetFactor, -5.165056, 5.162534},
    {reg::YACCL_OFF, kAccelOffsetFactor, -5.165056, 5.162534},
    {reg::ZACCL_OFF, kAccelOffsetFactor, -5.165056, 5.162534},
}};

// The code for a value already inside the row's limits: value / factor rounded halves to
// even. A value outside the limits (or NaN) is first taken as the nearer limit (NaN as 0).
int32_t OffsetCode(const OffsetRow& row, double value);

}  // namespace pemra
