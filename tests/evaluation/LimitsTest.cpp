// The limits file: values with their units converted to the figures' units (worked by hand
// below), the errors that name what is wrong, and the verdicts and margins they give.

#include <gtest/gtest.h>

#include "evaluation/Comparison.h"
#include "evaluation/Limits.h"

namespace pemra {
namespace {

TEST(LimitsTest, ConvertsDataSheetUnitsToTheFigureUnits) {
  struct Case {
    const char* text;
    const char* unit;
    double expected;
  } cases[] = {
      {"1.5 deg/sqrt(h)", "deg/sqrt(h)", 1.5},
      {"0.025 deg/sqrt(s)", "deg/sqrt(h)", 1.5},          // x 60 (sqrt of 3600)
      {"0.025 \xC2\xB0/\xE2\x88\x9As", "deg/sqrt(h)", 1.5},  // degree sign, root sign
      {"0.5 deg/s/sqrt(Hz)", "deg/sqrt(h)", 30},
      {"1.5 deg/rt(hr)", "deg/sqrt(h)", 1.5},
      {"120 deg/hr", "deg/h", 120},
      {"0.01 deg/s", "deg/h", 36},
      {"1 rad/s", "deg/h", 206264.80624709636},  // 3600 x 180 / pi
      {"3 deg/h/sqrt(h)", "deg/h/sqrt(h)", 3},
      {"1 deg/s/sqrt(h)", "deg/h/sqrt(h)", 3600},
      {"0.3 mg", "mg", 0.3},
      {"300 ug", "mg", 0.3},
      {"300 \xC2\xB5g", "mg", 0.3},
      {"0.002941995 m/s^2", "mg", 0.3},  // 0.3 x 9.80665 / 1000
      {"0.1 m/s^2/sqrt(Hz)", "m/s/sqrt(h)", 6},
      {"1 mg/sqrt(h)", "m/s/h/sqrt(h)", 35.30394},  // 9.80665e-3 x 3600
      {"2 ug/sqrt(Hz)", "mg/sqrt(Hz)", 0.002},
  };
  for (const Case& c : cases) {
    double value = -1;
    const auto error = ConvertQuantity(c.text, c.unit, value);
    ASSERT_FALSE(error) << c.text << ": " << *error;
    EXPECT_NEAR(value, c.expected, c.expected * 1e-9) << c.text << " in " << c.unit;
  }
}

TEST(LimitsTest, RefusesValuesWithoutAFittingUnit) {
  struct Case {
    const char* text;
    const char* unit;
    const char* error;
  } cases[] = {
      {"1.5", "deg/sqrt(h)", "'1.5' has no unit: write it with the value (deg/sqrt(h), "},
      {"1.5 deg/h", "deg/sqrt(h)", "'1.5 deg/h': the unit is not one of deg/sqrt(h), "},
      {"-1 deg/h", "deg/h", "'-1 deg/h': a maximum must be above 0"},
      {"0 deg/h", "deg/h", "'0 deg/h': a maximum must be above 0"},
      {"fast", "deg/h", "'fast' does not start with a number"},
      {"1 Mg", "mg", "'1 Mg': the unit is not one of mg, "},
  };
  for (const Case& c : cases) {
    double value = 0;
    const auto error = ConvertQuantity(c.text, c.unit, value);
    ASSERT_TRUE(error) << c.text;
    EXPECT_TRUE(error->starts_with(c.error)) << *error;
  }
}

TEST(LimitsTest, FileErrorsNameTheSectionAndKey) {
  struct Case {
    const char* json;
    const char* error;
  } cases[] = {
      {"{\"gyro\": {\"N_max\": \"1.5 deg/sqrt(h)\",}}", "not JSON: "},
      {"[1, 2]", "the file must hold one JSON object of sections"},
      {"{\"gyro\": 3}", "\"gyro\": a section must be an object"},
      {"{\"gyro\": {\"N_mx\": \"1 deg/sqrt(h)\"}}", "\"gyro\": \"N_mx\" is not a limit"},
      {"{\"gyro\": {\"B_max\": 120}}", "\"gyro\": \"B_max\": give the value with its unit as text"},
      {"{\"accel\": {\"B_max\": \"120 deg/h\"}}", "\"accel\": \"B_max\": '120 deg/h': the unit is not one of mg"},
  };
  for (const Case& c : cases) {
    Limits limits;
    const auto error = ParseLimits(c.json, limits);
    ASSERT_TRUE(error) << c.json;
    EXPECT_TRUE(error->starts_with(c.error)) << *error;
  }
}

FigureRecord Determined(const char* key, const char* unit, double value) {
  FigureRecord f;
  f.key = key;
  f.unit = unit;
  f.determined = true;
  f.value = value;
  return f;
}

TEST(LimitsTest, VerdictsAndMarginsPerKindWithAxisOverrides) {
  Limits limits;
  ASSERT_FALSE(ParseLimits(R"j({"gyro": {"N_max": "1.5 deg/sqrt(h)", "B_max": "0.01 deg/s", "K_max": "1 deg/h/sqrt(h)"},
                              "Z Gyro": {"N_max": "0.02 deg/sqrt(s)"}})j",
                           limits));
  AxisReport x;
  x.title = "X Gryo";
  x.register_ = "XGYRO_OUT";
  x.figures = {Determined("N", "deg/sqrt(h)", 1.25), Determined("B", "deg/h", 30), FigureRecord{}};
  x.figures[2].key = "K";
  x.figures[2].unit = "deg/h/sqrt(h)";
  x.figures[2].reason = "no stretch of slope +1/2 on the curve";
  AxisReport z = x;
  z.title = "Z Gyro";
  z.register_ = "ZGYRO_OUT";
  z.figures[1].value = 40;
  ASSERT_FALSE(ApplyLimits(limits, x));
  ASSERT_FALSE(ApplyLimits(limits, z));

  EXPECT_EQ(x.figures[0].verdict, Verdict::Pass);
  EXPECT_NEAR(x.figures[0].margin, 0.25, 1e-12);
  EXPECT_EQ(x.figures[1].verdict, Verdict::Pass);  // 0.01 deg/s = 36 deg/h
  EXPECT_NEAR(x.figures[1].limit, 36, 1e-9);
  EXPECT_NEAR(x.figures[1].margin, 6, 1e-9);
  // A figure that was not determined cannot be shown to meet its limit.
  EXPECT_EQ(x.figures[2].verdict, Verdict::Fail);
  EXPECT_NE(x.figures[2].verdictNote.find("not determined"), std::string::npos);
  // The Z axis's own N limit, 0.02 deg/sqrt(s) = 1.2 deg/sqrt(h), overrides the kind's 1.5.
  EXPECT_EQ(z.figures[0].verdict, Verdict::Fail);
  EXPECT_NEAR(z.figures[0].limit, 1.2, 1e-12);
  EXPECT_NEAR(z.figures[0].margin, -0.05, 1e-12);
  EXPECT_EQ(z.figures[0].limitText, "0.02 deg/sqrt(s)");
  EXPECT_NEAR(z.figures[1].margin, -4, 1e-9);  // 36 - 40 deg/h
  EXPECT_EQ(z.figures[1].verdict, Verdict::Fail);
}

TEST(LimitsTest, AnAxisSectionThatNamesNoAxisIsReported) {
  Limits limits;
  ASSERT_FALSE(ParseLimits(R"j({"X Gyro": {"N_max": "1 deg/sqrt(h)"}, "W Gyro": {"N_max": "1 deg/sqrt(h)"}})j", limits));
  AxisReport x;
  x.title = "X Gryo";  // how the log files spell it
  x.register_ = "XGYRO_OUT";
  EXPECT_EQ(UnusedLimitSections(limits, {x}), std::vector<std::string>{"w gyro"});
}

TEST(ComparisonTest, OutliersLieFarFromTheMedianOfThreeOrMoreUnits) {
  struct Case {
    std::vector<double> values;
    std::vector<bool> outliers;
  } cases[] = {
      {{1.0, 1.1, 0.9, 1.05, 5.0}, {false, false, false, false, true}},
      {{1.0, 1.1, 0.9, 1.05, 1.2}, {false, false, false, false, false}},
      // 0.45 from the median 1.05, where the scaled MAD is 0.0741: six of them, above three.
      {{1.0, 1.1, 0.9, 1.05, 1.5}, {false, false, false, false, true}},
      {{1.0, 9.0}, {false, false}},  // two units: none stands out from the other
      {{2.0, 2.0, 2.0}, {false, false, false}},
      {{2.0, 2.0, 2.0, 3.0}, {false, false, false, true}},  // no spread: any difference stands out
  };
  for (const Case& c : cases) EXPECT_EQ(Outliers(c.values), c.outliers);
}

}  // namespace
}  // namespace pemra
