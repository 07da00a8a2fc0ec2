#pragma once
// The listing of all 32 registers that the manual register window shows, saves to
// Registers_LOG.txt and prints, and that pemra-cli's dump writes.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/RegisterAccess.h"

namespace pemra {

inline constexpr std::string_view kRegisterLogFileName = "Registers_LOG.txt";

// Reads entries 0 to 31 in order and builds the listing: a heading of two lines, then one
// line per entry (name, address, value in hex, value in units), each line ended by
// `lineEnd`. An entry that cannot be read shows "----" in both value columns, since no
// read takes place for it. `words`, when given, receives the whole word read for each entry
// (empty for an entry not read), from which its fields are decoded.
using ListingWords = std::array<std::optional<int32_t>, kFilledRegisters>;
std::string RegisterListing(RegisterAccess& access, char decimalSeparator = '.',
                            std::string_view lineEnd = "\r\n", ListingWords* words = nullptr);

// Writes the listing text followed by one more CR LF, replacing the file atomically. On
// failure returns false, leaves any old file as it was, and puts the file name and the
// system's reason in `error`.
bool SaveRegisterListing(const std::filesystem::path& path, std::string_view listing,
                         std::string* error = nullptr);

}  // namespace pemra
