#include "core/RegisterFields.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

#include "core/AlarmLevels.h"
#include "core/DeviceModel.h"
#include "core/NumberText.h"
#include "core/OperatingSettings.h"
#include "core/RegisterAccess.h"

namespace pemra {

namespace {

using Choices = std::span<const FieldChoice>;

constexpr FieldChoice kOffOn[] = {{0, "off"}, {1, "on"}};
constexpr FieldChoice kLowHigh[] = {{0, "low"}, {1, "high"}};
constexpr FieldChoice kInputOutput[] = {{0, "input"}, {1, "output"}};
constexpr FieldChoice kNewData[] = {{0, "already read"}, {1, "new sample"}};
constexpr FieldChoice kError[] = {{0, "none"}, {1, "error or alarm (see STATUS)"}};
constexpr FieldChoice kDrLine[] = {{0, "DI/O1"}, {1, "DI/O2"}};
constexpr FieldChoice kIndicatorLine[] = {{0, "DI/O0"}, {1, "DI/O1"}};
constexpr FieldChoice kAutoSelfTest[] = {{0, "off"}, {1, "running"}};
constexpr FieldChoice kTimeBase[] = {{0, "0.61035 ms"}, {1, "18.921 ms"}};
constexpr FieldChoice kPolarity[] = {{0, "less than"}, {1, "greater than"}};
constexpr FieldChoice kCommand[] = {{0, "-"}, {1, "run"}};
constexpr FieldChoice kSupplyLow[] = {{0, "ok"}, {1, "supply below 4.75 V"}};
constexpr FieldChoice kSupplyHigh[] = {{0, "ok"}, {1, "supply above 5.25 V"}};
constexpr FieldChoice kWriteFailed[] = {{0, "ok"}, {1, "control register write failed"}};
constexpr FieldChoice kFrameError[] = {{0, "ok"}, {1, "SPI frame error"}};
constexpr FieldChoice kFlashFailed[] = {{0, "ok"}, {1, "flash update failed"}};
constexpr FieldChoice kSelfTestFailed[] = {{0, "ok"}, {1, "self-test failed"}};
constexpr FieldChoice kReserved[] = {{0, "reads 0"}};
constexpr FieldChoice kAlarm1[] = {{0, "off"}, {1, "alarm 1 active"}};
constexpr FieldChoice kAlarm2[] = {{0, "off"}, {1, "alarm 2 active"}};
constexpr std::array<FieldChoice, kAlarmSources> kSources = [] {
  std::array<FieldChoice, kAlarmSources> sources{};
  for (int i = 0; i < kAlarmSources; ++i) {
    sources[static_cast<size_t>(i)] = {i, kAlarmSourceNames[static_cast<size_t>(i)]};
  }
  return sources;
}();

constexpr FieldAccess RW = FieldAccess::ReadWrite;
constexpr FieldAccess RO = FieldAccess::ReadOnly;
constexpr FieldAccess WO = FieldAccess::WriteOnly;

RegisterField Choice(std::string_view name, FieldBits at, FieldAccess access, Choices choices,
                     bool changesBySelf = false) {
  return RegisterField{name, at, false, access, FieldKind::Choice, choices, {}, changesBySelf};
}

RegisterField Number(std::string_view name, FieldBits at, bool isSigned, FieldKind kind,
                     FieldAccess access = RW, std::string_view unit = {}) {
  return RegisterField{name, at, isSigned, access, kind, {}, unit, false};
}

void AddFields(const RegisterTable& table, int16_t index, std::vector<RegisterField>& f) {
  const RegisterEntry& entry = table[static_cast<size_t>(index)];
  if (index >= reg::SUPPLY_OUT && index <= reg::AUX_ADC) {
    // Output word: new data, error/alarm, then the data in the model's format.
    const auto width = static_cast<int>(std::clamp<int16_t>(entry.RegWidth, 1, 14));
    f.push_back(Number("data", {0, width}, entry.RegSigned, FieldKind::OutputData, RO));
    f.push_back(Choice("error", bits::kError, RO, kError));
    f.push_back(Choice("new_data", bits::kNewData, RO, kNewData));
    return;
  }
  switch (index) {
    case reg::ENDURANCE:
      f.push_back(Number("count", {0, 16}, false, FieldKind::Count, RO, "flash updates"));
      break;
    case reg::XGYRO_OFF:
    case reg::YGYRO_OFF:
    case reg::ZGYRO_OFF:
      f.push_back(Number("offset", {0, 13}, true, FieldKind::GyroOffset));
      break;
    case reg::XACCL_OFF:
    case reg::YACCL_OFF:
    case reg::ZACCL_OFF:
      f.push_back(Number("offset", {0, 12}, true, FieldKind::AccelOffset));
      break;
    case reg::ALM_MAG1:
    case reg::ALM_MAG2:
      f.push_back(Number("level", bits::kAlmMagLevel, false, FieldKind::AlarmLevel));
      f.push_back(Choice("polarity", bits::kAlmMagPolarity, RW, kPolarity));
      break;
    case reg::ALM_SMPL1:
    case reg::ALM_SMPL2:
      f.push_back(Number("samples", {0, 8}, false, FieldKind::Count, RW, "samples"));
      break;
    case reg::ALM_CTRL:
      f.push_back(Choice("indicator_line", bits::kAlmCtrlIndicatorLine, RW, kIndicatorLine));
      f.push_back(Choice("indicator_polarity", bits::kAlmCtrlIndicatorPolarity, RW, kLowHigh));
      f.push_back(Choice("indicator_enable", bits::kAlmCtrlIndicatorEnable, RW, kOffOn));
      f.push_back(Choice("rate_of_change1", bits::kAlmCtrlRateOfChange1, RW, kOffOn));
      f.push_back(Choice("rate_of_change2", bits::kAlmCtrlRateOfChange2, RW, kOffOn));
      f.push_back(Choice("source1", bits::kAlmCtrlSource1, RW, kSources));
      f.push_back(Choice("source2", bits::kAlmCtrlSource2, RW, kSources));
      break;
    case reg::AUX_DAC:
      f.push_back(Number("code", bits::kAuxDacCode, false, FieldKind::DacCode));
      break;
    case reg::GPIO_CTRL:
      f.push_back(Choice("dir0", bits::kGpioDir0, RW, kInputOutput));
      f.push_back(Choice("dir1", bits::kGpioDir1, RW, kInputOutput));
      f.push_back(Choice("level0", bits::kGpioLevel0, RW, kLowHigh));
      f.push_back(Choice("level1", bits::kGpioLevel1, RW, kLowHigh));
      break;
    case reg::MSC_CTRL:
      f.push_back(Choice("dr_line", bits::kMscDrLine, RW, kDrLine));
      f.push_back(Choice("dr_polarity", bits::kMscDrPolarity, RW, kLowHigh));
      f.push_back(Choice("dr_enable", bits::kMscDrEnable, RW, kOffOn));
      f.push_back(Choice("self_test", bits::kMscSelfTest, RW, kOffOn));
      f.push_back(Choice("auto_self_test", bits::kMscAutoSelfTest, RW, kAutoSelfTest, true));
      break;
    case reg::SMPL_PRD:
      f.push_back(Number("multiplier", bits::kSmplPrdMultiplier, false, FieldKind::Multiplier));
      f.push_back(Choice("time_base", bits::kSmplPrdTimeBase, RW, kTimeBase));
      break;
    case reg::SENS_AVG:
      f.push_back(Number("taps_exponent", bits::kSensAvgTapsExponent, false,
                         FieldKind::TapsExponent));
      f.push_back(Number("gyro_range", bits::kSensAvgGyroRange, false, FieldKind::GyroRange));
      break;
    case reg::SLP_CNT: {
      RegisterField sleep = Number("sleep_count", {0, 8}, false, FieldKind::SleepCount);
      sleep.changesBySelf = true;  // asleep, the sensor answers 0
      f.push_back(sleep);
      break;
    }
    case reg::STATUS:
      f.push_back(Choice("supply_low", {0, 1}, RO, kSupplyLow));
      f.push_back(Choice("supply_high", {1, 1}, RO, kSupplyHigh));
      f.push_back(Choice("control_write_failed", {2, 1}, RO, kWriteFailed));
      f.push_back(Choice("spi_frame_error", {3, 1}, RO, kFrameError));
      f.push_back(Choice("flash_update_failed", {4, 1}, RO, kFlashFailed));
      f.push_back(Choice("self_test_failed", {5, 1}, RO, kSelfTestFailed));
      f.push_back(Choice("alarm1", {8, 1}, RO, kAlarm1));
      f.push_back(Choice("alarm2", {9, 1}, RO, kAlarm2));
      break;
    case reg::COMMAND:
      f.push_back(Choice("auto_null", {0, 1}, WO, kCommand));
      f.push_back(Choice("factory_restore", {1, 1}, WO, kCommand));
      f.push_back(Choice("dac_latch", {2, 1}, WO, kCommand));
      f.push_back(Choice("flash_update", {3, 1}, WO, kCommand));
      f.push_back(Choice("precision_auto_null", {4, 1}, WO, kCommand));
      f.push_back(Choice("software_reset", {7, 1}, WO, kCommand));
      break;
    case reg::Reserved:
      f.push_back(Choice("reserved", {0, 16}, RO, kReserved));
      break;
    default:
      break;
  }
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Five significant digits, the way a data sheet gives periods and rates.
std::string Significant5(double value, char separator) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.5g", value);
  std::string text(buffer);
  std::replace(text.begin(), text.end(), '.', separator);
  return text;
}

std::string Units(float value, std::string_view unit, char separator) {
  return GeneralText(value, separator) + " " + std::string(unit);
}

std::string_view OutputUnit(const RegisterTable& table, int16_t index) {
  if (index == reg::SUPPLY_OUT || index == reg::AUX_ADC) return "V";
  if (index <= reg::ZGYRO_OUT) return "deg/s";
  if (index <= reg::ZACCL_OUT) return "g";
  // Model 21410 puts pitch and roll angles where the other models have temperatures.
  const std::string& name = table[static_cast<size_t>(index)].RegName;
  if (name.starts_with("Pitch") || name.starts_with("Roll")) return "deg";
  return "degC";
}

std::string AlarmLevelMeaning(const RegisterTable& table, int16_t index, int32_t code,
                              const FieldContext& context) {
  if (!context.almCtrl) return "trigger code (source in ALM_CTRL)";
  const int alarm = index == reg::ALM_MAG1 ? 1 : 2;
  const int source = AlarmSourceField(*context.almCtrl, alarm);
  if (source == 0) return "alarm off (source Disabled)";
  if (source >= kAlarmSources) return "no source (code " + std::to_string(source) + ")";
  const double level = AlarmCodeToLevel(table, source, code);
  return FormatNumber(level, "#0.000", context.decimalSeparator) + " " +
         // Source codes 1..11 are the output registers' table indexes.
         std::string(OutputUnit(table, static_cast<int16_t>(source))) + " (" +
         std::string(kAlarmSourceNames[static_cast<size_t>(source)]) + ")";
}

}  // namespace

int32_t RegisterField::ValueIn(int32_t word) const {
  const int32_t raw = bits.Get(word);
  if (!isSigned) return raw;
  const int32_t sign = int32_t{1} << (bits.width - 1);
  return (raw & (sign - 1)) - (raw & sign);
}

std::vector<RegisterField> RegisterFields(const RegisterTable& table, int16_t index) {
  std::vector<RegisterField> fields;
  if (index < 0 || index >= kFilledRegisters) return fields;
  AddFields(table, index, fields);
  return fields;
}

std::optional<RegisterField> FindField(const RegisterTable& table, int16_t index,
                                       std::string_view name) {
  for (const RegisterField& field : RegisterFields(table, index)) {
    if (SameName(field.name, name)) return field;
  }
  return std::nullopt;
}

std::string BitsText(const FieldBits& at) {
  if (at.width == 1) return std::to_string(at.lowBit);
  return std::to_string(at.lowBit) + "-" + std::to_string(at.lowBit + at.width - 1);
}

std::string FieldMeaning(const RegisterTable& table, int16_t index, const RegisterField& field,
                         int32_t word, const FieldContext& context) {
  const char sep = context.decimalSeparator;
  const int32_t value = field.ValueIn(word);
  switch (field.kind) {
    case FieldKind::Choice:
      for (const FieldChoice& choice : field.choices) {
        if (choice.value == value) return std::string(choice.meaning);
      }
      return "not defined";
    case FieldKind::OutputData: {
      const RegisterEntry& entry = table[static_cast<size_t>(index)];
      std::string text = Units(ConvertWord(entry, word).ScaledValue, OutputUnit(table, index), sep);
      if (context.model == 21410 && (index == reg::YGYRO_OUT || index == reg::ZGYRO_OUT)) {
        text += " (model 21410 has no such gyro)";
      }
      return text;
    }
    case FieldKind::GyroOffset:
      return Units(static_cast<float>(value * (GyroBaseScale(context.model) / 4.0)), "deg/s", sep);
    case FieldKind::AccelOffset:
      return Units(static_cast<float>(value * double(table[reg::XACCL_OUT].RegScale)), "g", sep);
    case FieldKind::AlarmLevel:
      return AlarmLevelMeaning(table, index, value, context);
    case FieldKind::Multiplier: {
      const double periodMs = 1000.0 / SampleRateOfWord(word);
      return "sample period " + Significant5(periodMs, sep) + " ms, " +
             Significant5(SampleRateOfWord(word), sep) + " samples/s";
    }
    case FieldKind::TapsExponent:
      return value == 0 ? "1 tap" : std::to_string(int32_t{1} << value) + " taps";
    case FieldKind::GyroRange: {
      const float base = GyroBaseScale(context.model);
      const char* name = value == 4 ? "highest" : value == 2 ? "middle" : value == 1 ? "lowest"
                                                                                   : nullptr;
      if (name == nullptr) return "not a range code";
      return std::string(name) + " range, " +
             GeneralText(static_cast<float>(base / (value == 4 ? 1.0 : value == 2 ? 2.0 : 4.0)),
                         sep) +
             " deg/s per LSB";
    }
    case FieldKind::DacCode:
      return FormatNumber(DacVolts(value), "0.0####", sep) + " V";
    case FieldKind::SleepCount:
      if (value == 0) return "awake";
      return "sleep " + FormatNumber(value * 0.5, "0.0", sep) + " s";
    case FieldKind::Count:
      return std::to_string(value) + " " + std::string(field.unit);
  }
  return {};
}

DecodedField DecodeField(const RegisterTable& table, int16_t index, const RegisterField& field,
                         int32_t word, const FieldContext& context) {
  return DecodedField{std::string(field.name), BitsText(field.bits), field.ValueIn(word),
                      FieldMeaning(table, index, field, word, context)};
}

std::vector<DecodedField> DecodeRegister(const RegisterTable& table, int16_t index,
                                         int32_t word, const FieldContext& context) {
  std::vector<DecodedField> decoded;
  for (const RegisterField& field : RegisterFields(table, index)) {
    decoded.push_back(DecodeField(table, index, field, word, context));
  }
  return decoded;
}

std::string FieldLines(const std::vector<DecodedField>& fields, std::string_view lineEnd) {
  std::string text;
  for (const DecodedField& field : fields) {
    text += "  " + field.name + "\t" + field.bits + "\t" + std::to_string(field.value) + "\t" +
            field.meaning;
    text += lineEnd;
  }
  return text;
}

}  // namespace pemra
