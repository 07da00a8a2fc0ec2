#include "core/FieldWrite.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "core/LowPower.h"
#include "core/Timing.h"

namespace pemra {

namespace {

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::optional<int64_t> Integer(std::string_view text, int base) {
  int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || error != std::errc{} || stop != end) return std::nullopt;
  return value;
}

}  // namespace

std::optional<int32_t> ParseFieldValue(const RegisterField& field, std::string_view text) {
  for (const FieldChoice& choice : field.choices) {
    if (SameText(choice.meaning, text)) return choice.value;
  }
  std::optional<int64_t> value;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    if (!text.starts_with('-') && !text.starts_with('+')) value = Integer(text, 16);
  } else if (!text.starts_with('+')) {
    value = Integer(text, 10);
  }
  // Far outside any field: still a number, refused as not fitting rather than as text.
  if (!value) return std::nullopt;
  return static_cast<int32_t>(std::clamp<int64_t>(*value, INT32_MIN, INT32_MAX));
}

std::string FieldFullName(const RegisterEntry& entry, const RegisterField& field) {
  return entry.RegName + "." + std::string(field.name);
}

std::optional<std::string> FieldWriteRefusal(const RegisterEntry& entry,
                                             const RegisterField& field, int32_t value) {
  const std::string name = FieldFullName(entry, field);
  if (!field.Writable() || !entry.RegWritable) return name + " is read-only";
  if (value < field.Min() || value > field.Max()) {
    return std::to_string(value) + " does not fit " + name + " (bits " + BitsText(field.bits) +
           "): give " + std::to_string(field.Min()) + " to " + std::to_string(field.Max());
  }
  return std::nullopt;
}

FieldWriteResult WriteField(RegisterAccess& access, int16_t index, const RegisterField& field,
                            int32_t value) {
  FieldWriteResult result;
  if (index < 0 || index >= kFilledRegisters) {
    result.refusal = "no register " + std::to_string(index);
    return result;
  }
  const RegisterEntry& entry = access.Table()[static_cast<size_t>(index)];
  if (const auto refusal = FieldWriteRefusal(entry, field, value)) {
    result.refusal = *refusal;
    return result;
  }
  result.readBack = entry.RegReadable;
  if (result.readBack) {
    access.ReadRegister(index);
    result.oldWord = access.LastWord;
  }
  result.newWord = field.bits.With(result.oldWord, value) & 0xFFFF;
  if (index == reg::SMPL_PRD && access.CurrentSelection().InterfaceType == 2 &&
      result.newWord > kMaxUsbSamplePeriod) {
    result.refusal = "SMPL_PRD " + NumberToHex(result.newWord) +
                     " would put the sensor into low-power sampling, which the USB adapter "
                     "cannot follow: over the adapter SMPL_PRD stays at 0009 or below";
    return result;
  }
  access.WriteRegister(index, result.newWord);
  if (result.readBack) {
    access.ReadRegister(index);
    result.readBackWord = access.LastWord;
    result.holds = field.bits.Get(result.readBackWord) == field.bits.Get(result.newWord);
  }
  return result;
}

}  // namespace pemra
