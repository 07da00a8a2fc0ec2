#pragma once
// The interface, port address and sensor model remembered between runs in CommPort.cfg.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace pemra {

struct Selection {
  int16_t InterfaceType = 0;  // 1 parallel port, 2 USB adapter, anything else none
  int16_t PortAddress = 0;    // parallel-port base; above 0x7FFF held negative
  int16_t FactoryMode = 0;    // kept in the file only
  int16_t DeviceType = 0;     // model code, e.g. 21420

  bool operator==(const Selection&) const = default;
};

inline constexpr std::string_view kConfigFileName = "CommPort.cfg";

// Applies the settings found in the text of a configuration file to `selection`.
// Lines may end in CR LF, LF or CR; a line without "=" or whose value is not a 16-bit
// integer is ignored; unknown keys are ignored; a later line wins.
void ParseConfigText(std::string_view text, Selection& selection);
// The four lines exactly as written to the file (CR LF line ends).
std::string FormatConfigText(const Selection& selection);

// Reads the file into `selection`; a missing or unreadable file, or anything but a regular
// file, changes nothing and returns false. The whole file is read; lines longer than
// 64 KiB are skipped.
bool ReadConfigFile(Selection& selection,
                    const std::filesystem::path& path = std::filesystem::path(kConfigFileName));
// Replaces the file atomically (temporary file beside it, then rename). On failure returns
// false and puts the file name and the system's reason in `error`.
bool WriteConfigFile(const Selection& selection,
                     const std::filesystem::path& path = std::filesystem::path(kConfigFileName),
                     std::string* error = nullptr);

}  // namespace pemra
