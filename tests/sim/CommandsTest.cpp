// COMMAND: auto-null, precision auto-null, factory restore, DAC latch, flash update and
// software reset, with their busy times; flash across power cycles and in a file.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "sim/SimTestSupport.h"

namespace pemra::sim {
namespace {

using test::Data;
using test::Ms;
using test::QuietOptions;
using test::SpiRead;
using test::SpiWrite;

void Command(SpiSlave& spi, uint8_t bits) { SpiWrite(spi, addr::COMMAND, bits); }

RigOptions BiasedAtRest(uint64_t seed) {
  RigOptions o;
  o.seed = seed;
  o.motion = MotionProfile::AtRest();
  o.motion.gyroBias = {3.1, -2.45, 1.2};
  return o;
}

TEST(Commands, BusyTimesIgnoreFramesAndReadZero) {
  struct Case {
    uint8_t command;
    Nanoseconds busy;
  };
  for (const Case& c : {Case{cmd::AutoNull, Ms(50)}, Case{cmd::FactoryRestore, Ms(50)},
                        Case{cmd::FlashUpdate, Ms(50)}, Case{cmd::SoftwareReset, Ms(50)},
                        Case{cmd::PrecisionAutoNull, Ms(30000)}}) {
    TestClock clock;
    Rig rig(clock, QuietOptions());
    SpiSlave& spi = rig.Slave();
    Command(spi, c.command);
    clock.Advance(c.busy - Nanoseconds{1});
    EXPECT_TRUE(rig.Sensor().Busy());
    EXPECT_EQ(SpiRead(spi, addr::SMPL_PRD), 0) << int(c.command);
    SpiWrite(spi, addr::AUX_DAC, 0x0123);  // ignored while busy
    clock.Advance(Nanoseconds{1});
    EXPECT_FALSE(rig.Sensor().Busy());
    EXPECT_EQ(SpiRead(spi, addr::SMPL_PRD), 0x0001) << int(c.command);
    EXPECT_EQ(SpiRead(spi, addr::AUX_DAC), 0) << int(c.command);
  }
}

// Gyro output codes after nulling, read with the noise switched off: the residual bias.
std::array<int32_t, 3> ResidualAfter(uint8_t command, Nanoseconds busy, uint64_t seed,
                                     int rangeCode) {
  TestClock clock;
  Rig rig(clock, BiasedAtRest(seed));
  SpiSlave& spi = rig.Slave();
  SpiWrite(spi, addr::SENS_AVG, uint16_t(rangeCode << 8 | 2));
  Command(spi, command);
  clock.Advance(busy);
  rig.Sensor().SetNoise(false);
  return {Data(SpiRead(spi, addr::XGYRO_OUT), 14, true), Data(SpiRead(spi, addr::YGYRO_OUT), 14, true),
          Data(SpiRead(spi, addr::ZGYRO_OUT), 14, true)};
}

TEST(AutoNull, BringsGyroBiasToWithinAFewLsb) {
  // Before: 3.1 deg/s is 42 LSB at the highest range.
  for (uint64_t seed = 1; seed <= 25; ++seed) {
    for (int32_t r : ResidualAfter(cmd::AutoNull, Ms(50), seed, 4)) {
      EXPECT_LE(std::abs(r), 5) << "seed " << seed;
    }
  }
}

TEST(AutoNull, PrecisionTakesThirtySecondsAndNullsToAFractionOfAnLsb) {
  // The residual is under half a step of the offset (a quarter LSB at the highest range)
  // plus the error of a 30-second mean: it reads 0 at the highest range, at most 1 at the
  // lowest, where one offset step is a whole LSB.
  struct Case {
    int range;
    int32_t most;
  };
  for (const Case& c : {Case{4, 0}, Case{1, 1}}) {
    for (uint64_t seed = 1; seed <= 25; ++seed) {
      for (int32_t r : ResidualAfter(cmd::PrecisionAutoNull, Ms(30000), seed, c.range)) {
        EXPECT_LE(std::abs(r), c.most) << "seed " << seed << " range " << c.range;
      }
    }
  }
  TestClock clock;
  Rig rig(clock, BiasedAtRest(1));
  Command(rig.Slave(), cmd::PrecisionAutoNull);
  clock.Advance(Ms(29999));
  EXPECT_EQ(rig.Sensor().PeekRegister(addr::XGYRO_OFF), 0) << "takes effect when done";
  clock.Advance(Ms(1));
  EXPECT_NE(rig.Sensor().PeekRegister(addr::XGYRO_OFF), 0);
}

TEST(AutoNull, OffsetsCancelTheBiasInQuarterLsbSteps) {
  TestClock clock;
  RigOptions o = BiasedAtRest(1);
  o.noise = false;
  Rig rig(clock, o);
  Command(rig.Slave(), cmd::AutoNull);
  clock.Advance(Ms(50));
  // -3.1 / (0.07326 / 4) = -169.3: 13-bit two's complement of -169.
  EXPECT_EQ(SpiRead(rig.Slave(), addr::XGYRO_OFF), 0x2000 - 169);
  EXPECT_EQ(SpiRead(rig.Slave(), addr::YGYRO_OFF), 134);
}

TEST(FactoryRestore, ClearsAllSixOffsets) {
  TestClock clock;
  Rig rig(clock, QuietOptions());
  SpiSlave& spi = rig.Slave();
  const uint8_t offsets[] = {addr::XGYRO_OFF, addr::YGYRO_OFF, addr::ZGYRO_OFF,
                             addr::XACCL_OFF, addr::YACCL_OFF, addr::ZACCL_OFF};
  for (uint8_t a : offsets) SpiWrite(spi, a, 0x0155);
  SpiWrite(spi, addr::ALM_MAG1, 0x0155);
  Command(spi, cmd::FactoryRestore);
  clock.Advance(Ms(50));
  for (uint8_t a : offsets) EXPECT_EQ(SpiRead(spi, a), 0) << std::hex << int(a);
  EXPECT_EQ(SpiRead(spi, addr::ALM_MAG1), 0x0155) << "only the offsets";
}

TEST(Flash, SurvivesPowerCycleAndCountsEndurance) {
  TestClock clock;
  Rig rig(clock, QuietOptions());
  SpiSlave& spi = rig.Slave();
  struct Saved {
    uint8_t address;
    uint16_t word;
  };
  const Saved saved[] = {{addr::XGYRO_OFF, 0x1F00}, {addr::ZACCL_OFF, 0x0123},
                         {addr::ALM_MAG2, 0x8042},  {addr::ALM_SMPL1, 0x0010},
                         {addr::ALM_CTRL, 0x2300},  {addr::AUX_DAC, 0x0800},
                         {addr::GPIO_CTRL, 0x0001}, {addr::MSC_CTRL, 0x0002},
                         {addr::SMPL_PRD, 0x0004},  {addr::SENS_AVG, 0x0205}};
  for (const Saved& s : saved) SpiWrite(spi, s.address, s.word);
  Command(spi, cmd::FlashUpdate);
  clock.Advance(Ms(50));
  EXPECT_EQ(SpiRead(spi, addr::ENDURANCE), 1);
  for (const Saved& s : saved) SpiWrite(spi, s.address, 0);
  rig.Sensor().PowerCycle();
  EXPECT_EQ(spi.Transfer(0x0000), 0) << "first frame after power-up";
  for (const Saved& s : saved) EXPECT_EQ(SpiRead(spi, s.address), s.word) << std::hex << int(s.address);
  EXPECT_EQ(SpiRead(spi, addr::ENDURANCE), 1);
  EXPECT_EQ(rig.Sensor().DacVolts(), 0x800 * 2.5 / 4095) << "saved DAC code drives the DAC";
  Command(spi, cmd::FlashUpdate);
  clock.Advance(Ms(50));
  EXPECT_EQ(SpiRead(spi, addr::ENDURANCE), 2);
}

TEST(Flash, UnsavedChangesAreLostAndSoftwareResetReloads) {
  TestClock clock;
  Rig rig(clock, QuietOptions());
  SpiSlave& spi = rig.Slave();
  SpiWrite(spi, addr::SMPL_PRD, 0x0007);
  SpiWrite(spi, addr::XACCL_OFF, 0x0042);
  Command(spi, cmd::SoftwareReset);
  clock.Advance(Ms(50));
  EXPECT_EQ(SpiRead(spi, addr::SMPL_PRD), 0x0001);
  EXPECT_EQ(SpiRead(spi, addr::XACCL_OFF), 0);
  SpiWrite(spi, addr::XACCL_OFF, 0x0042);
  rig.Sensor().PowerCycle();
  EXPECT_EQ(SpiRead(spi, addr::XACCL_OFF), 0);
}

class FlashFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("pemra_sim_flash_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_F(FlashFile, KeepsContentsBetweenRuns) {
  TestClock clock;
  RigOptions o = QuietOptions();
  o.flashFile = dir_ / "flash.txt";
  {
    Rig rig(clock, o);
    SpiWrite(rig.Slave(), addr::YGYRO_OFF, 0x0077);
    Command(rig.Slave(), cmd::FlashUpdate);
    clock.Advance(Ms(50));
    EXPECT_TRUE(rig.Sensor().FlashError().empty());
  }
  Rig next(clock, o);
  EXPECT_EQ(SpiRead(next.Slave(), addr::YGYRO_OFF), 0x0077);
  EXPECT_EQ(SpiRead(next.Slave(), addr::ENDURANCE), 1);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "flash.txt.tmp"));
}

TEST_F(FlashFile, UpdateThatCannotWriteSetsStatusAndNamesTheFile) {
  TestClock clock;
  RigOptions o = QuietOptions();
  o.flashFile = dir_ / "missing-dir" / "flash.txt";
  Rig rig(clock, o);
  SpiWrite(rig.Slave(), addr::YGYRO_OFF, 0x0077);
  Command(rig.Slave(), cmd::FlashUpdate);
  clock.Advance(Ms(50));
  EXPECT_EQ(SpiRead(rig.Slave(), addr::STATUS), status::FlashUpdateFailed);
  EXPECT_EQ(SpiRead(rig.Slave(), addr::ENDURANCE), 0);
  EXPECT_NE(rig.Sensor().FlashError().find("flash.txt"), std::string::npos)
      << rig.Sensor().FlashError();
  rig.Sensor().PowerCycle();
  EXPECT_EQ(SpiRead(rig.Slave(), addr::YGYRO_OFF), 0) << "flash unchanged";
}

TEST_F(FlashFile, ADirectoryInsteadOfAFileIsReportedAndNeverWritten) {
  TestClock clock;
  RigOptions o = QuietOptions();
  o.flashFile = dir_;
  Rig rig(clock, o);
  EXPECT_NE(rig.Sensor().FlashError().find("is a directory"), std::string::npos);
  Command(rig.Slave(), cmd::FlashUpdate);
  clock.Advance(Ms(50));
  EXPECT_EQ(SpiRead(rig.Slave(), addr::STATUS), status::FlashUpdateFailed);
  EXPECT_TRUE(std::filesystem::is_directory(dir_));
}

TEST_F(FlashFile, MalformedLinesKeepFactoryValuesAndAreReported) {
  {
    std::ofstream f(dir_ / "flash.txt");
    f << "# comment\n1C=0042\r\nnonsense\n36=zz\n02=1234\n38=FFFF\n";
  }
  TestClock clock;
  RigOptions o = QuietOptions();
  o.flashFile = dir_ / "flash.txt";
  Rig rig(clock, o);
  EXPECT_EQ(SpiRead(rig.Slave(), addr::YGYRO_OFF), 0x0042);
  EXPECT_EQ(SpiRead(rig.Slave(), addr::SMPL_PRD), 0x0001);
  EXPECT_EQ(SpiRead(rig.Slave(), addr::SENS_AVG), 0x0707) << "kept bits only";
  EXPECT_NE(rig.Sensor().FlashError().find("3 line(s)"), std::string::npos)
      << rig.Sensor().FlashError();
}

TEST(DacLatch, AuxDacDrivesAuxAdcOnlyWhenLatched) {
  struct Case {
    int16_t model;
    uint16_t dac;
    uint16_t adc;
  };
  // 2.5 V full scale DAC; the ADC reads 2.5 V / 4095 per code on 21420, 3.3 V / 4095 on 21450.
  for (const Case& c : {Case{21420, 1638, 1638}, Case{21420, 4095, 4095}, Case{21450, 1638, 1241},
                        Case{21410, 4095, 3086}}) {
    TestClock clock;
    RigOptions o = QuietOptions();
    o.model = c.model;
    Rig rig(clock, o);
    SpiSlave& spi = rig.Slave();
    SpiWrite(spi, addr::AUX_DAC, c.dac);
    EXPECT_EQ(SpiRead(spi, addr::AUX_ADC) & 0x0FFF, 0) << "not latched yet";
    Command(spi, cmd::DacLatch);
    EXPECT_FALSE(rig.Sensor().Busy());
    EXPECT_EQ(SpiRead(spi, addr::AUX_ADC) & 0x0FFF, c.adc) << c.model << " " << c.dac;
  }
}

TEST(Commands, UndefinedBitsFlagControlWriteFailed) {
  TestClock clock;
  Rig rig(clock, QuietOptions());
  Command(rig.Slave(), 0x20);
  EXPECT_EQ(SpiRead(rig.Slave(), addr::STATUS), status::ControlWriteFailed);
  EXPECT_EQ(SpiRead(rig.Slave(), addr::STATUS), 0);
}

}  // namespace
}  // namespace pemra::sim
