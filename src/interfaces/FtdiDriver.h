#pragma once
// Back end of the FTDI boards: their MPSSE channels found on the bus, one channel opened in
// MPSSE mode, command buffers written and answers read. LibftdiDriver and the simulator's
// SimulatedFtdiDriver implement it; FtdiSpi speaks MPSSE through it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pemra {

inline constexpr uint16_t kFtdiVendorId = 0x0403;
inline constexpr uint16_t kFtdiProductFt2232h = 0x6010;
inline constexpr uint16_t kFtdiProductFt4232h = 0x6011;
inline constexpr uint16_t kFtdiProductFt232h = 0x6014;
// The FT2232D shares the FT2232H's product ID; the device release (bcdDevice) tells them
// apart.
inline constexpr uint16_t kFtdiBcdFt2232d = 0x0500;

// The chip of a product ID and device release ("FT232H", "FT2232H", "FT2232D", "FT4232H"),
// or empty for one without MPSSE.
inline std::string_view FtdiChipName(uint16_t productId, uint16_t bcdDevice) {
  switch (productId) {
    case kFtdiProductFt232h:
      return "FT232H";
    case kFtdiProductFt2232h:
      return bcdDevice == kFtdiBcdFt2232d ? "FT2232D" : "FT2232H";
    case kFtdiProductFt4232h:
      return "FT4232H";
    default:
      return {};
  }
}
// How many of its channels run MPSSE: 1 (FT232H, and the FT2232D, whose channel A alone has
// the engine), 2 (A and B of the dual and quad H parts), 0 for a product without MPSSE.
inline int FtdiMpsseChannels(uint16_t productId, uint16_t bcdDevice) {
  if (productId == kFtdiProductFt232h) return 1;
  if (productId == kFtdiProductFt2232h && bcdDevice == kFtdiBcdFt2232d) return 1;
  return FtdiChipName(productId, bcdDevice).empty() ? 0 : 2;
}
// The base clock of the chip's MPSSE engine: 60 MHz on the H series, 12 MHz on the FT2232D.
inline uint32_t FtdiBaseClockHz(std::string_view chip) {
  return chip == "FT2232D" ? 12'000'000 : 60'000'000;
}

// One MPSSE channel of a board on the bus.
struct FtdiChannel {
  std::string chip;         // "FT232H", "FT2232H", "FT2232D", "FT4232H"
  std::string serial;       // the serial number string; empty when the board has none
  std::string description;  // the product string
  std::string position;     // bus and port path, "1-3" or "1-3.2"
  char channel = 'A';       // 'A' or 'B'
  int channels = 1;         // MPSSE channels of the board (1 or 2)

  bool operator==(const FtdiChannel&) const = default;
};

// "FT5XYZ12" (a single-channel board) or "FT6ABC34:B"; the position stands in for a
// missing serial number ("1-3:A"). This is the text --device and CommPort.cfg take.
inline std::string FtdiDeviceText(const FtdiChannel& channel) {
  std::string text = channel.serial.empty() ? channel.position : channel.serial;
  if (channel.channels > 1) (text += ':') += channel.channel;
  return text;
}
// "FTDI FT232H FT5XYZ12": the board and channel as messages and the status bar name them.
inline std::string FtdiChannelName(const FtdiChannel& channel) {
  return "FTDI " + channel.chip + " " + FtdiDeviceText(channel);
}

class FtdiDriver {
 public:
  using Handle = int;
  static constexpr Handle kNoHandle = -1;

  virtual ~FtdiDriver() = default;

  // The MPSSE channels of the boards present, in bus and port order. False, with
  // LastError, when the bus cannot be listed; a board whose strings cannot be read is
  // listed with empty strings.
  virtual bool List(std::vector<FtdiChannel>& channels) = 0;
  // Opens the channel of the board at `channel.position`: claims it, resets it and puts it
  // in MPSSE mode with its buffers empty. kNoHandle on failure (LastError says which step
  // and why).
  virtual Handle Open(const FtdiChannel& channel) = 0;
  virtual void Close(Handle handle) = 0;
  // Sends a command buffer whole.
  virtual bool Write(Handle handle, const uint8_t* data, size_t length) = 0;
  // Reads exactly `length` bytes of answers, waiting at most a time-out for them.
  virtual bool Read(Handle handle, uint8_t* data, size_t length) = 0;
  // The last Read had to wait for some of its answers (they were not all there when it began).
  virtual bool LastReadWaited() const { return true; }
  // The reason of the last failure, as the library gave it.
  virtual std::string LastError() const = 0;
};

}  // namespace pemra
