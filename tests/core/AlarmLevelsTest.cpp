// Alarm trigger levels and codes with the register table's scales.

#include <gtest/gtest.h>

#include "core/AlarmLevels.h"
#include "core/DeviceModel.h"

namespace pemra {
namespace {

struct LevelCase { int source; double level; int32_t code; double readBack; };

class AlarmLevelsTest : public ::testing::Test {
 protected:
  void SetUp() override { InitRegisterTable(table); }
  RegisterTable table;
};

// The window's tests hold the worked values and the limits; here the cases it cannot reach.
TEST_F(AlarmLevelsTest, CodesOutsideTheFieldAreClampedAndReadBack) {
  const LevelCase cases[] = {
      {11, 2.5, 0x0FFF, 2.5},          // Aux_ADC
      {1, 40.0, 0x3FFF, 16383 * 0.0018315},  // beyond any limit: the unsigned field's top
      {12, 55.0, 0x0000, 0.0},         // no such entry
      {8, 0.0, 0x3F54, 0.0084},        // -172: 0 is not below 0, so 14-bit two's complement
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
  // The angles are 13-bit two's complement: codes are held to that field, not to the
  // temperatures' 12 bits, and negative ones are coded in 13 bits.
  const LevelCase cases[] = {
      {9, 200.0, 0x0F89, 174.988},       // 3977: beyond 12 bits, within 13
      {10, 297.4291, 0x0FFF, 180.18},    // 6191 held to 4095
      {10, -297.574, 0x1000, -180.224},  // -7331 held to -4096
      {9, -10.0, 0x1CE5, -34.98},        // -795 + 8192
  };
  for (const LevelCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "source " << c.source << " level " << c.level);
    const int32_t code = AlarmLevelToCode(table, c.source, c.level);
    EXPECT_EQ(code, c.code);
    EXPECT_NEAR(AlarmCodeToLevel(table, c.source, code), c.readBack, 5e-4);
  }
}

}  // namespace
}  // namespace pemra
