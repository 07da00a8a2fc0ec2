#include "gui/kit/ChartZoom.h"

#include <cmath>

#include "core/NumberText.h"

namespace pemra {

void ChartZoom::Click(int16_t model, double& top, double& bottom) {
  if (!model_ || *model_ != model) {
    model_ = model;
    base_ = static_cast<float>(top);
    step_ = 1;
  }
  if (step_ == 4) {
    step_ = 0;
    top = base_;
  }
  top = RoundHalfEven(top / std::pow(2.0, step_) * 100.0) / 100.0;
  bottom = -top;
  step_ += 1;
}

}  // namespace pemra
