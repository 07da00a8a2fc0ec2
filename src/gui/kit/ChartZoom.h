#pragma once
// The Scale button's zoom cycle of one chart: from a fresh model's top value T, successive
// clicks give T/2, T/8, T/64, T, T/2, ... Each division applies to the top value left by
// the click before, so a range changed in between (a new model's range, the gyro range
// reset to 350) is divided further; only a change of model restarts the cycle.

#include <cstdint>
#include <optional>

namespace pemra {

class ChartZoom {
 public:
  // One click: sets `top` to the next zoom step rounded to 2 decimals (halves to even)
  // and `bottom` to -top. `model` is the device model applied at the time of the click.
  void Click(int16_t model, double& top, double& bottom);

  int Step() const { return step_; }

 private:
  std::optional<int16_t> model_;  // model seen at the last click
  float base_ = 0.0f;             // top value when that model was first seen
  int step_ = 0;                  // 0..4
};

}  // namespace pemra
