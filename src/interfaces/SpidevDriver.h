#pragma once
// Back end of the Linux SPI user-space interface: the spidev nodes, their mode, word size and
// clock, and messages of several transfers. LinuxSpidevDriver and the simulator's
// SimulatedSpidevDriver implement it; SpidevSpi builds the frames.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pemra {

// One transfer of a message, as the kernel takes it: `length` bytes out of `tx` and into
// `rx`; with 16-bit words each word is two bytes in the machine's byte order. With
// `csChange` the chip select is released after this transfer (before the next one);
// `delayUsecs` waits after the transfer, before the chip select changes.
struct SpiTransfer {
  const uint8_t* tx = nullptr;
  uint8_t* rx = nullptr;
  uint32_t length = 0;
  uint32_t speedHz = 0;  // 0: the node's speed
  uint16_t delayUsecs = 0;
  uint8_t bitsPerWord = 0;  // 0: the node's word size
  bool csChange = false;
};

class SpidevDriver {
 public:
  using Handle = int;
  static constexpr Handle kNoHandle = -1;

  virtual ~SpidevDriver() = default;

  // The spidev nodes present ("/dev/spidev0.0", ...), sorted. False, with LastError, when
  // they cannot be listed.
  virtual bool List(std::vector<std::string>& paths) = 0;
  // kNoHandle on failure; LastError names the node and the reason (for a permission
  // error, the group to join).
  virtual Handle Open(const std::string& path) = 0;
  virtual void Close(Handle handle) = 0;
  // Each sets the value and reads it back; false when the controller refuses it.
  virtual bool SetMode(Handle handle, uint8_t mode) = 0;
  virtual bool SetBitsPerWord(Handle handle, uint8_t bits) = 0;
  virtual bool SetMaxSpeed(Handle handle, uint32_t hz) = 0;
  // One message (one SPI_IOC_MESSAGE): the transfers in order.
  virtual bool Message(Handle handle, std::span<const SpiTransfer> transfers) = 0;
  virtual std::string LastError() const = 0;
};

inline constexpr uint8_t kSpiMode3 = 0x03;  // clock idles high, data taken on the rising edge

}  // namespace pemra
