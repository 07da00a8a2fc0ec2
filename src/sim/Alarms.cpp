#include "sim/Alarms.h"

#include <algorithm>

namespace pemra::sim {

int AlarmSource(uint16_t almCtrl, int alarm) {
  const int code = (almCtrl >> (alarm == 0 ? 8 : 12)) & 0xF;
  return (code >= 1 && code <= kChannels) ? code : 0;
}

namespace {

bool AlarmActive(const AlarmRegisters& r, int alarm, int64_t k, Measurement& measurement,
                 const SampleClock& samples) {
  const int source = AlarmSource(r.ctrl, alarm);
  if (source == 0 || k < 0) return false;
  const Channel c = Channel(source - 1);
  const FieldFormat& f = measurement.Formats().Of(c);
  const uint16_t mag = r.mag[size_t(alarm)];
  const uint32_t levelBits = uint32_t(mag & 0x3FFF) & ((1u << f.width) - 1);
  const int32_t level = f.isSigned ? SignExtend(levelBits, f.width) : int32_t(levelBits);
  const bool rateOfChange = (r.ctrl & (alarm == 0 ? 0x40 : 0x80)) != 0;

  int32_t value = measurement.Code(c, k, samples);
  if (rateOfChange) {
    const int64_t n = std::max<int64_t>(1, r.smpl[size_t(alarm)] & 0xFF);
    value -= measurement.Code(c, std::max<int64_t>(0, k - n), samples);
  }
  const bool greater = (mag & 0x8000) != 0;
  return greater ? value > level : value < level;
}

}  // namespace

uint16_t AlarmStatusBits(const AlarmRegisters& r, int64_t k, Measurement& measurement,
                         const SampleClock& samples) {
  uint16_t bits = 0;
  if (AlarmActive(r, 0, k, measurement, samples)) bits |= 1 << 8;
  if (AlarmActive(r, 1, k, measurement, samples)) bits |= 1 << 9;
  return bits;
}

IndicatorDrive AlarmIndicator(uint16_t almCtrl, bool alarmSet) {
  IndicatorDrive d;
  d.enabled = (almCtrl & 0x4) != 0;
  d.line = (almCtrl & 0x1) ? 1 : 0;
  const bool activeHigh = (almCtrl & 0x2) != 0;
  d.level = alarmSet ? activeHigh : !activeHigh;
  return d;
}

}  // namespace pemra::sim
