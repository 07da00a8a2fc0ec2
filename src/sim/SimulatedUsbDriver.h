#pragma once
// Up to four simulated USB-to-SPI adapters behind the adapter back-end interface: device files
// "Ezusb-0".."Ezusb-3", descriptors, string descriptors, pipe information (full or high
// speed) and bulk transfers that run the adapter firmware against the sensor. For tests it
// records every bulk transfer and injects faults: fail the n-th transfer, fail everything
// after a point (unplugged), fail the open.

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "interfaces/UsbDriver.h"
#include "sim/AdapterFirmware.h"
#include "sim/SpiSlave.h"

namespace pemra::sim {

struct AdapterOptions {
  bool present = false;
  uint16_t productId = kProductFifo4;  // kProductMcp, or any other ID for an unknown board
  bool highSpeed = true;               // maximum packet size 512, else 64 (full speed)
};

inline constexpr const char* kManufacturerText = "Tolvane";
inline constexpr const char* kProductText = "USB SPI Buffer";

// Pipes of interface 0.
inline constexpr std::array<uint8_t, 4> kPipeEndpoints = {0x02, 0x86, 0x04, 0x88};

// Timing model: a bulk transfer costs one USB service interval, plus, for an exchange, the SPI
// time of its words (16 clocks at 2 MHz) and the firmware's delay after each word.
inline constexpr Nanoseconds kHighSpeedInterval = std::chrono::microseconds(125);
inline constexpr Nanoseconds kFullSpeedInterval = std::chrono::milliseconds(1);
inline constexpr Nanoseconds kSpiWordTime = std::chrono::microseconds(8);

class SimulatedUsbDriver final : public UsbDriver {
 public:
  // `slave`: the sensor every adapter's chip-select channel 1 is wired to.
  SimulatedUsbDriver(SpiSlave& slave, Clock& clock,
                     const std::array<AdapterOptions, kAdapterSlots>& slots);

  Handle Open(std::string_view deviceName) override;
  void Close(Handle handle) override;
  bool GetDeviceDescriptor(Handle handle, std::array<uint8_t, 18>& descriptor) override;
  bool GetStringDescriptor(Handle handle, uint8_t index, size_t maxLength,
                           std::vector<uint8_t>& descriptor) override;
  bool GetPipeInfo(Handle handle, std::vector<UsbPipeInfo>& pipes) override;
  bool BulkWrite(Handle handle, int pipe, const uint8_t* data, size_t length,
                 size_t& transferred) override;
  bool BulkRead(Handle handle, int pipe, uint8_t* data, size_t length,
                size_t& transferred) override;
  std::string LastError() const override { return lastError_; }

  // ---- adapters ----
  // Plugs an adapter into a slot (replacing its firmware state) or, with present false,
  // removes it. Handles open on that slot stop working.
  void SetAdapter(int slot, const AdapterOptions& options);
  const AdapterOptions& Adapter(int slot) const { return slots_[size_t(slot)].options; }
  AdapterFirmware& Firmware(int slot) { return slots_[size_t(slot)].firmware; }
  // Handles currently open (a caller that forgets to close shows here).
  size_t OpenHandles() const { return handles_.size(); }

  // ---- faults ----
  // The n-th bulk transfer from now fails (n = 1: the next one).
  void FailNthTransfer(uint64_t n);
  // After n more bulk transfers, every transfer, open and descriptor request fails, as if the
  // adapters were unplugged; Replug ends it.
  void UnplugAfter(uint64_t n);
  void Replug();
  // Opening this slot fails.
  void FailOpen(int slot, bool fail = true);

  // Each bulk transfer then sleeps through its cost on the clock (the processor stays free).
  void SetTimingModel(bool on) { timingModel_ = on; }

  // ---- record of bulk transfers ----
  struct Transfer {
    int slot = -1;
    int pipe = 0;
    bool in = false;                // bulk IN (read)
    bool ok = false;
    std::vector<uint8_t> bytes;     // sent, or received when ok
  };
  // The most recent transfers, at most `limit` (4096 unless set).
  const std::deque<Transfer>& Transfers() const { return transfers_; }
  void ClearTransfers() { transfers_.clear(); }
  void SetRecordLimit(size_t limit) { recordLimit_ = limit; }
  uint64_t TransferCount() const { return transferCount_; }

 private:
  struct Slot {
    AdapterOptions options;
    AdapterFirmware firmware;
    bool failOpen = false;
    uint64_t generation = 0;  // bumped when the adapter is replaced
  };
  struct OpenFile {
    int slot;
    uint64_t generation;
  };

  // The slot behind a handle, or nullptr with LastError set.
  Slot* SlotOf(Handle handle);
  bool Unplugged() const { return plugLeft_.has_value() && *plugLeft_ == 0; }
  // Counts a transfer and decides whether an injected fault fails it.
  bool InjectedFault();
  void Record(int slot, int pipe, bool in, bool ok, const uint8_t* data, size_t length);
  void Cost(const Slot& slot, size_t words);
  bool Fail(const std::string& reason);

  SpiSlave& slave_;
  Clock& clock_;
  std::array<Slot, kAdapterSlots> slots_;
  std::map<Handle, OpenFile> handles_;
  Handle nextHandle_ = 1;
  std::string lastError_;

  uint64_t transferCount_ = 0;
  std::set<uint64_t> failAt_;
  std::optional<uint64_t> plugLeft_;
  bool timingModel_ = false;
  std::deque<Transfer> transfers_;
  size_t recordLimit_ = 4096;
};

}  // namespace pemra::sim
