// Alarm trigger levels and codes with the register table's scales, and the ALM_CTRL fields.

#include <gtest/gtest.h>

#include "core/AlarmLevels.h"
#include "core/DeviceModel.h"

namespace pemra {
namespace {

struct LevelCase {
  int source;
  double level;
  int32_t code;       // bits 0-13 written
  double readBack;    // level the code stands for
};

class AlarmLevelsTest : public ::testing::Test {
 protected:
  void SetUp() override { InitRegisterTable(table); }
  RegisterTable table;
};

TEST_F(AlarmLevelsTest, LevelsBecomeCodesAndBack) {
  const LevelCase cases[] = {
      {2, 100.0, 0x0555, 100.0},       // X_Gyro
      {2, -100.0, 0x3AAB, -100.0},     // -1365 in 14-bit two's complement
      {1, 5.0, 0x0AAA, 5.0},           // Supply V
      {8, 50.0, 0x00AC, 49.9916},      // X_Temp, 25 degrees at code 0
      {8, 10.0, 0x3F99, 10.0341},      // -103 in 14 bits; its low 12 bits read back
      {8, -10.0, 0x0F0F, -10.0173},    // -241 + 4096 (12-bit two's complement)
      {9, 25.0, 0x0000, 25.0},
      {11, 2.5, 0x0FFF, 2.5},          // Aux_ADC
      {6, -20.66, 0x2000, -20.6602},   // -8192 still fits the field
      // Beyond the field: clamped, so the alarm keeps its sign.
      {5, 20.66, 0x1FFF, 20.6577},     // 8192 would read back as -8192
      {10, -297.574, 0x0800, -272.574},
      {0, 55.0, 0x0000, 0.0},          // Disabled
      {12, 55.0, 0x0000, 0.0},         // no such entry
  };
  for (const LevelCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "source " << c.source << " level " << c.level);
    const int32_t code = AlarmLevelToCode(table, c.source, c.level);
    EXPECT_EQ(code, c.code);
    EXPECT_NEAR(AlarmCodeToLevel(table, c.source, code), c.readBack, 5e-4);
  }
}

TEST_F(AlarmLevelsTest, ConversionFollowsTheGyroRange) {
  // At a quarter of the scale the same code stands for a quarter of the level, and 600
  // deg/s no longer fits: it is held at the field's top.
  table[reg::YGYRO_OUT].RegScale = 0.07326f / 4;
  EXPECT_EQ(AlarmLevelToCode(table, 3, 25.0), 0x0555);
  EXPECT_EQ(AlarmLevelToCode(table, 3, 600.0), 0x1FFF);
  EXPECT_EQ(AlarmLevelToCode(table, 3, -600.0), 0x2000);
  EXPECT_NEAR(AlarmCodeToLevel(table, 3, 0x1FFF), 8191 * 0.07326 / 4, 1e-3);
}

TEST_F(AlarmLevelsTest, AngleOutputsConvertWithTheirOwnEntry) {
  ApplyModelTable(21410, table);
  // Y_Temp is the pitch output here: its scale converts, 25 is still taken off the level,
  // and the read-back adds the entry's own offset (0), so it shows the angle the sensor
  // compares with.
  EXPECT_EQ(AlarmLevelToCode(table, 9, 47.0), 500);
  EXPECT_NEAR(AlarmCodeToLevel(table, 9, 500), 22.0, 1e-4);
}

TEST_F(AlarmLevelsTest, LimitsAndTheirTexts) {
  EXPECT_FALSE(AlarmSourceLimits(0));
  EXPECT_FALSE(AlarmSourceLimits(15));
  const std::pair<int, AlarmLimits> cases[] = {
      {1, {0.0, 7.49385, "0", "7.49385"}},    {4, {-600.0, 600.0, "-600", "600"}},
      {7, {-20.66, 20.66, "-20.66", "20.66"}}, {10, {-297.574, 297.4291, "-297.574", "297.4291"}},
      {11, {0.0, 2.5, "0", "2.5"}},
  };
  for (const auto& [source, expected] : cases) {
    const std::optional<AlarmLimits> limits = AlarmSourceLimits(source);
    ASSERT_TRUE(limits) << source;
    EXPECT_EQ(limits->lower, expected.lower);
    EXPECT_EQ(limits->upper, expected.upper);
    EXPECT_EQ(limits->lowerText, expected.lowerText);
    EXPECT_EQ(limits->upperText, expected.upperText);
  }
}

TEST_F(AlarmLevelsTest, ControlFieldsChangeOnlyTheirBits) {
  const int32_t word = 0xA93D;  // sources 9 and 10, bits 0 and 2-5 set
  EXPECT_EQ(AlarmSourceField(word, 1), 9);
  EXPECT_EQ(AlarmSourceField(word, 2), 10);
  EXPECT_EQ(WithAlarmSource(word, 1, 3), 0xA33D);
  EXPECT_EQ(WithAlarmSource(word, 2, 0), 0x093D);
  EXPECT_EQ(WithAlarmSource(word, 1, -1), word);  // no entry chosen: kept
  EXPECT_EQ(WithAlarmSource(word, 2, 12), word);
  EXPECT_EQ(WithRateOfChange(word, 1, true), 0xA97D);
  EXPECT_EQ(WithRateOfChange(0xA9FD, 2, false), 0xA97D);
  EXPECT_EQ(WithIndicator(word, false, true, false), 0xA93A);
  EXPECT_EQ(WithIndicator(word, true, true, true), 0xA93F);
}

}  // namespace
}  // namespace pemra
