#pragma once
// A parallel port whose data register drives the sensor's SPI lines through the inverting
// interface cable: data bit 0 = CS, bit 1 = SCLK, bit 2 = DIN, each the complement of the
// line; status bit 6 reads the complement of DOUT. Level changes are decoded into edges on
// the lines to the SPI slave, where the sensor's timing limits hold. On the lines every access
// takes kPortLineTime (a legacy port's I/O cycle), so the fastest clock the port makes, three
// accesses a bit when reading, is 267 kHz: slow enough for low-power sampling. Time on the
// clock between accesses (the stall's Delay) passes on the lines too. Addresses other than
// base and base + 1 read 0xFF and ignore writes.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "interfaces/PortIo.h"
#include "sim/SpiSlave.h"
#include "sim/SpiWire.h"

namespace pemra::sim {

inline constexpr Nanoseconds kPortLineTime = std::chrono::nanoseconds(1250);

class SimulatedPortIo final : public PortIo {
 public:
  SimulatedPortIo(SpiSlave& slave, Clock& clock, uint16_t baseAddress = 0x378);

  // Succeeds for this port's own base address; any other base fails like a missing port.
  bool EnableAccess(uint16_t baseAddress, std::string& device, std::string& reason) override;
  void Out(uint16_t address, uint8_t value) override;
  uint8_t In(uint16_t address) override;
  std::vector<ParallelPortEntry> ListPorts() const override { return {{"parport0", base_}}; }

  uint16_t BaseAddress() const { return base_; }
  // Each access then waits 1 microsecond on the clock, as real port I/O would take.
  void SetTimingModel(bool on) { timingModel_ = on; }

  // Recording of the accesses, off unless asked for; the oldest are dropped past the limit.
  struct Access {
    uint16_t address = 0;
    uint8_t value = 0;
    bool write = true;
    bool operator==(const Access&) const = default;
  };
  void RecordAccesses(bool on, size_t limit = 1 << 20);
  const std::deque<Access>& Accesses() const { return accesses_; }
  // The values written to the data register, in order (from the recording).
  std::vector<uint8_t> DataWrites() const;
  void ClearAccesses() { accesses_.clear(); }

  uint8_t DataRegister() const { return data_; }
  uint64_t FramesOutsideLimits() const { return wire_.FramesOutsideLimits(); }

 private:
  void Record(uint16_t address, uint8_t value, bool write);
  void DriveLines(uint8_t value);
  void Cost();

  SpiWire wire_;
  Clock& clock_;
  uint16_t base_;
  uint8_t data_ = 0;  // all lines high: idle, deselected
  bool timingModel_ = false;
  bool recording_ = false;
  size_t limit_ = 0;
  std::deque<Access> accesses_;
};

}  // namespace pemra::sim
