// The measurement model seen through the SPI pins: sample timing and new-data flags, gyro
// range, filter, offsets, the test pattern and the formats of the nine models.

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

#include "sim/SampleClock.h"
#include "sim/SimTestSupport.h"

namespace pemra::sim {
namespace {

using test::Data;
using test::Ms;
using test::QuietOptions;
using test::SpiRead;
using test::SpiWrite;

TEST(NewDataFlag, SetOncePerSampleAndPerRegister) {
  struct Case {
    uint16_t smplPrd;
  };
  for (const Case& c : {Case{0x01}, Case{0x09}, Case{0x81}, Case{0x00}}) {
    TestClock clock;
    Rig rig(clock, QuietOptions());
    SpiSlave& spi = rig.Slave();
    EXPECT_TRUE(SpiRead(spi, addr::XGYRO_OUT) & 0x8000) << "sample 0 exists at power-up";
    SpiWrite(spi, addr::SMPL_PRD, c.smplPrd);
    const Nanoseconds ts = SamplePeriod(c.smplPrd);
    SpiRead(spi, addr::XGYRO_OUT);
    EXPECT_FALSE(SpiRead(spi, addr::XGYRO_OUT) & 0x8000);
    clock.Advance(ts - Nanoseconds{1});
    EXPECT_FALSE(SpiRead(spi, addr::XGYRO_OUT) & 0x8000) << std::hex << c.smplPrd;
    clock.Advance(Nanoseconds{1});
    EXPECT_TRUE(SpiRead(spi, addr::XGYRO_OUT) & 0x8000) << std::hex << c.smplPrd;
    EXPECT_FALSE(SpiRead(spi, addr::XGYRO_OUT) & 0x8000);
    // Another register still has its flag: each register remembers its own last read.
    EXPECT_TRUE(SpiRead(spi, addr::ZACCL_OUT) & 0x8000);
    // Registers without new data never carry the bit.
    EXPECT_EQ(SpiRead(spi, addr::SMPL_PRD), c.smplPrd);
  }
}

TEST(SpiFrames, AnswerComesDuringTheNextFrame) {
  TestClock clock;
  Rig rig(clock, QuietOptions());
  SpiSlave& spi = rig.Slave();
  EXPECT_EQ(spi.Transfer(0x3600), 0x0000) << "first frame after power-up";
  EXPECT_EQ(spi.Transfer(0x3800), 0x0001) << "SMPL_PRD, whatever this frame carries";
  EXPECT_EQ(spi.Transfer(0xB905), 0x0402) << "SENS_AVG";
  EXPECT_EQ(spi.Transfer(0x3800), 0x0000) << "a frame after a write";
  EXPECT_EQ(spi.Transfer(0x3900), 0x0502) << "odd address reads its register";
  EXPECT_EQ(spi.Transfer(0x0000), 0x0502);
}

TEST(Registers, PowerOnValuesAndDefinedBits) {
  TestClock clock;
  Rig rig(clock, QuietOptions());
  SpiSlave& spi = rig.Slave();
  struct Case {
    uint8_t address;
    uint16_t powerOn;
    uint16_t written;
    uint16_t readBack;
  };
  const Case cases[] = {
      {addr::ENDURANCE, 0, 0x1234, 0},  // read-only
      {addr::Reserved, 0, 0xFFFF, 0},
      {addr::XGYRO_OFF, 0, 0xFFFF, 0x1FFF},
      {addr::XACCL_OFF, 0, 0xFFFF, 0x0FFF},
      {addr::ALM_MAG1, 0, 0xFFFF, 0xBFFF},
      {addr::ALM_SMPL2, 0, 0xFFFF, 0x00FF},
      {addr::ALM_CTRL, 0, 0xFF38, 0xFF00},
      {addr::AUX_DAC, 0, 0xFFFF, 0x0FFF},
      {addr::MSC_CTRL, 0x0006, 0x00F3, 0x0003},  // data-ready off from here on
      {addr::GPIO_CTRL, 0, 0x0300, 0x0000},      // inputs read the (low) external level
      {addr::SMPL_PRD, 0x0001, 0xFF05, 0x0005},
      {addr::SENS_AVG, 0x0402, 0xF9F3, 0x0103},
      {addr::COMMAND, 0, 0x0000, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SpiRead(spi, c.address), c.powerOn) << std::hex << int(c.address);
    SpiWrite(spi, c.address, c.written);
    EXPECT_EQ(SpiRead(spi, c.address), c.readBack) << std::hex << int(c.address);
  }
  EXPECT_EQ(SpiRead(spi, 0x40), 0) << "unassigned address";
}

TEST(GyroRange, ScalesOutputsPerModelAndSaturates) {
  struct Case {
    int16_t model;
    int rangeCode;
    double rate;
    int32_t code;
  };
  const Case cases[] = {
      {21420, 4, 100.0, 1365},  {21420, 2, 100.0, 2730},   {21420, 1, 100.0, 5460},
      {21420, 1, -100.0, -5460}, {21490, 4, 100.0, 500},   {21490, 1, 100.0, 2000},
      {21460, 2, 50.0, 2000},    {21420, 1, 1000.0, 8191}, {21420, 1, -1000.0, -8192},
  };
  for (const Case& c : cases) {
    TestClock clock;
    RigOptions o = QuietOptions();
    o.model = c.model;
    o.motion.gyroBias = {0, 0, 0};
    o.motion.rate[0].constant = c.rate;
    Rig rig(clock, o);
    SpiWrite(rig.Slave(), addr::SENS_AVG, uint16_t(c.rangeCode << 8 | 2));
    EXPECT_EQ(Data(SpiRead(rig.Slave(), addr::XGYRO_OUT), 14, true), c.code)
        << c.model << " range " << c.rangeCode << " rate " << c.rate;
  }
}

TEST(GyroRange, InvalidCodeKeepsRangeAndFlagsControlWrite) {
  TestClock clock;
  RigOptions o = QuietOptions();
  o.motion.gyroBias = {0, 0, 0};
  o.motion.rate[0].constant = 100.0;
  Rig rig(clock, o);
  SpiSlave& spi = rig.Slave();
  SpiWrite(spi, addr::SENS_AVG, 0x0202);
  EXPECT_EQ(SpiRead(spi, addr::STATUS), 0);
  SpiWrite(spi, addr::SENS_AVG, 0x0302);
  EXPECT_EQ(Data(SpiRead(spi, addr::XGYRO_OUT), 14, true), 2730);
  EXPECT_EQ(SpiRead(spi, addr::SENS_AVG), 0x0302);
  EXPECT_EQ(SpiRead(spi, addr::STATUS), status::ControlWriteFailed);
  EXPECT_EQ(SpiRead(spi, addr::STATUS), 0) << "latched bit cleared by the read";
}

double StdDevOfGyro(int filterExponent) {
  TestClock clock;
  RigOptions o;
  o.motion = MotionProfile::AtRest();
  o.seed = 7;
  Rig rig(clock, o);
  SpiWrite(rig.Slave(), addr::SENS_AVG, uint16_t(0x0400 | filterExponent));
  const Nanoseconds ts = SamplePeriod(0x01);
  std::vector<double> v;
  for (int i = 0; i < 3000; ++i) {
    clock.Advance(ts * (1 << filterExponent));  // non-overlapping windows: independent samples
    v.push_back(Data(SpiRead(rig.Slave(), addr::YGYRO_OUT), 14, true));
  }
  const double mean = std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
  double sq = 0;
  for (double x : v) sq += (x - mean) * (x - mean);
  return std::sqrt(sq / double(v.size()));
}

TEST(Filter, NoiseFallsWithSquareRootOfTaps) {
  const double oneTap = StdDevOfGyro(0);
  const double sixteenTaps = StdDevOfGyro(4);
  // About 0.6 deg/s rms at one tap: 8.2 LSB at 0.07326 deg/s.
  EXPECT_NEAR(oneTap, 0.6 / 0.07326, 0.8);
  EXPECT_NEAR(oneTap / sixteenTaps, 4.0, 0.5);
}

TEST(Filter, ClosedFormMeanMatchesSampleBySampleMean) {
  Signal s;
  s.constant = 1.5;
  s.waves[0] = Wave{30.0, 0.5, 0.3};
  s.waves[1] = Wave{2.0, 2.0, 1.0};
  struct Case {
    double spacing;
    int64_t taps;
  };
  // The last case samples the 2 Hz wave at exactly its period (the aliasing limit).
  for (const Case& c : {Case{0.0012207, 1}, Case{0.0012207, 128}, Case{0.018921, 64},
                        Case{0.5, 8}}) {
    const double t1 = 123.456;
    double sum = 0;
    for (int64_t j = 0; j < c.taps; ++j) sum += s.At(t1 - double(j) * c.spacing);
    EXPECT_NEAR(s.MeanOver(t1, c.spacing, c.taps), sum / double(c.taps), 1e-9)
        << c.spacing << " x " << c.taps;
  }
}

TEST(Offsets, ShiftOutputsInTheirSteps) {
  struct Case {
    uint8_t offsetAddress;
    uint16_t offsetWord;
    int rangeCode;
    uint8_t outputAddress;
    int32_t shift;
  };
  const Case cases[] = {
      {addr::XGYRO_OFF, 4, 4, addr::XGYRO_OUT, 1},           // quarter LSB at the highest range
      {addr::XGYRO_OFF, 4, 1, addr::XGYRO_OUT, 4},           // a whole LSB at the lowest
      {addr::YGYRO_OFF, 0x1FF8, 4, addr::YGYRO_OUT, -2},     // -8 in 13 bits
      {addr::ZGYRO_OFF, 400, 2, addr::ZGYRO_OUT, 200},
      {addr::XACCL_OFF, 100, 4, addr::XACCL_OUT, 100},       // accelerometer LSB
      {addr::ZACCL_OFF, 0x0F9C, 4, addr::ZACCL_OUT, -100},   // -100 in 12 bits
  };
  for (const Case& c : cases) {
    TestClock clock;
    RigOptions o = QuietOptions();
    o.motion.gyroBias = {0, 0, 0};
    o.motion.accelBias = {0, 0, 0};
    Rig rig(clock, o);
    SpiSlave& spi = rig.Slave();
    SpiWrite(spi, addr::SENS_AVG, uint16_t(c.rangeCode << 8));
    const int32_t before = Data(SpiRead(spi, c.outputAddress), 14, true);
    SpiWrite(spi, c.offsetAddress, c.offsetWord);
    const int32_t after = Data(SpiRead(spi, c.outputAddress), 14, true);
    EXPECT_EQ(after - before, c.shift) << std::hex << int(c.offsetAddress) << " " << c.offsetWord;
  }
}

TEST(TestPattern, EveryOutputHoldsTheSampleNumberModuloItsField) {
  TestClock clock;
  RigOptions o;
  o.testPattern = true;
  Rig rig(clock, o);
  clock.Advance(SamplePeriod(0x01) * 5000);
  ASSERT_EQ(rig.Sensor().LatestSample(), 5000);
  struct Case {
    uint8_t address;
    uint16_t data;
  };
  for (const Case& c : {Case{addr::SUPPLY_OUT, 5000 % 4096}, Case{addr::XGYRO_OUT, 5000},
                        Case{addr::ZACCL_OUT, 5000}, Case{addr::XTEMP_OUT, 5000 % 4096},
                        Case{addr::AUX_ADC, 5000 % 4096}}) {
    EXPECT_EQ(SpiRead(rig.Slave(), c.address), 0x8000 | c.data) << std::hex << int(c.address);
  }
  clock.Advance(SamplePeriod(0x01) * 3);
  EXPECT_EQ(SpiRead(rig.Slave(), addr::XGYRO_OUT), 0x8000 | 5003);
}

TEST(Models, FormatsFollowTheDeviceModelTable) {
  struct Case {
    int16_t model;
    int supplyWidth;
    double supplyScale;
    double accelScale;
  };
  const Case cases[] = {
      {21410, 14, 0.00242, 0.0006},   {21420, 12, 0.0018315, 0.002522},
      {21430, 12, 0.0018315, 0.0004672}, {21440, 12, 0.0018315, 0.002522},
      {21450, 14, 0.002418, 0.00333}, {21460, 14, 0.002418, 0.000333},
      {21470, 14, 0.002418, 0.001},   {21480, 14, 0.002418, 0.00333},
      {21490, 14, 0.002418, 0.00333},
  };
  for (const Case& c : cases) {
    TestClock clock;
    RigOptions o = QuietOptions();
    o.model = c.model;
    o.motion.accelBias = {0, 0, 0};
    o.supplyVolts = 5.0;
    Rig rig(clock, o);
    SpiSlave& spi = rig.Slave();
    const uint16_t supply = SpiRead(spi, addr::SUPPLY_OUT);
    EXPECT_EQ(supply & ~((1 << c.supplyWidth) - 1) & 0x3FFF, 0) << c.model;
    EXPECT_NEAR((supply & ((1 << c.supplyWidth) - 1)) * c.supplyScale, 5.0, c.supplyScale)
        << c.model;
    const int32_t z = Data(SpiRead(spi, addr::ZACCL_OUT), 14, true);
    EXPECT_NEAR(z * c.accelScale, 1.0, c.accelScale) << c.model;
  }
}

TEST(Models, Model21410HasXGyroOnlyAndPitchRollOutputs) {
  TestClock clock;
  RigOptions o = QuietOptions();
  o.model = 21410;
  o.motion.accelBias = {0, 0, 0};
  o.motion.acceleration[0].constant = 0.5;   // tilted: 0.5 g on X
  o.motion.acceleration[1].constant = -0.3;  // and -0.3 g on Y
  o.motion.rate[1].constant = 40.0;
  Rig rig(clock, o);
  SpiSlave& spi = rig.Slave();
  EXPECT_EQ(SpiRead(spi, addr::YGYRO_OUT), 0);
  EXPECT_EQ(SpiRead(spi, addr::ZGYRO_OUT), 0);
  const double pitch = Data(SpiRead(spi, addr::YTEMP_OUT), 13, true) * 0.044;
  const double roll = Data(SpiRead(spi, addr::ZTEMP_OUT), 13, true) * 0.044;
  const double kDeg = 180.0 / 3.14159265358979;
  EXPECT_NEAR(pitch, std::atan2(0.5, std::hypot(-0.3, 1.0)) * kDeg, 0.1);
  EXPECT_NEAR(roll, std::atan2(-0.3, 1.0) * kDeg, 0.1);
  // The X temperature stays a temperature: 12 bits around 25 degrees at 0.14.
  EXPECT_NEAR(Data(SpiRead(spi, addr::XTEMP_OUT), 12, true) * 0.14 + 25.0, 25.0, 0.14);
}

TEST(Motion, DefaultProfileMovesAndCatchesUpAfterLongGaps) {
  TestClock clock;
  Rig rig(clock);
  SpiSlave& spi = rig.Slave();
  // Z rate 5 deg/s plus bias, around 80 LSB; X swings 30 deg/s at 0.5 Hz.
  const int32_t x0 = Data(SpiRead(spi, addr::XGYRO_OUT), 14, true);
  clock.Advance(Ms(500));  // a quarter period later: near the crest
  const int32_t x1 = Data(SpiRead(spi, addr::XGYRO_OUT), 14, true);
  EXPECT_GT(x1 - x0, 300);
  clock.Advance(std::chrono::hours(1));
  const int64_t k = rig.Sensor().LatestSample();
  EXPECT_EQ(k, (Ms(500) + std::chrono::hours(1)) / SamplePeriod(0x01));
  const uint16_t z = SpiRead(spi, addr::ZGYRO_OUT);
  EXPECT_TRUE(z & 0x8000);
  EXPECT_NEAR(Data(z, 14, true) * 0.07326, 5.0 + 0.9, 1.5);
}

TEST(Noise, SameSeedSameSamplesOtherSeedOthers) {
  auto readings = [](uint64_t seed) {
    TestClock clock;
    RigOptions o;
    o.seed = seed;
    Rig rig(clock, o);
    std::vector<uint16_t> v;
    for (int i = 0; i < 50; ++i) {
      clock.Advance(Ms(10));
      v.push_back(SpiRead(rig.Slave(), addr::XACCL_OUT));
    }
    return v;
  };
  EXPECT_EQ(readings(3), readings(3));
  EXPECT_NE(readings(3), readings(4));
}

}  // namespace
}  // namespace pemra::sim
