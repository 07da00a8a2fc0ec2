#pragma once
// The two programmable alarms as the alarm window sets them: the source list, the limits of
// a typed trigger level, the conversions between a level in the source's units and the
// 14-bit trigger code of ALM_MAG1/2, and the fields of ALM_CTRL. Levels convert with the
// current scale of the source's own output register, so they follow the device model and
// the gyro range.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/RegisterFields.h"
#include "core/RegisterTable.h"

namespace pemra {

inline constexpr int kAlarmSources = 12;
// The source lists' captions; a caption's position is its source code (ALM_CTRL field).
inline constexpr std::array<std::string_view, kAlarmSources> kAlarmSourceNames = {
    "Disabled", "Supply V", "X_Gyro",  "Y-Gyro", "Z_Gyro", "X_Accel",
    "Y_Accel",  "Z_Accel",  "X_Temp",  "Y_Temp", "Z_Temp", "Aux_ADC"};

inline constexpr int32_t kAlarmCodeMask = bits::kAlmMagLevel.Mask();        // trigger code
inline constexpr int32_t kAlarmGreaterBit = bits::kAlmMagPolarity.Mask();  // "Greater than"

// A typed level is held between these; a level beyond one is replaced by its text.
struct AlarmLimits {
  double lower;
  double upper;
  std::string_view lowerText;
  std::string_view upperText;
};

// Limits of sources 1..11; "Disabled" and codes without an entry have none.
std::optional<AlarmLimits> AlarmSourceLimits(int source);

// Bits 0-13 of ALM_MAG for a level of a source. A code that does not fit the source's field
// (signed 14 bits; unsigned 14 bits for the supply; for the temperature sources the signed
// width of their output register's entry around 25: 12 bits for temperatures, 13 for the
// angles model 21410 puts there) is clamped to it rather than cut to its low bits, which
// could turn the level's sign. Temperature-source levels below 0 are coded in the output's
// two's complement (plus 4096 at 12 bits), those from 0 to 25 in 14-bit two's complement.
// "Disabled" and unknown sources give 0.
int32_t AlarmLevelToCode(const RegisterTable& table, int source, double level);

// The level a trigger code (bits 0-13) stands for. A temperature-source code is read by the
// low bits of its output's width as two's complement (as the sensor compares it), which
// reads back both codings above.
// "Disabled" and unknown sources give 0.
double AlarmCodeToLevel(const RegisterTable& table, int source, int32_t code);

// ALM_CTRL: alarm 1's source in bits 8-11, alarm 2's in bits 12-15.
int AlarmSourceField(int32_t almCtrl, int alarm);
// The word with one alarm's source replaced; a source outside 0..11 keeps the field.
int32_t WithAlarmSource(int32_t almCtrl, int alarm, int source);
// The word with one alarm's rate-of-change bit (6 for alarm 1, 7 for alarm 2) set or cleared.
int32_t WithRateOfChange(int32_t almCtrl, int alarm, bool enabled);
// The word with the indicator bits replaced: line DI/O1 (bit 0), high (bit 1), enabled (bit 2).
int32_t WithIndicator(int32_t almCtrl, bool lineOne, bool high, bool enabled);

}  // namespace pemra
