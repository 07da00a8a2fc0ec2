#pragma once
// The USB-to-SPI adapter's firmware: the byte commands it takes on pipe 0 and the replies it
// queues for the next bulk IN on pipe 1. Exchanges clock words out on a chip-select channel;
// only channel 1 has the sensor on it, the others read 0xFFFF (nothing drives the line).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/SpiSlave.h"

namespace pemra::sim {

namespace firmware {
inline constexpr uint8_t Revision = 0x00;     // reply: major, minor
inline constexpr uint8_t ReadSetup = 0x01;    // reply: delay, static bits
inline constexpr uint8_t SetDelay = 0x0B;     // 0x0B, delay
inline constexpr uint8_t SetBits = 0x0C;      // 0x0C, bits
inline constexpr uint8_t ExchangePos = 0x0D;  // 0x0D, channel, n, n words; reply: n words
inline constexpr uint8_t ExchangeNeg = 0x0E;  // the same, sampling on the wrong edge
inline constexpr uint8_t kRevisionMajor = 2;
inline constexpr uint8_t kRevisionMinor = 1;
inline constexpr uint8_t kSensorChannel = 1;
}  // namespace firmware

class AdapterFirmware {
 public:
  // `slave` is the sensor on chip-select channel 1 (none: every channel reads 0xFFFF).
  explicit AdapterFirmware(SpiSlave* slave = nullptr) : slave_(slave) {}

  // One message received on pipe 0. A message the firmware does not know, or whose length
  // does not match its command, is dropped and queues nothing. Returns the number of words
  // exchanged with the SPI bus (for the timing model).
  size_t Receive(const uint8_t* data, size_t length);

  // The reply for the next bulk IN on pipe 1; a new reply replaces one not yet read.
  bool HasReply() const { return reply_.has_value(); }
  std::vector<uint8_t> TakeReply();

  uint8_t Delay() const { return delay_; }          // microseconds between words
  uint8_t StaticBits() const { return staticBits_; }
  uint8_t LastChannel() const { return lastChannel_; }
  uint64_t MessagesDropped() const { return dropped_; }

 private:
  SpiSlave* slave_;
  std::optional<std::vector<uint8_t>> reply_;
  uint8_t delay_ = 25;
  uint8_t staticBits_ = 0x78;
  uint8_t lastChannel_ = 0;
  uint64_t dropped_ = 0;
};

}  // namespace pemra::sim
