#include "interfaces/RegisterListing.h"

#include "core/AtomicFile.h"
#include "core/NumberText.h"
#include "core/Timing.h"

namespace pemra {

std::string RegisterListing(RegisterAccess& access, char decimalSeparator,
                            std::string_view lineEnd, ListingWords* words) {
  std::string text;
  text += "Name\t\tAddr\thexValue\t   decValue";
  text += lineEnd;
  text += "--------------------\t---------\t---------\t   ---------";
  text += lineEnd;
  for (int16_t index = 0; index < kFilledRegisters; ++index) {
    const RegisterEntry& entry = access.Table()[static_cast<size_t>(index)];
    std::string name = entry.RegName;
    name.erase(name.find_last_not_of(' ') + 1);
    text += name;
    text += "     \t";
    text += NumberToHex(entry.RegAddress);
    text += '\t';
    if (entry.RegReadable) {
      access.ReadRegister(index);
      if (words != nullptr) (*words)[static_cast<size_t>(index)] = access.LastWord;
      text += NumberToHex(access.RawValue);
      text += "\t   ";
      text += FormatNumber(access.ScaledValue, "0.0####", decimalSeparator);
    } else {
      if (words != nullptr) (*words)[static_cast<size_t>(index)].reset();
      text += "----\t   ----";
    }
    text += lineEnd;
  }
  return text;
}

bool SaveRegisterListing(const std::filesystem::path& path, std::string_view listing,
                         std::string* error) {
  // Replaced atomically: a failed or killed write leaves the old listing whole.
  std::string text(listing);
  text += "\r\n";
  return ReplaceFileAtomically(path, text, error);
}

}  // namespace pemra
