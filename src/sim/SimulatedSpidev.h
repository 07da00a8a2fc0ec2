#pragma once
// Simulated spidev nodes behind the spidev back-end interface. A node keeps its mode, word
// size and speed as set, and runs each transfer of a message on the lines to the sensor with
// them: a mode other than 3, a bit order or chip-select polarity the sensor does not use, or
// a clock above 2 MHz give the words the real part would give. A node may refuse 16-bit
// words (as some controllers do). For tests: faults (permission, a failed message, the node
// gone) and a record of the messages. With the timing model a message costs one system call
// (kSpidevCallTime) plus the bus time of its words and delays.

#include <cstdint>
#include <deque>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "interfaces/SpidevDriver.h"
#include "sim/SpiWire.h"
#include "sim/TransferFaults.h"

namespace pemra::sim {

struct SpidevNodeOptions {
  std::string path = "/dev/spidev0.0";
  bool sixteenBitWords = true;  // false: the controller takes 8-bit words only
  // spidev copies a message's transmit and receive data into buffers of kSpidevBufferSize
  // bytes each, every transfer's length rounded up to the kernel's allocation alignment: 128
  // bytes on arm64 (at most 32 short transfers per message), 8 on x86-64.
  uint32_t transferAlignment = 128;
};

inline constexpr Nanoseconds kSpidevCallTime = std::chrono::microseconds(20);
inline constexpr uint32_t kSpidevBufferSize = 4096;
// Chip select high between two transfers with cs_change: the SPI core's default, which spidev
// cannot change.
inline constexpr Nanoseconds kSpiCoreCsChangeDelay = std::chrono::microseconds(10);

// One node's settings and its lines to the sensor.
class SpidevNode {
 public:
  SpidevNode(SpiSlave* slave, const SpidevNodeOptions& options);

  // As the kernel takes them: false for a value the controller refuses.
  bool SetMode(uint8_t mode);
  bool SetBitsPerWord(uint8_t bits);
  bool SetMaxSpeed(uint32_t hz);
  uint8_t Mode() const { return mode_; }
  uint8_t BitsPerWord() const { return bits_; }
  uint32_t MaxSpeed() const { return speed_; }
  const SpidevNodeOptions& Options() const { return options_; }

  // One message, started at `now` on the host's clock; false (nothing clocked) when a
  // transfer asks for what the node refuses, with the reason (errno text) in `error`. Each
  // transfer's delay_usecs passes with chip select still active; cs_change releases it for the
  // SPI core's default delay. Returns the bus time through `busy`.
  bool Run(std::span<const SpiTransfer> transfers, Nanoseconds now, Nanoseconds& busy,
           std::string& error);
  // The host's clock when the message's work ended.
  void Done(Nanoseconds now) { wire_.Pause(now); }
  uint64_t FramesOutsideLimits() const { return wire_.FramesOutsideLimits(); }

 private:
  SpidevNodeOptions options_;
  SpiWire wire_;
  uint8_t mode_ = 0;
  uint8_t bits_ = 8;
  uint32_t speed_ = 500'000;
};

class SimulatedSpidevDriver final : public SpidevDriver {
 public:
  SimulatedSpidevDriver(SpiSlave& slave, Clock& clock, const std::vector<SpidevNodeOptions>& nodes);

  bool List(std::vector<std::string>& paths) override;
  Handle Open(const std::string& path) override;
  void Close(Handle handle) override;
  bool SetMode(Handle handle, uint8_t mode) override;
  bool SetBitsPerWord(Handle handle, uint8_t bits) override;
  bool SetMaxSpeed(Handle handle, uint32_t hz) override;
  bool Message(Handle handle, std::span<const SpiTransfer> transfers) override;
  std::string LastError() const override { return lastError_; }

  SpidevNode& Node(size_t index) { return nodes_.at(index); }
  size_t OpenHandles() const { return handles_.size(); }

  // ---- faults ----
  // Opening fails as for a node of group `group` the user is not in.
  void RefuseOpen(std::string group) { refusedGroup_ = std::move(group); }
  void FailNthMessage(uint64_t n) { faults_.FailNth(n); }
  // After n more messages the nodes are gone (every request fails with "No such device").
  void UnplugAfter(uint64_t n) { faults_.GoneAfter(n); }

  void SetTimingModel(bool on) { timingModel_ = on; }
  uint64_t Messages() const { return faults_.Count(); }

 private:
  SpidevNode* NodeOf(Handle handle);
  bool Gone() const { return faults_.Gone(); }
  bool Fail(std::string reason);

  Clock& clock_;
  std::vector<SpidevNode> nodes_;
  std::map<Handle, size_t> handles_;
  Handle nextHandle_ = 3;
  std::string lastError_;
  std::string refusedGroup_;
  TransferFaults faults_;
  bool timingModel_ = false;
};

}  // namespace pemra::sim
