#include "sim/SpiSlave.h"

namespace pemra::sim {

uint16_t SpiSlave::Transfer(uint16_t mosi, bool fastClock) {
  uint16_t answer = sensor_.BeginFrame();
  // Low-power sampling takes only slow clocks: at the adapter's speed the output lags one bit.
  if (fastClock && !sensor_.AcceptsFastClock()) answer = uint16_t(answer << 1);
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
}

void SpiSlave::ChipSelectRising() {
  if (!selected_) return;
  selected_ = false;
  dout_ = true;
  if (clocks_ == 16) {
    sensor_.EndFrame(in_);
    ++delivered_;
  } else {
    sensor_.DiscardFrame();
    ++discarded_;
  }
}

void SpiSlave::ClockFalling() {
  if (!selected_) return;
  dout_ = shifted_ < 16 ? ((out_ >> (15 - shifted_)) & 1) != 0 : false;
  ++shifted_;
}

void SpiSlave::ClockRising(bool din) {
  if (!selected_) return;
  in_ = uint16_t((in_ << 1) | (din ? 1 : 0));
  ++clocks_;
}

}  // namespace pemra::sim
