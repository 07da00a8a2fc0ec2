#pragma once
// The sensor's operating configuration as register words: sample rate (SMPL_PRD), gyro
// range and filter taps (SENS_AVG), the auxiliary I/O lines (GPIO_CTRL), the data-ready
// output (MSC_CTRL bits 0-2) and the auxiliary DAC (AUX_DAC). A word composed here carries
// only its named fields; every other bit is 0.

#include <cstdint>
#include <string_view>

namespace pemra {

// ---- SMPL_PRD: bits 0-6 multiplier Ns, bit 7 time base; period = Tb x (Ns + 1) ----
inline constexpr double kFastTimeBaseMs = 0.61035;
inline constexpr double kSlowTimeBaseMs = 18.921;
inline constexpr double kSlowestSampleRate = 0.4129;
inline constexpr double kFastestSampleRate = 819.2;
// Just above 1 / 0.018921 s, the fastest rate of the slow time base: below it the slow
// base is used.
inline constexpr double kSlowBaseRateLimit = 52.8513793945296;
// The rate text an entry that is not a number is replaced by.
inline constexpr std::string_view kDefaultSampleRateText = "819.202";

// Samples per second of a SMPL_PRD word.
double SampleRateOfWord(int32_t word);
// SMPL_PRD word for a requested rate: clamped to 0.4129..819.2 (NaN counts as the fastest
// rate), time base by the limit above, Ns = period / Tb - 1 raised to at least 1 and
// rounded halves to even.
int32_t SampleWordForRate(double rate);

// Over the USB adapter a SMPL_PRD word above this would put the sensor into low-power
// sampling, where it cannot follow the adapter's fast serial clock.
inline constexpr int32_t kUsbSampleWordLimit = 9;
// The message shown before such a word is replaced by the limit (five lines, CR LF).
extern const std::string_view kLowPowerMessage;

// ---- SENS_AVG: bits 0-2 filter exponent N (2^N taps), bits 8-10 gyro range code ----
inline constexpr int32_t kRangeLow = 1;
inline constexpr int32_t kRangeMiddle = 2;
inline constexpr int32_t kRangeHigh = 4;

int32_t RangeCodeOfWord(int32_t word);
// 2 to the power of bits 0-2: 1..128.
int32_t TapsOfWord(int32_t word);
// A tap entry as a whole number of taps: clamped to 1..64 (NaN counts as 1), then rounded
// halves to even.
int32_t FilterTaps(double taps);
// Base-2 logarithm, ln(x) / ln(2), not rounded.
double log2(double value);
// SENS_AVG word: log2(taps) + 256 x range code, rounded halves to even, so a tap count
// that is not a power of two becomes the nearest power in the logarithmic sense.
int32_t SensAvgWord(int32_t rangeCode, int32_t taps);

// ---- GPIO_CTRL: bits 0-1 line directions (1 output), bits 8-9 line levels (1 high) ----
struct IoLines {
  bool line0Output = false;
  bool line1Output = false;
  bool line0High = false;
  bool line1High = false;

  bool operator==(const IoLines&) const = default;
};
int32_t GpioCtrlWord(const IoLines& lines);
IoLines IoLinesOfWord(int32_t word);

// ---- MSC_CTRL bits 0-2: data-ready line (1: DI/O2), polarity (1 high), enable ----
struct DataReady {
  bool lineTwo = false;
  bool polarityHigh = false;
  bool enabled = false;

  bool operator==(const DataReady&) const = default;
};
// The word holds the data-ready fields only: the self-test bits above them go out as 0.
int32_t MscCtrlWord(const DataReady& dataReady);
DataReady DataReadyOfWord(int32_t word);

// ---- AUX_DAC: 12-bit code, 2.5 V full scale ----
inline constexpr double kDacFullScaleVolts = 2.5;
inline constexpr int32_t kDacMaxCode = 4095;
// Code for a voltage clamped to 0..2.5 V (NaN counts as 0), rounded down; a voltage within
// half a unit of the seventh decimal of a code's voltage (as the window shows it) gives that
// code.
int32_t DacCode(double volts);
double DacVolts(int32_t code);

}  // namespace pemra
