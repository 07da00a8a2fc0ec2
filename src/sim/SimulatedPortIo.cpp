#include "sim/SimulatedPortIo.h"

#include <cstdio>

namespace pemra::sim {

namespace {

constexpr uint8_t kCsBit = 0x01;
constexpr uint8_t kClockBit = 0x02;
constexpr uint8_t kDinBit = 0x04;
constexpr uint8_t kDoutStatusBit = 0x40;
constexpr Nanoseconds kAccessCost = std::chrono::microseconds(1);

// Line levels at the sensor: the cable inverts each data bit.
bool LineHigh(uint8_t data, uint8_t bit) { return (data & bit) == 0; }

std::string Hex4(uint16_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", unsigned(v));
  return text;
}

}  // namespace

SimulatedPortIo::SimulatedPortIo(SpiSlave& slave, Clock& clock, uint16_t baseAddress)
    : wire_(&slave), clock_(clock), base_(baseAddress) {}

bool SimulatedPortIo::EnableAccess(uint16_t baseAddress, std::string& device,
                                   std::string& reason) {
  if (baseAddress == base_) {
    device = "simulated parallel port at " + Hex4(base_);
    reason.clear();
    return true;
  }
  device = "simulated parallel port at " + Hex4(baseAddress);
  reason = "No such device: the simulated port is at " + Hex4(base_);
  return false;
}

void SimulatedPortIo::Cost() {
  if (timingModel_) clock_.Wait(kAccessCost);
}

void SimulatedPortIo::Out(uint16_t address, uint8_t value) {
  wire_.Resume(clock_.Now());
  wire_.Wait(kPortLineTime);
  Cost();
  Record(address, value, true);
  if (address == base_) DriveLines(value);  // the status register and others take no writes
  wire_.Pause(clock_.Now());
}

void SimulatedPortIo::DriveLines(uint8_t value) {
  const uint8_t before = data_;
  data_ = value;
  const bool csWasHigh = LineHigh(before, kCsBit);
  const bool csHigh = LineHigh(value, kCsBit);
  const bool clockWasHigh = LineHigh(before, kClockBit);
  const bool clockHigh = LineHigh(value, kClockBit);
  const bool din = LineHigh(value, kDinBit);

  // A frame starts before the edges of this write and ends after them.
  wire_.SetDataOut(din);
  if (csWasHigh && !csHigh) wire_.Select(true);
  if (clockWasHigh != clockHigh) wire_.Edge(clockHigh);
  if (!csWasHigh && csHigh) wire_.Select(false);
}

uint8_t SimulatedPortIo::In(uint16_t address) {
  wire_.Resume(clock_.Now());
  wire_.Wait(kPortLineTime);
  Cost();
  uint8_t value = 0xFF;
  if (address == base_) {
    value = data_;
  } else if (address == uint16_t(base_ + 1)) {
    value = wire_.DataIn() ? 0x00 : kDoutStatusBit;
  }
  Record(address, value, false);
  wire_.Pause(clock_.Now());
  return value;
}

void SimulatedPortIo::RecordAccesses(bool on, size_t limit) {
  recording_ = on;
  limit_ = limit;
}

void SimulatedPortIo::Record(uint16_t address, uint8_t value, bool write) {
  if (!recording_) return;
  accesses_.push_back(Access{address, value, write});
  while (accesses_.size() > limit_) accesses_.pop_front();
}

std::vector<uint8_t> SimulatedPortIo::DataWrites() const {
  std::vector<uint8_t> out;
  for (const Access& a : accesses_) {
    if (a.write && a.address == base_) out.push_back(a.value);
  }
  return out;
}

}  // namespace pemra::sim
