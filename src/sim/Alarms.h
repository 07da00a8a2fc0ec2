#pragma once
// The two programmable alarms: a source output compared with a trigger level (or its change
// over a number of samples compared with the level), and the indicator line they drive.

#include <array>
#include <cstdint>

#include "sim/Measurement.h"
#include "sim/SampleClock.h"

namespace pemra::sim {

struct AlarmRegisters {
  std::array<uint16_t, 2> mag{};   // ALM_MAG1/2: level in bits 0-13, bit 15 "greater than"
  std::array<uint16_t, 2> smpl{};  // ALM_SMPL1/2: rate-of-change sample counts
  uint16_t ctrl = 0;               // ALM_CTRL
};

// Source code 1..11 of an alarm names output channel code - 1 (supply, gyros, accelerometers,
// temperatures, AUX_ADC); 0 and 12..15 are off.
int AlarmSource(uint16_t almCtrl, int alarm);

// STATUS bits 8 and 9 for sample k. The level is read in the source's output format (the low
// bits of its field width, sign-converted for signed outputs); with rate of change the compared
// value is code(k) - code(k - n), n = ALM_SMPL (a count of 0 counts as 1).
uint16_t AlarmStatusBits(const AlarmRegisters& r, int64_t k, Measurement& measurement,
                         const SampleClock& samples);

// The line the alarm indicator drives (ALM_CTRL bit 2): line 1 or 0 by bit 0, active level
// by bit 1, the inverse while no alarm is set.
struct IndicatorDrive {
  bool enabled = false;
  int line = 0;
  bool level = false;
};
IndicatorDrive AlarmIndicator(uint16_t almCtrl, bool alarmSet);

}  // namespace pemra::sim
