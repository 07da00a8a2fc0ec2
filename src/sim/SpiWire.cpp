#include "sim/SpiWire.h"

#include <algorithm>

namespace pemra::sim {

namespace {
constexpr int64_t kRoundingNs = 2;
}  // namespace

BitTiming BitTiming::Mode(uint8_t mode, uint32_t hz) {
  const bool cpol = (mode & 0x02) != 0;
  const bool cpha = (mode & 0x01) != 0;
  return BitTiming{cpol, cpha, !cpha, hz};
}

void SpiWire::Resume(Nanoseconds now) {
  if (pausedAt_ >= 0) nowNs_ += std::max<int64_t>(0, now.count() - pausedAt_);
  pausedAt_ = -1;
}

void SpiWire::Pause(Nanoseconds now) { pausedAt_ = now.count(); }

void SpiWire::Wait(Nanoseconds time) {
  nowNs_ += time.count();
  busyNs_ += time.count();
  busyTotalNs_ += time.count();
}

void SpiWire::Corrupt() {
  if (corrupted_ || slave_ == nullptr) return;
  corrupted_ = true;
  ++outside_;
  slave_->ShiftByOne();
}

void SpiWire::Select(bool selected) {
  if (selected == selected_) return;
  selected_ = selected;
  if (!selected) {
    deselectedNs_ = nowNs_;
    if (slave_ != nullptr) slave_->ChipSelectRising();
    return;
  }
  corrupted_ = false;
  risingNs_ = -1;
  if (slave_ == nullptr) return;
  slave_->ChipSelectFalling();
  limits_ = slave_->Sensor().AcceptsFastClock() ? kNormalSerialLimits : kLowPowerSerialLimits;
  if (nowNs_ - deselectedNs_ < limits_.minStall.count()) Corrupt();
}

void SpiWire::Edge(bool rising, Nanoseconds halfPeriod) {
  nowNs_ += halfPeriod.count();
  busyNs_ += halfPeriod.count();
  busyTotalNs_ += halfPeriod.count();
  if (selected_ && slave_ != nullptr) {
    // Whole nanoseconds: a clock of exactly the limit, rounded down, is within it.
    const int64_t minPeriodNs = 1'000'000'000LL / limits_.maxHz - kRoundingNs;
    if (halfPeriod.count() > 0 && 2 * halfPeriod.count() < minPeriodNs) Corrupt();
    if (rising && risingNs_ >= 0 && nowNs_ - risingNs_ < minPeriodNs) Corrupt();
  }
  if (rising) risingNs_ = nowNs_;
  if (slave_ == nullptr) return;
  if (rising) {
    slave_->ClockRising(dataOut_);
  } else {
    slave_->ClockFalling();
  }
}

bool SpiWire::ClockBit(bool out, const BitTiming& timing) {
  const Nanoseconds half(timing.hz > 0 ? 500'000'000LL / timing.hz : 0);
  if (!timing.writeOnFirst) dataOut_ = out;  // set up before the first edge
  bool in = true;
  const bool firstRising = !timing.idleHigh;
  // First edge: the master samples or changes its output around the slave's action.
  if (timing.readOnFirst) in = DataIn();
  Edge(firstRising, half);
  if (timing.writeOnFirst) dataOut_ = out;
  if (!timing.readOnFirst) in = DataIn();
  Edge(!firstRising, half);
  return in;
}

Nanoseconds SpiWire::TakeBusyTime() {
  const Nanoseconds busy(busyNs_);
  busyNs_ = 0;
  return busy;
}

}  // namespace pemra::sim
