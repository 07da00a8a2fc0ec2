#include "core/OperatingSettings.h"

#include <cmath>

#include "core/NumberText.h"
#include "core/RegisterFields.h"

namespace pemra {

namespace {
constexpr int32_t kSlowBaseBit = bits::kSmplPrdTimeBase.Mask();
constexpr int32_t kMaxTaps = 64;
// Half the last decimal of the seven the window shows volts with (plus the doubles' noise).
constexpr double kDacShownHalfStep = 0.5e-7 * (1 + 1e-9);
}  // namespace

const std::string_view kLowPowerMessage =
    "Setting the sample rate lower than 163.84 sps, or\r\n"
    "setting the value of the sample period register greater than 9\r\n"
    "will place the 21420 into low power mode.\r\n"
    "The 21420 cannot communicate over a high speed USB interface in low power mode.\r\n"
    "Refer to the 21420 data sheet; 'Internal Sample Rate' or 'SMPL_PRD' register.";

double SampleRateOfWord(int32_t word) {
  const double baseMs = bits::kSmplPrdTimeBase.Get(word) ? kSlowTimeBaseMs : kFastTimeBaseMs;
  const int32_t multiplier = bits::kSmplPrdMultiplier.Get(word);
  return 1.0 / ((baseMs / 1000.0) * (multiplier + 1));
}

int32_t SampleWordForRate(double rate) {
  if (std::isnan(rate)) rate = kFastestSampleRate;
  if (rate < kSlowestSampleRate) rate = kSlowestSampleRate;
  if (rate > kFastestSampleRate) rate = kFastestSampleRate;
  const double period = 1.0 / rate;
  const bool slow = rate < kSlowBaseRateLimit;
  const double base = (slow ? kSlowTimeBaseMs : kFastTimeBaseMs) / 1000.0;
  double multiplier = period / base - 1.0;
  if (multiplier < 1.0) multiplier = 1.0;
  return static_cast<int32_t>(RoundHalfEvenToInt(multiplier)) + (slow ? kSlowBaseBit : 0);
}

int32_t RangeCodeOfWord(int32_t word) { return bits::kSensAvgGyroRange.Get(word); }

int32_t TapsOfWord(int32_t word) { return 1 << bits::kSensAvgTapsExponent.Get(word); }

int32_t FilterTaps(double taps) {
  if (std::isnan(taps)) taps = 1.0;
  if (taps > kMaxTaps) taps = kMaxTaps;
  if (taps < 1.0) taps = 1.0;
  return static_cast<int32_t>(RoundHalfEvenToInt(taps));
}

double log2(double value) { return std::log(value) / std::log(2.0); }

int32_t SensAvgWord(int32_t rangeCode, int32_t taps) {
  return static_cast<int32_t>(RoundHalfEvenToInt(log2(taps) + 256.0 * rangeCode));
}

int32_t GpioCtrlWord(const IoLines& lines) {
  int32_t word = 0;
  word = bits::kGpioDir0.With(word, lines.line0Output);
  word = bits::kGpioDir1.With(word, lines.line1Output);
  word = bits::kGpioLevel0.With(word, lines.line0High);
  return bits::kGpioLevel1.With(word, lines.line1High);
}

IoLines IoLinesOfWord(int32_t word) {
  return {bits::kGpioDir0.Get(word) != 0, bits::kGpioDir1.Get(word) != 0,
          bits::kGpioLevel0.Get(word) != 0, bits::kGpioLevel1.Get(word) != 0};
}

int32_t MscCtrlWord(const DataReady& dataReady) {
  int32_t word = 0;
  word = bits::kMscDrLine.With(word, dataReady.lineTwo);
  word = bits::kMscDrPolarity.With(word, dataReady.polarityHigh);
  return bits::kMscDrEnable.With(word, dataReady.enabled);
}

DataReady DataReadyOfWord(int32_t word) {
  return {bits::kMscDrLine.Get(word) != 0, bits::kMscDrPolarity.Get(word) != 0,
          bits::kMscDrEnable.Get(word) != 0};
}

int32_t DacCode(double volts) {
  if (!(volts >= 0.0)) volts = 0.0;  // NaN too
  if (volts > kDacFullScaleVolts) volts = kDacFullScaleVolts;
  auto code = static_cast<int32_t>(std::floor(volts / kDacFullScaleVolts * kDacMaxCode));
  // The window shows a code's voltage to seven decimals, a hair off the exact value: text
  // that shows the next code's voltage stands for that code, so writing what is shown
  // writes the same code again.
  if (code < kDacMaxCode && std::abs(DacVolts(code + 1) - volts) <= kDacShownHalfStep) ++code;
  return code;
}

double DacVolts(int32_t code) {
  return static_cast<double>(code) / kDacMaxCode * kDacFullScaleVolts;
}

}  // namespace pemra
