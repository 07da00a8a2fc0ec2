#pragma once
// Every register as named fields: where each field sits in the 16-bit word, whether it is
// signed, read-only or write-only, and what each of its values means (a name, a count, or a
// value in physical units through the model's scales). The conversions of the windows take
// their bit positions from here.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/RegisterTable.h"

namespace pemra {

// Bits lowBit .. lowBit + width - 1 of a register word.
struct FieldBits {
  int lowBit = 0;
  int width = 1;

  constexpr int32_t Mask() const { return ((int32_t{1} << width) - 1) << lowBit; }
  // The field's bits as an unsigned number.
  constexpr int32_t Get(int32_t word) const { return (word & Mask()) >> lowBit; }
  // The word with this field replaced by the low `width` bits of `value`.
  constexpr int32_t With(int32_t word, int32_t value) const {
    return (word & ~Mask()) | ((value << lowBit) & Mask());
  }
};

// Bit positions the conversions of the windows use.
namespace bits {
inline constexpr FieldBits kNewData{15, 1};  // output registers
inline constexpr FieldBits kError{14, 1};
inline constexpr FieldBits kSmplPrdMultiplier{0, 7};
inline constexpr FieldBits kSmplPrdTimeBase{7, 1};
inline constexpr FieldBits kSensAvgTapsExponent{0, 3};
inline constexpr FieldBits kSensAvgGyroRange{8, 3};
inline constexpr FieldBits kGpioDir0{0, 1};
inline constexpr FieldBits kGpioDir1{1, 1};
inline constexpr FieldBits kGpioLevel0{8, 1};
inline constexpr FieldBits kGpioLevel1{9, 1};
inline constexpr FieldBits kMscDrLine{0, 1};
inline constexpr FieldBits kMscDrPolarity{1, 1};
inline constexpr FieldBits kMscDrEnable{2, 1};
inline constexpr FieldBits kMscSelfTest{8, 1};
inline constexpr FieldBits kMscAutoSelfTest{10, 1};
inline constexpr FieldBits kAlmMagLevel{0, 14};
inline constexpr FieldBits kAlmMagPolarity{15, 1};
inline constexpr FieldBits kAlmCtrlIndicatorLine{0, 1};
inline constexpr FieldBits kAlmCtrlIndicatorPolarity{1, 1};
inline constexpr FieldBits kAlmCtrlIndicatorEnable{2, 1};
inline constexpr FieldBits kAlmCtrlIndicator{0, 3};  // line, polarity and enable together
inline constexpr FieldBits kAlmCtrlRateOfChange1{6, 1};
inline constexpr FieldBits kAlmCtrlRateOfChange2{7, 1};
inline constexpr FieldBits kAlmCtrlSource1{8, 4};
inline constexpr FieldBits kAlmCtrlSource2{12, 4};
inline constexpr FieldBits kAuxDacCode{0, 12};
}  // namespace bits

enum class FieldAccess { ReadWrite, ReadOnly, WriteOnly };

// What a field's value stands for, which decides its meaning text and how the register
// window edits it.
enum class FieldKind {
  Choice,        // each value has a name
  OutputData,    // the output's data at the table's scale and offset
  GyroOffset,    // a quarter of the gyro output LSB at the highest range
  AccelOffset,   // the accelerometer output LSB
  AlarmLevel,    // a trigger level in the format of the alarm's source
  Multiplier,    // SMPL_PRD Ns, with the period and rate of the whole word
  TapsExponent,  // 2^N filter taps
  GyroRange,     // range code 4 / 2 / 1
  DacCode,       // 12-bit code, 2.5 V full scale
  SleepCount,    // 0.5 s steps
  Count,         // a plain count with a unit word
};

struct FieldChoice {
  int32_t value;
  std::string_view meaning;
};

struct RegisterField {
  std::string_view name;  // lower case with underscores
  FieldBits bits;
  bool isSigned = false;
  FieldAccess access = FieldAccess::ReadWrite;
  FieldKind kind = FieldKind::Choice;
  std::span<const FieldChoice> choices;  // Choice: the named values
  std::string_view unit;                 // Count: what is counted ("samples")
  // The sensor changes the field by itself after a write (a self-test that ends, a sleep
  // that makes reads answer 0): a read-back that differs is no failure.
  bool changesBySelf = false;

  bool Writable() const { return access != FieldAccess::ReadOnly; }
  int32_t Min() const { return isSigned ? -(int32_t{1} << (bits.width - 1)) : 0; }
  int32_t Max() const {
    return isSigned ? (int32_t{1} << (bits.width - 1)) - 1 : (int32_t{1} << bits.width) - 1;
  }
  // The field's value in a word, sign-extended for signed fields.
  int32_t ValueIn(int32_t word) const;
};

// The fields of an entry for the model the table is set to (the data width of an output
// register is its entry's width: 12 or 14 bits of supply, 13-bit angles on model 21410).
// Lowest bits first; empty for indexes outside 0..31.
std::vector<RegisterField> RegisterFields(const RegisterTable& table, int16_t index);
// A field of an entry by name (any case); empty when the entry has no such field.
std::optional<RegisterField> FindField(const RegisterTable& table, int16_t index,
                                       std::string_view name);

// "2" for one bit, "0-6" for several.
std::string BitsText(const FieldBits& bits);

// One field of a word, decoded.
struct DecodedField {
  std::string name;
  std::string bits;     // BitsText
  int32_t value = 0;    // sign-extended for signed fields
  std::string meaning;  // "on", "sample period 1.2207 ms, 819.2 samples/s", "-0.07326 deg/s"
};

// What decoding needs besides the word.
struct FieldContext {
  int16_t model = 0;                // DeviceType: gyro base scale, axes the model lacks
  std::optional<int32_t> almCtrl;   // ALM_CTRL word, for the level of ALM_MAG1/2 in units
  char decimalSeparator = '.';
};

// One field of a word, decoded.
DecodedField DecodeField(const RegisterTable& table, int16_t index, const RegisterField& field,
                         int32_t word, const FieldContext& context);
// Every field of an entry in a word, lowest bits first, for the model the table is set to.
std::vector<DecodedField> DecodeRegister(const RegisterTable& table, int16_t index,
                                         int32_t word, const FieldContext& context);
// The meaning of one value of a field (the word supplies the rest, e.g. the time base).
std::string FieldMeaning(const RegisterTable& table, int16_t index, const RegisterField& field,
                         int32_t word, const FieldContext& context);

// "  FIELD<TAB>BITS<TAB>VALUE<TAB>MEANING" lines, each ended by `lineEnd`.
std::string FieldLines(const std::vector<DecodedField>& fields, std::string_view lineEnd = "\n");

}  // namespace pemra
