#include "sim/SpiWire.h"

#include <cmath>

namespace pemra::sim {

BitTiming BitTiming::Mode(uint8_t mode, uint32_t hz) {
  const bool cpol = (mode & 0x02) != 0;
  const bool cpha = (mode & 0x01) != 0;
  return BitTiming{cpol, cpha, !cpha, hz};
}

void SpiWire::Select(bool selected) {
  if (selected == selected_) return;
  selected_ = selected;
  if (slave_ == nullptr) return;
  if (selected) {
    slave_->ChipSelectFalling();
  } else {
    slave_->ChipSelectRising();
  }
}

void SpiWire::Edge(bool rising, bool masterSamples, bool masterWrites, bool out, bool& in,
                   bool clean) {
  // At an edge both sides first take what the lines hold, then change their outputs.
  if (masterSamples) in = slave_ != nullptr ? slave_->Dout() : true;
  if (rising && clean && slave_ != nullptr) slave_->ClockRising(dataOut_);
  if (masterWrites) dataOut_ = out;
  if (!rising && clean && slave_ != nullptr) slave_->ClockFalling();
}

bool SpiWire::ClockBit(bool out, const BitTiming& timing) {
  if (!timing.writeOnFirst) dataOut_ = out;  // set up before the first edge
  const bool clean = timing.hz > 0 && timing.hz <= kSensorMaxClockHz;
  bool in = true;
  const bool firstRising = !timing.idleHigh;
  Edge(firstRising, timing.readOnFirst, timing.writeOnFirst, out, in, clean);
  Edge(!firstRising, !timing.readOnFirst, false, out, in, clean);
  if (timing.hz > 0) busyNs_ += 1e9 / timing.hz;
  return in;
}

Nanoseconds SpiWire::TakeBusyTime() {
  const auto whole = static_cast<int64_t>(std::llround(busyNs_));
  busyNs_ = 0;
  return Nanoseconds(whole);
}

}  // namespace pemra::sim
