#pragma once
// One field of a register written alone: the register is read, the field replaced, the word
// written and read back, so every other bit keeps what the sensor held.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/RegisterAccess.h"
#include "core/RegisterFields.h"

namespace pemra {

// A typed field value: a decimal number (a minus sign for signed fields), 0x and hex digits,
// or the name of one of the field's values ("on", "DI/O2", any case). Empty when the text is
// none of these; whether the value fits the field is checked by FieldWriteRefusal.
std::optional<int32_t> ParseFieldValue(const RegisterField& field, std::string_view text);

// "MSC_CTRL.dr_enable".
std::string FieldFullName(const RegisterEntry& entry, const RegisterField& field);

// Why a value cannot be written to a field at all (a read-only field, a value outside the
// field's width), or empty.
std::optional<std::string> FieldWriteRefusal(const RegisterEntry& entry,
                                             const RegisterField& field, int32_t value);

struct FieldWriteResult {
  std::string refusal;  // not empty: nothing was written
  bool readBack = false;  // read before and after (not for a write-only register)
  int32_t oldWord = 0;    // the word read before
  int32_t newWord = 0;    // the word written
  int32_t readBackWord = 0;
  // The field reads back as written (or there is nothing to read back). Other bits may read
  // otherwise by the sensor's own doing: the level of a line set as input reads the pin.
  bool holds = true;

  bool Written() const { return refusal.empty(); }
};

// Reads the register, replaces the field with `value`, writes the word and reads it back:
// one read, one write and one read (two frames each). A write-only register (COMMAND) is
// written with that field alone, with neither read. Refused with nothing sent for a
// read-only field or a value outside the field; refused after the first read, with nothing
// written, when the new SMPL_PRD word would put the sensor into low-power sampling over the
// USB adapter (a word above 9), which the adapter cannot follow.
FieldWriteResult WriteField(RegisterAccess& access, int16_t index, const RegisterField& field,
                            int32_t value);

}  // namespace pemra
