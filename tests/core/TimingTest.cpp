#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "core/Timing.h"

namespace pemra {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(DelayUnits, FollowsTheArgumentRules) {
  struct Case {
    float ms;
    int64_t units;
  };
  const Case cases[] = {
      {0.0f, 0},
      {-0.0f, 0},
      {0.004f, 1},       // below one unit: one unit
      {-5.0f, 1},        // negative: one unit
      {1e-30f, 1},
      {0.01f, 1},
      {0.1f, 10},
      {0.125f, 12},      // 12.5 goes to the even 12
      {0.375f, 38},      // 37.5 goes to the even 38
      {0.025f, 3},       // the float just above 0.025 gives 2.50000004: rounds up, not a tie
      {0.015f, 1},       // the float just below 0.015 gives 1.49999997
      {250.0f, 25000},
      {33000.0f, 3300000},
      {3.0e7f, 3000000000},  // beyond a 32-bit unit count
      {kNaN, 1},
      {-kInf, 1},
      {kInf, kMaxDelayUnits},
      {1e30f, kMaxDelayUnits},
      {std::numeric_limits<float>::max(), kMaxDelayUnits},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DelayUnits(c.ms), c.units) << "ms = " << c.ms;
  }
}

TEST(DelayUnits, GrowsWithTheRequestOverEveryFloatRange) {
  // Walk the positive floats in ascending order (their bit patterns ascend with them).
  int64_t previous = 0;
  for (uint64_t bits = 1; bits <= 0x7F800000u; bits += 4099) {
    const float ms = std::bit_cast<float>(static_cast<uint32_t>(bits));
    const int64_t units = DelayUnits(ms);
    ASSERT_GE(units, 1) << ms;
    ASSERT_LE(units, kMaxDelayUnits) << ms;
    ASSERT_GE(units, previous) << ms;
    previous = units;
    // Negative requests always wait one unit.
    ASSERT_EQ(DelayUnits(-ms), 1) << -ms;
  }
}

TEST(Delay, WaitsTheUnitsOnTheSessionClock) {
  struct Case {
    float ms;
    std::vector<Nanoseconds> waits;
  };
  using std::chrono::microseconds;
  const Case cases[] = {
      {0.0f, {}},
      {0.004f, {microseconds(10)}},
      {-5.0f, {microseconds(10)}},
      {0.1f, {microseconds(100)}},
      {0.125f, {microseconds(120)}},
      {250.0f, {microseconds(250000)}},
      {kNaN, {microseconds(10)}},
  };
  for (const Case& c : cases) {
    TestClock clock;
    Delay(clock, c.ms);
    EXPECT_EQ(clock.Waits(), c.waits) << "ms = " << c.ms;
    Nanoseconds total{0};
    for (auto w : c.waits) total += w;
    EXPECT_EQ(clock.Now(), total) << "ms = " << c.ms;
  }
}

TEST(Delay, LongestRequestFitsTheClock) {
  TestClock clock;
  Delay(clock, kInf);
  ASSERT_EQ(clock.Waits().size(), 1u);
  EXPECT_EQ(clock.Waits()[0].count(), kMaxDelayUnits * 10000);
  EXPECT_GT(clock.Now().count(), 0);
}

TEST(Delay, RealClockWaitsAtLeastTheRequest) {
  RealClock clock;
  const Nanoseconds before = clock.Now();
  Delay(clock, 0.05f);
  EXPECT_GE(clock.Now() - before, std::chrono::microseconds(50));
}

TEST(CalibrateDelay, ReturnsWithoutWaitingOnATestClock) {
  TestClock clock;
  CalibrateDelay(clock);
  EXPECT_TRUE(clock.Waits().empty());
  EXPECT_EQ(clock.Now(), Nanoseconds{0});
}

TEST(HexText, ReadsTheRightmostFourCharacters) {
  struct Case {
    std::string_view text;
    int32_t number;
    int16_t int16;
  };
  using namespace std::string_view_literals;
  const Case cases[] = {
      {"", 0, 0},
      {"0", 0, 0},
      {"1a", 26, 26},
      {"1A", 26, 26},
      {"FFFF", 65535, -1},
      {"ffff", 65535, -1},
      {"7FFF", 32767, 32767},
      {"8000", 32768, -32768},
      {"12G4", 0x1204, 0x1204},     // G counts 0
      {"0x1F", 31, 31},             // no prefix: x counts 0
      {" -1", 1, 1},                // blank and sign count 0
      {"12345", 0x2345, 0x2345},    // longer text: the rightmost four count
      {"FFFFFFFFFFFF0001", 1, 1},
      {"abcdef", 0xCDEF, static_cast<int16_t>(0xCDEF - 65536)},
      {"\xff\x80zz", 0, 0},         // bytes outside ASCII
      {"\0\0\0A"sv, 10, 10},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HexToNumber(c.text), c.number) << "text = " << c.text;
    EXPECT_EQ(HexToInt16(c.text), c.int16) << "text = " << c.text;
  }
}

TEST(HexText, CountsCharactersNotBytes) {
  struct Case {
    std::string_view text;  // UTF-8
    int32_t number;
  };
  const Case cases[] = {
      {"1\xc3\xa9", 0x10},                 // 1 and a two-byte letter
      {"\xc3\xa9" "1", 0x1},
      {"\xe2\x82\xac" "FFF", 0xFFF},      // a three-byte sign is one digit
      {"A\xf0\x9f\x98\x80" "12", 0xA012},  // a four-byte character is one digit
      {"\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9" "F", 0xF},  // the rightmost four characters
      {"12\xe9" "4", 0x1204},               // a lone Latin-1 byte is one character
      {"1\xa9\xa9" "F", 0x100F},            // stray continuation bytes: one each
      {"F\xe2\x82", 0xF00},                // a cut-off sequence: byte by byte
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HexToNumber(c.text), c.number) << "text = " << c.text;
    EXPECT_EQ(HexToInt16(c.text), static_cast<int16_t>(c.number)) << "text = " << c.text;
  }
}

TEST(HexText, NumberToHexGivesFourUpperCaseDigitsOfTheLow16Bits) {
  struct Case {
    int64_t value;
    std::string_view text;
  };
  const Case cases[] = {
      {0, "0000"},           {255, "00FF"},        {-1, "FFFF"},
      {65535, "FFFF"},       {-2, "FFFE"},         {0x12345, "2345"},
      {0xABCD, "ABCD"},      {-32768, "8000"},     {65536, "0000"},
      {std::numeric_limits<int64_t>::min(), "0000"},
      {std::numeric_limits<int64_t>::max(), "FFFF"},
  };
  for (const Case& c : cases) EXPECT_EQ(NumberToHex(c.value), c.text) << "value = " << c.value;
}

TEST(HexText, RoundTripsEveryWord) {
  for (int32_t v = 0; v <= 0xFFFF; ++v) {
    const std::string text = NumberToHex(v);
    ASSERT_EQ(HexToNumber(text), v);
    ASSERT_EQ(HexToInt16(text), static_cast<int16_t>(v));
  }
}

}  // namespace
}  // namespace pemra
