#pragma once
// Over the USB adapter the sensor must stay in its normal-power mode: a sample period
// register above 9 puts it into low-power sampling, where it cannot follow the adapter's
// clock. Windows and commands that write SMPL_PRD by hand limit the value and warn.

#include <cstdint>

namespace pemra {

inline constexpr int32_t kMaxUsbSamplePeriod = 9;

// The warning shown when a hand-typed SMPL_PRD value is limited (lines end with CR LF).
inline constexpr const char* kLowPowerWarning =
    "Setting the sample rate lower than 163.84 sps, or\r\n"
    "setting the value of the sample period register greater than 9\r\n"
    "will place the 21420 into low power mode.\r\n"
    "The 21420 cannot communicate over the current USB interface in low power mode.\r\n"
    "Refer to the 21420 data sheet; 'Internal Sample Rate' or 'SMPL_PRD' register.";

}  // namespace pemra
