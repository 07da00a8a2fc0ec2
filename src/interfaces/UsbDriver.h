#pragma once
// Back end of the USB adapter: the adapter device files "Ezusb-0".."Ezusb-3" and the
// requests made of them. LibusbDriver and the simulator's SimulatedUsbDriver implement it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pemra {

inline constexpr uint16_t kAdapterVendorId = 0x5E1B;
inline constexpr uint16_t kProductFifo4 = 0xC4B5;
inline constexpr uint16_t kProductMcp = 0xC4B2;
inline constexpr int kAdapterSlots = 4;

struct UsbPipeInfo {
  uint16_t maxPacketSize = 0;
  uint8_t endpointAddress = 0;  // bit 7 set: IN
};

class UsbDriver {
 public:
  using Handle = int;
  static constexpr Handle kNoHandle = -1;

  virtual ~UsbDriver() = default;

  // Opens the device file "Ezusb-<slot>" ("Ezusb-0".."Ezusb-3"); kNoHandle on failure.
  virtual Handle Open(std::string_view deviceName) = 0;
  virtual void Close(Handle handle) = 0;

  // The standard 18-byte device descriptor (idVendor at byte 8, idProduct at byte 10,
  // little-endian).
  virtual bool GetDeviceDescriptor(Handle handle, std::array<uint8_t, 18>& descriptor) = 0;
  // String descriptor `index` (language 0), at most `maxLength` bytes of it: bLength in
  // byte 0, type in byte 1, UTF-16LE text from byte 2.
  virtual bool GetStringDescriptor(Handle handle, uint8_t index, size_t maxLength,
                                   std::vector<uint8_t>& descriptor) = 0;
  // Pipe k is the k-th endpoint of interface 0.
  virtual bool GetPipeInfo(Handle handle, std::vector<UsbPipeInfo>& pipes) = 0;
  // Bulk OUT / IN on a pipe; `transferred` is the byte count moved.
  virtual bool BulkWrite(Handle handle, int pipe, const uint8_t* data, size_t length,
                         size_t& transferred) = 0;
  virtual bool BulkRead(Handle handle, int pipe, uint8_t* data, size_t length,
                        size_t& transferred) = 0;

  // The reason of the last failure (for example a libusb error name), for the trace.
  virtual std::string LastError() const = 0;
  // Why the last Open failed when an adapter is in that slot but could not be opened (for
  // example no permission); empty when the slot simply holds none.
  virtual std::string OpenFailureReason() const { return {}; }
};

}  // namespace pemra
