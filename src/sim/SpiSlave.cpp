#include "sim/SpiSlave.h"

namespace pemra::sim {

uint16_t SpiSlave::Transfer(uint16_t mosi, bool fastClock) {
  uint16_t answer = sensor_.BeginFrame();
  // Low-power sampling takes only slow clocks: at the adapter's speed the output lags one bit.
  if (fastClock && !sensor_.AcceptsFastClock()) answer = uint16_t(answer << 1);
  if (recording_ && taken_.size() < 4096) taken_.push_back(mosi);
  sensor_.EndFrame(mosi);
  ++delivered_;
  return answer;
}

void SpiSlave::ChipSelectFalling() {
  if (selected_) return;
  selected_ = true;
  out_ = sensor_.BeginFrame();
  in_ = 0;
  shifted_ = 0;
  clocks_ = 0;
  shiftedByOne_ = false;
}

void SpiSlave::ChipSelectRising() {
  if (!selected_) return;
  selected_ = false;
  dout_ = true;
  if (clocks_ == 16) {
    const uint16_t taken = shiftedByOne_ ? uint16_t(in_ << 1) : in_;
    if (recording_ && taken_.size() < 4096) taken_.push_back(taken);
    sensor_.EndFrame(taken);
    ++delivered_;
  } else {
    sensor_.DiscardFrame();
    ++discarded_;
  }
}

void SpiSlave::ClockFalling() {
  if (!selected_) return;
  const uint16_t out = shiftedByOne_ ? uint16_t(out_ << 1) : out_;
  dout_ = shifted_ < 16 ? ((out >> (15 - shifted_)) & 1) != 0 : false;
  ++shifted_;
}

void SpiSlave::ClockRising(bool din) {
  if (!selected_) return;
  in_ = uint16_t((in_ << 1) | (din ? 1 : 0));
  ++clocks_;
}

}  // namespace pemra::sim
