#include "core/AlarmLevels.h"

#include <algorithm>

#include "core/NumberText.h"

namespace pemra {

namespace {

enum class Format { Supply, Signed14, Temperature };

struct Source {
  int16_t output;  // register-table entry whose scale converts the level
  Format format;
  AlarmLimits limits;
};

constexpr AlarmLimits kGyro{-600.0, 600.0, "-600", "600"};
constexpr AlarmLimits kAccel{-20.66, 20.66, "-20.66", "20.66"};
constexpr AlarmLimits kTemp{-297.574, 297.4291, "-297.574", "297.4291"};

// Sources 1..11 (0 is "Disabled").
constexpr std::array<Source, kAlarmSources - 1> kSources = {{
    {reg::SUPPLY_OUT, Format::Supply, {0.0, 7.49385, "0", "7.49385"}},
    {reg::XGYRO_OUT, Format::Signed14, kGyro},
    {reg::YGYRO_OUT, Format::Signed14, kGyro},
    {reg::ZGYRO_OUT, Format::Signed14, kGyro},
    {reg::XACCL_OUT, Format::Signed14, kAccel},
    {reg::YACCL_OUT, Format::Signed14, kAccel},
    {reg::ZACCL_OUT, Format::Signed14, kAccel},
    {reg::XTEMP_OUT, Format::Temperature, kTemp},
    {reg::YTEMP_OUT, Format::Temperature, kTemp},
    {reg::ZTEMP_OUT, Format::Temperature, kTemp},
    {reg::AUX_ADC, Format::Signed14, {0.0, 2.5, "0", "2.5"}},
}};

const Source* Find(int source) {
  if (source < 1 || source >= kAlarmSources) return nullptr;
  return &kSources[static_cast<size_t>(source - 1)];
}

constexpr double kTemperatureBase = 25.0;  // degrees at temperature code 0

int32_t RoundClamped(double value, int32_t low, int32_t high) {
  return static_cast<int32_t>(std::clamp<int64_t>(RoundHalfEvenToInt(value), low, high));
}

// The width of a temperature source's output: 12 bits, or what the model made the entry
// (never beyond the 14-bit trigger field).
int OutputBits(const RegisterEntry& entry) { return std::clamp<int>(entry.RegWidth, 2, 14); }

int32_t SignExtend(int32_t code, int bits) {
  const int32_t sign = 1 << (bits - 1);
  return (code & (sign - 1)) - (code & sign);
}

}  // namespace

std::optional<AlarmLimits> AlarmSourceLimits(int source) {
  const Source* s = Find(source);
  if (s == nullptr) return std::nullopt;
  return s->limits;
}

int32_t AlarmLevelToCode(const RegisterTable& table, int source, double level) {
  const Source* s = Find(source);
  if (s == nullptr) return 0;
  const RegisterEntry& entry = table[static_cast<size_t>(s->output)];
  const double scale = entry.RegScale;
  int32_t code = 0;
  switch (s->format) {
    case Format::Supply:
      code = RoundClamped(level / scale, 0, kAlarmCodeMask);
      break;
    case Format::Signed14:
      code = RoundClamped(level / scale, -8192, 8191);
      break;
    case Format::Temperature: {
      // In the output's own two's complement: 12 bits for a temperature, the entry's width
      // where a model puts another output there (13-bit angles on 21410).
      const int32_t half = int32_t{1} << (OutputBits(entry) - 1);
      code = RoundClamped((level - kTemperatureBase) / scale, -half, half - 1);
      if (level < 0) code += 2 * half;
      break;
    }
  }
  return code & kAlarmCodeMask;
}

double AlarmCodeToLevel(const RegisterTable& table, int source, int32_t code) {
  const Source* s = Find(source);
  if (s == nullptr) return 0.0;
  const RegisterEntry& entry = table[static_cast<size_t>(s->output)];
  const double scale = entry.RegScale;
  code &= kAlarmCodeMask;
  switch (s->format) {
    case Format::Supply:
      return code * scale;
    case Format::Signed14:
      return SignExtend(code, 14) * scale;
    case Format::Temperature: {
      const int bits = OutputBits(entry);
      return SignExtend(code & ((int32_t{1} << bits) - 1), bits) * scale + entry.RegOffset;
    }
  }
  return 0.0;
}

namespace {
constexpr const FieldBits& SourceBits(int alarm) {
  return alarm == 1 ? bits::kAlmCtrlSource1 : bits::kAlmCtrlSource2;
}
}  // namespace

int AlarmSourceField(int32_t almCtrl, int alarm) { return SourceBits(alarm).Get(almCtrl); }

int32_t WithAlarmSource(int32_t almCtrl, int alarm, int source) {
  if (source < 0 || source >= kAlarmSources) return almCtrl;
  return SourceBits(alarm).With(almCtrl, source);
}

int32_t WithRateOfChange(int32_t almCtrl, int alarm, bool enabled) {
  const FieldBits& bit = alarm == 1 ? bits::kAlmCtrlRateOfChange1 : bits::kAlmCtrlRateOfChange2;
  return bit.With(almCtrl, enabled);
}

int32_t WithIndicator(int32_t almCtrl, bool lineOne, bool high, bool enabled) {
  int32_t word = bits::kAlmCtrlIndicatorLine.With(almCtrl, lineOne);
  word = bits::kAlmCtrlIndicatorPolarity.With(word, high);
  return bits::kAlmCtrlIndicatorEnable.With(word, enabled);
}

}  // namespace pemra
