#include "core/SamplePeriod.h"

#include "core/RegisterFields.h"

namespace pemra {

namespace {
constexpr Nanoseconds kFastBase{610350};    // 0.61035 ms
constexpr Nanoseconds kSlowBase{18921000};  // 18.921 ms
}  // namespace

Nanoseconds SamplePeriod(uint16_t smplPrd) {
  const Nanoseconds base = bits::kSmplPrdTimeBase.Get(smplPrd) ? kSlowBase : kFastBase;
  return base * (bits::kSmplPrdMultiplier.Get(smplPrd) + 1);
}

}  // namespace pemra
