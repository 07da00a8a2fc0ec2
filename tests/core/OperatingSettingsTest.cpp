// Sample rate, filter taps and DAC volts as register words: the boundaries and the rounding
// of each conversion, with the words worked out by hand.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/NumberText.h"
#include "core/OperatingSettings.h"

namespace pemra {
namespace {

TEST(OperatingSettings, RateBecomesThePeriodWordRoundedHalvesToEven) {
  const struct {
    double rate;
    int32_t word;
  } cases[] = {
      {819.2, 0x01},   {5000, 0x01},  // clamped to the fastest rate
      {250, 0x06},                    // Ns = 5.55: rounded, not cut to 5
      {163.84, 0x09},                 // Ns = 9.00003: the USB limit itself
      {163.83, 0x09},  {52.8513793945296, 0x1E},  // the threshold: still the fast base
      {52.85, 0x81},                  // just below: slow base, Ns raised to 1
      {1, 0xB4},       {0.4129, 0xFF}, {0, 0xFF}, {-3, 0xFF},
      {NAN, 0x01},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SampleWordForRate(c.rate), c.word) << c.rate;
  }
}

TEST(OperatingSettings, TapsBecomeTheFilterExponentOfTheRangeWord) {
  const struct {
    double typed;
    int32_t taps;
    int32_t rangeCode;
    int32_t word;
  } cases[] = {
      {2.5, 2, kRangeHigh, 0x0401},  {3.5, 4, kRangeHigh, 0x0402},   // halves to even
      {3, 3, kRangeHigh, 0x0402},    {6, 6, kRangeMiddle, 0x0203},   // nearest power by log
      {5, 5, kRangeLow, 0x0102},     {48, 48, kRangeLow, 0x0106},
      {0.4, 1, kRangeHigh, 0x0400},  {100, 64, kRangeHigh, 0x0406},  // 1..64
      {NAN, 1, kRangeMiddle, 0x0200},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    EXPECT_EQ(FilterTaps(c.typed), c.taps);
    EXPECT_EQ(SensAvgWord(c.rangeCode, c.taps), c.word);
  }
}

TEST(OperatingSettings, VoltsBecomeTheDacCodeRoundedDown) {
  const struct {
    double volts;
    int32_t code;
  } cases[] = {
      {1.0, 1638},     {1.2, 1965},     {2.5, 4095}, {3, 4095}, {-1, 0}, {NAN, 0},
      {0.0006104, 0},  // below code 1's 0.00061050061 V: down to 0
      {0.0006105, 1},  // what code 1 shows: it is code 1
      {1.1996337, 1965}, {1.1996336, 1964},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DacCode(c.volts), c.code) << c.volts;
  }
}

// The window shows a code's volts with "0.0######": Update on that text writes the code again.
TEST(OperatingSettings, EveryShownDacVoltageWritesItsCodeAgain) {
  for (int32_t code = 0; code <= kDacMaxCode; ++code) {
    const std::string shown = FormatNumber(code / 4095.0 * 2.5, "0.0######", '.');
    ASSERT_EQ(DacCode(std::stod(shown)), code) << shown;
  }
}

}  // namespace
}  // namespace pemra
