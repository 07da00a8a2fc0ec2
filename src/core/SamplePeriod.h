#pragma once
// The sensor's sample period from its SMPL_PRD word.

#include <cstdint>

#include "core/Clock.h"

namespace pemra {

// Tb x (Ns + 1), Ns = bits 0-6, Tb = 0.61035 ms (bit 7 clear) or 18.921 ms (bit 7 set).
// Exact in nanoseconds. Power-on 0x0001 gives 1.2207 ms (819.2 samples per second).
Nanoseconds SamplePeriod(uint16_t smplPrd);

}  // namespace pemra
