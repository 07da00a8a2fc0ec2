// STATUS and what sets it: supply limits, self-test, alarms (value and rate of change, both
// polarities, every kind of source) with the indicator line; and sleep.

#include <gtest/gtest.h>

#include "sim/SampleClock.h"
#include "sim/SimTestSupport.h"

namespace pemra::sim {
namespace {

using test::Data;
using test::Ms;
using test::QuietOptions;
using test::SpiRead;
using test::SpiWrite;

TEST(Supply, LimitsSetStatusBitsAndOutputFollows) {
  struct Case {
    double volts;
    uint16_t status;
  };
  // Flagged only below 4.75 V and above 5.25 V: the limits themselves are in range.
  for (const Case& c : {Case{4.70, status::SupplyLow}, Case{4.7499, status::SupplyLow},
                        Case{4.75, 0}, Case{5.0, 0}, Case{5.25, 0},
                        Case{5.2501, status::SupplyHigh}, Case{5.30, status::SupplyHigh}}) {
    TestClock clock;
    RigOptions o = QuietOptions();
    o.supplyVolts = c.volts;
    Rig rig(clock, o);
    EXPECT_EQ(SpiRead(rig.Slave(), addr::STATUS), c.status) << c.volts;
    EXPECT_EQ(SpiRead(rig.Slave(), addr::STATUS), c.status) << "a condition, not latched";
    const uint16_t word = SpiRead(rig.Slave(), addr::SUPPLY_OUT);
    EXPECT_NEAR((word & 0x0FFF) * 0.0018315, c.volts, 0.0018315) << c.volts;
    EXPECT_EQ((word & 0x4000) != 0, c.status != 0) << "error/alarm bit of the outputs";
  }
}

TEST(SelfTest, BitShiftsGyrosAndAccelerometersUntilCleared) {
  for (bool fault : {false, true}) {
    TestClock clock;
    Rig rig(clock, QuietOptions());
    rig.Sensor().InjectSelfTestFault(fault);
    SpiSlave& spi = rig.Slave();
    const int32_t gyro = Data(SpiRead(spi, addr::XGYRO_OUT), 14, true);
    const int32_t accel = Data(SpiRead(spi, addr::ZACCL_OUT), 14, true);
    SpiWrite(spi, addr::MSC_CTRL, 0x0106);
    const int32_t gyroShift = Data(SpiRead(spi, addr::XGYRO_OUT), 14, true) - gyro;
    const int32_t accelShift = Data(SpiRead(spi, addr::ZACCL_OUT), 14, true) - accel;
    if (fault) {
      EXPECT_EQ(gyroShift, 0);
      EXPECT_EQ(accelShift, 0);
    } else {
      EXPECT_NEAR(gyroShift, 20.0 / 0.07326, 1.0);   // +20 deg/s
      EXPECT_NEAR(accelShift, 0.15 / 0.002522, 1.0);  // +0.15 g
    }
    SpiWrite(spi, addr::MSC_CTRL, 0x0006);
    EXPECT_EQ(Data(SpiRead(spi, addr::XGYRO_OUT), 14, true), gyro);
  }
}

TEST(SelfTest, AutomaticTestClearsItselfAndFlagsAFault) {
  for (bool fault : {false, true}) {
    TestClock clock;
    Rig rig(clock, QuietOptions());
    rig.Sensor().InjectSelfTestFault(fault);
    SpiSlave& spi = rig.Slave();
    SpiWrite(spi, addr::MSC_CTRL, 0x0406);
    clock.Advance(Ms(35) - Nanoseconds{1});
    EXPECT_EQ(SpiRead(spi, addr::MSC_CTRL), 0x0406);
    EXPECT_EQ(SpiRead(spi, addr::STATUS), 0);
    clock.Advance(Nanoseconds{1});
    EXPECT_EQ(SpiRead(spi, addr::MSC_CTRL), 0x0006);
    EXPECT_EQ(SpiRead(spi, addr::STATUS), fault ? status::SelfTestFailed : 0) << fault;
    EXPECT_EQ(SpiRead(spi, addr::STATUS), 0) << "latched until read";
  }
}

TEST(Sleep, SilencesTheSensorForHalfSecondSteps) {
  for (uint16_t n : {1, 3, 255}) {
    TestClock clock;
    Rig rig(clock, QuietOptions());
    SpiSlave& spi = rig.Slave();
    clock.Advance(Ms(100));
    const int64_t before = rig.Sensor().LatestSample();
    SpiRead(spi, addr::XGYRO_OUT);
    SpiWrite(spi, addr::SLP_CNT, n);
    const Nanoseconds sleep = Ms(500) * n;
    clock.Advance(sleep - Nanoseconds{1});
    EXPECT_TRUE(rig.Sensor().Asleep());
    EXPECT_EQ(SpiRead(spi, addr::SMPL_PRD), 0) << n;
    EXPECT_EQ(SpiRead(spi, addr::ZACCL_OUT), 0) << n;
    SpiWrite(spi, addr::AUX_DAC, 0x0321);  // ignored
    EXPECT_EQ(rig.Sensor().LatestSample(), before) << "no samples while asleep";
    clock.Advance(Nanoseconds{1});
    EXPECT_FALSE(rig.Sensor().Asleep());
    EXPECT_EQ(SpiRead(spi, addr::SLP_CNT), 0);
    EXPECT_EQ(SpiRead(spi, addr::AUX_DAC), 0);
    EXPECT_EQ(rig.Sensor().LatestSample(), before + 1) << "sampling resumes on waking";
    EXPECT_TRUE(SpiRead(spi, addr::XGYRO_OUT) & 0x8000);
  }
}

// The trigger word the alarm window writes: the level's low 14 bits, bit 15 for "greater".
uint16_t Mag(int32_t level, bool greater) {
  return uint16_t((level & 0x3FFF) | (greater ? 0x8000 : 0));
}

TEST(Alarms, EachSourceKindAndPolaritySetsItsStatusBit) {
  struct Case {
    int source;       // ALM_CTRL source code
    int32_t value;    // the source's output code in this set-up
    int32_t level;
    bool greater;
    bool alarm;
  };
  const Case cases[] = {
      {1, 2730, 2729, true, true},   {1, 2730, 2730, true, false},   // supply 5.0 V
      {1, 2730, 2731, false, true},  {1, 2730, 2730, false, false},
      {2, -273, -274, true, true},   {2, -273, -273, true, false},   // X gyro -20 deg/s
      {2, -273, -272, false, true},  {2, -273, -273, false, false},
      {6, -198, -199, true, true},   {6, -198, -197, false, true},   // Y accel -0.5 g
      {6, -198, -198, false, false},
      {10, 34, 33, true, true},      {10, 34, 35, true, false},      // Z temperature 30 degrees
      {8, -34, -35, true, true},     {8, -34, -33, false, true},     // X temperature 20 degrees
      {8, -34, -34, true, false},
      {11, 1638, 1637, true, true},  {11, 1638, 1639, false, true},  // AUX_ADC, DAC latched 1 V
      {11, 1638, 1638, false, false},
      {0, 0, 0, false, false},        {12, 0, 0x3FFF, false, false},  // off, and no such source
  };
  for (int alarm : {0, 1}) {
    for (const Case& c : cases) {
      TestClock clock;
      RigOptions o = QuietOptions();
      o.motion.gyroBias = {0, 0, 0};
      o.motion.accelBias = {0, 0, 0};
      o.motion.rate[0].constant = -20.0;
      o.motion.acceleration[1].constant = -0.5;
      o.motion.temperature[0].constant = 20.0;
      o.motion.temperature[2].constant = 30.0;
      Rig rig(clock, o);
      SpiSlave& spi = rig.Slave();
      SpiWrite(spi, addr::AUX_DAC, 1638);
      SpiWrite(spi, addr::COMMAND, cmd::DacLatch);
      if (c.source >= 1 && c.source <= 11) {
        EXPECT_EQ(rig.Sensor().OutputCode(Channel(c.source - 1)), c.value) << c.source;
      }
      SpiWrite(spi, alarm == 0 ? addr::ALM_MAG1 : addr::ALM_MAG2, Mag(c.level, c.greater));
      SpiWrite(spi, addr::ALM_CTRL, uint16_t(c.source << (alarm == 0 ? 8 : 12)));
      const uint16_t bit = alarm == 0 ? status::Alarm1 : status::Alarm2;
      EXPECT_EQ(SpiRead(spi, addr::STATUS), c.alarm ? bit : 0)
          << "alarm " << alarm + 1 << " source " << c.source << " level " << c.level
          << (c.greater ? " greater" : " less");
      EXPECT_EQ((SpiRead(spi, addr::XACCL_OUT) & 0x4000) != 0, c.alarm);
    }
  }
}

TEST(Alarms, RateOfChangeComparesTheChangeOverAlmSmplSamples) {
  struct Case {
    uint16_t samples;
    int32_t level;
    bool greater;
    bool alarm;
  };
  // With the test pattern each sample's code is its number, so the change over n samples
  // is n.
  const Case cases[] = {{10, 9, true, true},  {10, 10, true, false}, {10, 11, false, true},
                        {10, 10, false, false}, {0, 0, true, true},  {0, 1, true, false},
                        {200, 199, true, true}, {200, 201, false, true}};
  for (int alarm : {0, 1}) {
    for (const Case& c : cases) {
      TestClock clock;
      RigOptions o = QuietOptions();
      o.testPattern = true;
      Rig rig(clock, o);
      clock.Advance(SamplePeriod(0x01) * 1000);
      SpiSlave& spi = rig.Slave();
      SpiWrite(spi, alarm == 0 ? addr::ALM_SMPL1 : addr::ALM_SMPL2, c.samples);
      SpiWrite(spi, alarm == 0 ? addr::ALM_MAG1 : addr::ALM_MAG2, Mag(c.level, c.greater));
      const uint16_t rocBit = alarm == 0 ? 0x40 : 0x80;
      SpiWrite(spi, addr::ALM_CTRL, uint16_t(2 << (alarm == 0 ? 8 : 12) | rocBit));
      EXPECT_EQ(SpiRead(spi, addr::STATUS) != 0, c.alarm)
          << "alarm " << alarm + 1 << " n " << c.samples << " level " << c.level;
      // Without the rate-of-change bit the value itself (1000) is compared.
      SpiWrite(spi, addr::ALM_CTRL, uint16_t(2 << (alarm == 0 ? 8 : 12)));
      EXPECT_EQ(SpiRead(spi, addr::STATUS) != 0, c.greater) << "1000 against " << c.level;
    }
  }
}

TEST(Alarms, IndicatorDrivesTheChosenLineWithItsPolarity) {
  struct Case {
    int line;
    bool activeHigh;
    bool alarm;
    bool level;
  };
  const Case cases[] = {{0, true, true, true},   {0, true, false, false}, {0, false, true, false},
                        {0, false, false, true}, {1, true, true, true},   {1, false, true, false},
                        {1, true, false, false}};
  for (const Case& c : cases) {
    TestClock clock;
    Rig rig(clock, QuietOptions());
    SpiSlave& spi = rig.Slave();
    SpiWrite(spi, addr::MSC_CTRL, 0);  // data-ready off
    // Alarm 1 on the supply (code 2730): "greater than 0" always, "greater than 4095" never.
    SpiWrite(spi, addr::ALM_MAG1, Mag(c.alarm ? 0 : 4095, true));
    const uint16_t ctrl = uint16_t(0x0100 | 0x4 | (c.activeHigh ? 0x2 : 0) | c.line);
    SpiWrite(spi, addr::ALM_CTRL, ctrl);
    EXPECT_EQ(rig.Sensor().LineLevel(c.line), c.level);
    const uint16_t gpio = SpiRead(spi, addr::GPIO_CTRL);
    EXPECT_EQ((gpio & (0x100 << c.line)) != 0, c.level) << std::hex << ctrl;
    // Indicator disabled: the line is an ordinary input again (low).
    SpiWrite(spi, addr::ALM_CTRL, uint16_t(ctrl & ~0x4));
    EXPECT_FALSE(rig.Sensor().LineLevel(c.line));
  }
}

TEST(IoLines, OutputsInputsAndDataReady) {
  TestClock clock;
  Rig rig(clock, QuietOptions());
  SpiSlave& spi = rig.Slave();
  SpiWrite(spi, addr::MSC_CTRL, 0);
  rig.Sensor().SetInputLevel(1, true);
  SpiWrite(spi, addr::GPIO_CTRL, 0x0101);  // line 0 output high, line 1 input
  EXPECT_EQ(SpiRead(spi, addr::GPIO_CTRL), 0x0301);
  SpiWrite(spi, addr::GPIO_CTRL, 0x0001);
  EXPECT_EQ(SpiRead(spi, addr::GPIO_CTRL), 0x0201);
  // Data-ready on line 1, active high: high for the first half of each sample period.
  SpiWrite(spi, addr::MSC_CTRL, 0x0007);
  const Nanoseconds ts = SamplePeriod(0x01);
  clock.Advance(ts * 10);
  EXPECT_TRUE(rig.Sensor().LineLevel(1));
  clock.Advance(ts / 2 + Nanoseconds{1});
  EXPECT_FALSE(rig.Sensor().LineLevel(1));
}

}  // namespace
}  // namespace pemra::sim
