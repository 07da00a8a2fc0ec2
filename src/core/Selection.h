#pragma once
// The interface, port address and sensor model remembered between runs in CommPort.cfg.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace pemra {

// InterfaceType values.
inline constexpr int16_t kInterfaceParallel = 1;
inline constexpr int16_t kInterfaceUsb = 2;
inline constexpr int16_t kInterfaceFtdi = 3;    // an FTDI board's MPSSE channel
inline constexpr int16_t kInterfaceSpidev = 4;  // a Linux spidev node

struct Selection {
  int16_t InterfaceType = 0;  // 1 parallel port, 2 USB adapter, 3 FTDI, 4 spidev, else none
  int16_t PortAddress = 0;    // parallel-port base; above 0x7FFF held negative
  int16_t FactoryMode = 0;    // kept in the file only
  int16_t DeviceType = 0;     // model code, e.g. 21420
  // Interfaces 3 and 4: the board ("SERIAL", "SERIAL:B", a bus position "1-3" or "1-3:B")
  // or the spidev node ("/dev/spidev0.0"); empty: the first one found.
  std::string Device = {};

  bool operator==(const Selection&) const = default;
};

// Longest "Device" value the file keeps; a longer one is not a device name.
inline constexpr size_t kMaxDeviceText = 255;

inline constexpr std::string_view kConfigFileName = "CommPort.cfg";

// Applies the settings found in the text of a configuration file to `selection`.
// Lines may end in CR LF, LF or CR; a line without "=" or whose value is not a 16-bit
// integer is ignored; unknown keys are ignored; a later line wins. "Device" takes its text
// (blanks around it dropped; empty, longer than kMaxDeviceText or holding a control
// character: ignored).
void ParseConfigText(std::string_view text, Selection& selection);
// The four lines exactly as written to the file (CR LF line ends), then, for interfaces 3
// and 4 with a device named, "Device = " and the device text. A device text that could not
// be read back as written (a comma, a control character, blanks at its ends) is left out.
std::string FormatConfigText(const Selection& selection);

// Reads the file into `selection`; a missing or unreadable file, or anything but a regular
// file, changes nothing and returns false. The whole file is read; lines longer than
// 64 KiB are skipped.
bool ReadConfigFile(Selection& selection,
                    const std::filesystem::path& path = std::filesystem::path(kConfigFileName));
// Replaces the file atomically (temporary file beside it, then rename; a symbolic link's
// target is replaced, permissions are never widened). On failure returns false and puts the
// file name and the system's reason in `error`.
bool WriteConfigFile(const Selection& selection,
                     const std::filesystem::path& path = std::filesystem::path(kConfigFileName),
                     std::string* error = nullptr);

// What reading the file at start found; it decides what the save at exit may do.
enum class ConfigFileState {
  Missing,       // no such file: the save creates it
  Loaded,        // read; its settings (if any) were taken
  Unreadable,    // there, but could not be read (no permission, not a regular file, ...)
  Unrecognised,  // read, but not one line of it was a setting: kept as .bak when replaced
};
struct ConfigFileStatus {
  ConfigFileState state = ConfigFileState::Missing;
  std::string reason;  // Unreadable: the file and the system's reason
};

// Reads the file like ReadConfigFile (a leading UTF-8 byte-order mark is skipped) and says
// what it found.
ConfigFileStatus LoadConfigFile(Selection& selection,
                                const std::filesystem::path& path =
                                    std::filesystem::path(kConfigFileName));
// The save at exit: a file that could not be read at start is left alone (true, nothing
// written: its settings were never seen, so they must not be replaced); a file with no
// recognised line is first kept as "<file>.bak"; otherwise as WriteConfigFile.
bool SaveConfigFile(const Selection& selection, const std::filesystem::path& path,
                    const ConfigFileStatus& loaded, std::string* error = nullptr);
// Removes the temporary files that a write killed part-way left beside the file. Returns
// how many were removed.
int RemoveStaleConfigTemporaries(
    const std::filesystem::path& path = std::filesystem::path(kConfigFileName));

}  // namespace pemra
