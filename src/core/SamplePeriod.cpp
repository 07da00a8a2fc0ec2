#include "core/SamplePeriod.h"

namespace pemra {

namespace {
constexpr Nanoseconds kFastBase{610350};    // 0.61035 ms
constexpr Nanoseconds kSlowBase{18921000};  // 18.921 ms
}  // namespace

Nanoseconds SamplePeriod(uint16_t smplPrd) {
  const Nanoseconds base = (smplPrd & 0x80) ? kSlowBase : kFastBase;
  return base * ((smplPrd & 0x7F) + 1);
}

}  // namespace pemra
