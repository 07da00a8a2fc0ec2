#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/NumberText.h"

namespace pemra {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(RoundHalfEven, RoundsHalvesToEven) {
  struct Case {
    double value, rounded;
  };
  const Case cases[] = {
      {0.0, 0.0},     {0.5, 0.0},     {1.5, 2.0},       {2.5, 2.0},         {3.5, 4.0},
      {-0.5, 0.0},    {-1.5, -2.0},   {-2.5, -2.0},     {2.4999999, 2.0},   {2.5000001, 3.0},
      {-2.5000001, -3.0}, {0.49999999999999994, 0.0}, {4503599627370495.5, 4503599627370496.0},
      {4503599627370494.5, 4503599627370494.0}, {1e300, 1e300}, {-7.0, -7.0},
      {kInf, kInf},   {-kInf, -kInf},
  };
  for (const Case& c : cases) EXPECT_EQ(RoundHalfEven(c.value), c.rounded) << c.value;
  EXPECT_TRUE(std::isnan(RoundHalfEven(kNaN)));
}

TEST(RoundHalfEven, ToIntSaturates) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  struct Case {
    double value;
    int64_t rounded;
  };
  const Case cases[] = {
      {12.5, 12},  {37.5, 38},  {-12.5, -12}, {1e19, kMax}, {-1e19, kMin},
      {kInf, kMax}, {-kInf, kMin}, {kNaN, 0},
      {9223372036854774784.0, 9223372036854774784}, {-9223372036854775808.0, kMin},
  };
  for (const Case& c : cases) EXPECT_EQ(RoundHalfEvenToInt(c.value), c.rounded) << c.value;
}

TEST(FormatNumber, Patterns) {
  struct Case {
    double value;
    const char* pattern;
    const char* text;
  };
  const Case cases[] = {
      // "0.00": the live readout
      {0.0, "0.00", "0.00"},
      {1.5, "0.00", "1.50"},
      {-1.5, "0.00", "-1.50"},
      {9.9995, "0.00", "10.00"},        // rounds up to a new digit
      {-9.9995, "0.00", "-10.00"},
      {99.999, "0.00", "100.00"},
      {0.125, "0.00", "0.12"},          // exact tie: to even
      {0.375, "0.00", "0.38"},
      {2.675, "0.00", "2.67"},          // 2.67499999... in binary
      {1.005, "0.00", "1.00"},
      {0.005, "0.00", "0.01"},          // 0.00500000000000000010... in binary
      {-0.005, "0.00", "-0.01"},
      {-0.001, "0.00", "0.00"},         // rounds to zero: no minus sign
      {-0.0, "0.00", "0.00"},
      {1234567.891, "0.00", "1234567.89"},
      {1e20, "0.00", "100000000000000000000.00"},
      {static_cast<double>(0.07326f), "0.00", "0.07"},
      // "0.0"
      {0.25, "0.0", "0.2"},
      {0.35, "0.0", "0.3"},
      {0.45, "0.0", "0.5"},
      {99.96, "0.0", "100.0"},
      {-0.04, "0.0", "0.0"},
      {-0.05, "0.0", "-0.1"},
      {25.0, "0.0", "25.0"},
      // "##0.0##"
      {0.0, "##0.0##", "0.0"},
      {1.5, "##0.0##", "1.5"},
      {1.23456, "##0.0##", "1.235"},
      {123.4, "##0.0##", "123.4"},
      {12345.6789, "##0.0##", "12345.679"},
      {-0.0004, "##0.0##", "0.0"},
      {-0.0005, "##0.0##", "-0.001"},
      {0.9999, "##0.0##", "1.0"},
      {-0.9995, "##0.0##", "-1.0"},  // -0.99950000000000005507 in binary
      {1e-10, "##0.0##", "0.0"},
      // "0.0######"
      {static_cast<double>(0.07326f), "0.0######", "0.07326"},
      {1.0 / 3.0, "0.0######", "0.3333333"},
      {2.0, "0.0######", "2.0"},
      {-0.00000006, "0.0######", "-0.0000001"},
      {-0.00000005, "0.0######", "0.0"},        // -4.99999999999999998e-08 in binary
      {0.99999996, "0.0######", "1.0"},
      {0.99999995, "0.0######", "0.9999999"},   // 0.99999994999999997 in binary
      // "#0.000"
      {0.5, "#0.000", "0.500"},
      {12.3456, "#0.000", "12.346"},
      {-7.0005, "#0.000", "-7.000"},
      {0.0, "#0.000", "0.000"},
      {-1234.5, "#0.000", "-1234.500"},
      // "0.0####"
      {25.0, "0.0####", "25.0"},
      {0.123456, "0.0####", "0.12346"},
      {0.000005, "0.0####", "0.00001"},
      {0.0000049, "0.0####", "0.0"},
      {-3.14159265, "0.0####", "-3.14159"},
      // other shapes
      {0.5, "#.00", ".50"},
      {0.0, "#.##", ""},
      {2.5, "0", "2"},
      {3.5, "0", "4"},
      {-2.5, "0", "-2"},
      {7.0, "000", "007"},
      {1.25, "0.0 V", "1.2 V"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatNumber(c.value, c.pattern), c.text) << c.value << " with " << c.pattern;
  }
}

TEST(FormatNumber, DecimalSeparatorNonFiniteAndEmptyPattern) {
  EXPECT_EQ(FormatNumber(3.14159, "0.00", ','), "3,14");
  EXPECT_EQ(FormatNumber(-0.5, "##0.0##", ','), "-0,5");
  EXPECT_EQ(FormatNumber(12.0, "0", ','), "12");
  EXPECT_EQ(FormatNumber(kNaN, "0.00"), "NaN");
  EXPECT_EQ(FormatNumber(kInf, "0.00"), "Infinity");
  EXPECT_EQ(FormatNumber(-kInf, "#0.000"), "-Infinity");
  EXPECT_EQ(FormatNumber(1.5, ""), "1.5");
  EXPECT_EQ(FormatNumber(1.5, "", ','), "1,5");
  // Many optional decimals: the exact binary value shows through.
  EXPECT_EQ(FormatNumber(0.1, "0.##############################"),
            "0.100000000000000005551115123126");
}

TEST(GeneralText, SinglePrecision) {
  struct Case {
    float value;
    const char* text;
  };
  const Case cases[] = {
      {0.0f, "0"},
      {-0.0f, "0"},
      {1.0f, "1"},
      {-1.0f, "-1"},
      {0.5f, "0.5"},
      {0.1f, "0.1"},
      {0.15f, "0.15"},
      {0.07326f, "0.07326"},
      {1.5f, "1.5"},
      {-1.5f, "-1.5"},
      {123.456f, "123.456"},
      {33.333333f, "33.33333"},
      {2.0000005f, "2"},
      {1234567.0f, "1234567"},
      {1234567.5f, "1234568"},   // exact tie at seven digits: to even
      {1234568.5f, "1234568"},
      {9999999.0f, "9999999"},
      {10000000.0f, "1E+07"},
      {12345678.0f, "1.234568E+07"},
      {16777216.0f, "1.677722E+07"},
      {-12345678.0f, "-1.234568E+07"},
      {0.0001f, "0.0001"},       // just below 0.0001 in binary, 0.0001 at seven digits
      {0.00012345678f, "0.0001234568"},
      {0.00001f, "1E-05"},
      {-2.5e-7f, "-2.5E-07"},
      {1e-10f, "1E-10"},
      {1.5e-5f, "1.5E-05"},
      {std::numeric_limits<float>::max(), "3.402823E+38"},
      {std::numeric_limits<float>::denorm_min(), "1.401298E-45"},
  };
  for (const Case& c : cases) EXPECT_EQ(GeneralText(c.value), c.text) << c.value;
}

TEST(GeneralText, DoublePrecision) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0.0, "0"},
      {-0.0, "0"},
      {10.0, "10"},
      {-10.0, "-10"},
      {1.5, "1.5"},
      {-1.7, "-1.7"},
      {0.1, "0.1"},
      {0.1 + 0.2, "0.3"},
      {1.0 / 3.0, "0.333333333333333"},
      {2.0 / 3.0, "0.666666666666667"},
      {-2.0 / 3.0, "-0.666666666666667"},
      {999999999999999.0, "999999999999999"},
      {100000000000000.5, "100000000000000"},  // exact tie at fifteen digits: to even
      {100000000000001.5, "100000000000002"},
      {1e15, "1E+15"},
      {123456789012345678.0, "1.23456789012346E+17"},
      {0.0001, "0.0001"},
      {0.00001, "1E-05"},
      {0.000012345, "1.2345E-05"},
      {1e100, "1E+100"},
      {-1e-100, "-1E-100"},
      {5e-324, "4.94065645841247E-324"},
      {std::numeric_limits<double>::max(), "1.79769313486232E+308"},
      {kNaN, "NaN"},
      {kInf, "Infinity"},
      {-kInf, "-Infinity"},
  };
  for (const Case& c : cases) EXPECT_EQ(GeneralText(c.value), c.text) << c.value;
}

TEST(GeneralText, DecimalSeparator) {
  EXPECT_EQ(GeneralText(1.5, ','), "1,5");
  EXPECT_EQ(GeneralText(1.5f, ','), "1,5");
  EXPECT_EQ(GeneralText(1.5e-5f, ','), "1,5E-05");
  EXPECT_EQ(GeneralText(0.0001, ','), "0,0001");
  EXPECT_EQ(GeneralText(12.0, ','), "12");
}

}  // namespace
}  // namespace pemra
