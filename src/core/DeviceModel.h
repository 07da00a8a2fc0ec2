#pragma once
// Sensor models: what choosing a model does to the register table, the gyro scales and
// the chart ranges, and what the main window shows for it, as plain data.

#include <array>
#include <cstdint>
#include <string>

#include "core/Message.h"
#include "core/RegisterAccess.h"

namespace pemra {

inline constexpr std::array<int16_t, 9> kModelCodes = {21410, 21420, 21430, 21440, 21450,
                                                       21460, 21470, 21480, 21490};
inline constexpr int16_t kPrimaryModel = 21420;

// Vertical chart ranges (64-bit floats shared with the chart routines).
struct ChartRanges {
  double GyroChartMax = 350.0;
  double GyroChartMin = -350.0;
  double AccelChartMax = 10.0;
  double AccelChartMin = -10.0;
};

// What the main window applies after SetDevice.
struct DeviceView {
  int16_t checkedModel = 0;    // the Device menu item to tick; 0 none (unrecognised code)
  bool gyroYZVisible = true;   // boxes, captions, check boxes and markers of channels 3 and 4
  std::string caption9;        // lblReadReg(9)
  std::string caption10;       // lblReadReg(10)
  std::string lblpFS2, lblmidS2, lblnFS2;  // accelerometer chart range labels
  std::string frameCaption;    // FrameDataPLot
};

// Rewrites entries 1..11 of the table (names, widths, scales, offsets except the gyro
// scales) for a model, starting from the common setting; unrecognised codes keep the
// common setting. This is the table side of SetDevice, also used by the simulator to
// learn a model's output formats.
void ApplyModelTable(int16_t model, RegisterTable& table);
// True for the nine model codes.
bool IsKnownModel(int16_t model);

// Gyro base scale of a model (degrees per second per LSB at range code 4).
float GyroBaseScale(int16_t model);

// Applies a model: records it in selection.DeviceType, rewrites entries 1..11, sets the
// accelerometer chart range, reports an unrecognised code through `messages`, then runs
// SETGYROSCALES. Label numbers use `decimalSeparator`.
DeviceView SetDevice(int16_t model, Selection& selection, RegisterAccess& access,
                     ChartRanges& ranges, MessageSink& messages, char decimalSeparator = '.');

// Reads SENS_AVG and sets the three gyro scales from the model's base scale and the range
// code; sets the gyro chart range to -350..350.
void SETGYROSCALES(int16_t model, RegisterAccess& access, ChartRanges& ranges);

}  // namespace pemra
