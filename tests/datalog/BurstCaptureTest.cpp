// The burst capture against the simulated sensor in its test pattern (every output holds the
// internal sample number modulo its field), on the test clock with and without the timing
// model: one row per sample when bursts keep up, misses counted when they cannot, and the
// end of a capture when the sensor brings no new data (a failed transfer: LogBurstTest).

#include <gtest/gtest.h>

#include "core/SamplePeriod.h"
#include "datalog/BurstCapture.h"
#include "datalog/BurstSampleReader.h"
#include "support/SimulatedBench.h"

namespace pemra {
namespace {

using test::OutputEntries;
using test::SimulatedBench;

enum class Road { UsbTimingOff, UsbHighSpeed, UsbFullSpeed, ParallelTimingOff };

// The rig in its test pattern on a road, the sensor at a sample period.
struct Bench : SimulatedBench {
  Bench(Road road, uint16_t smplPrd, int16_t model = 21420)
      : SimulatedBench(road == Road::ParallelTimingOff ? 1 : 2, Options(road, model)) {
    rig.SimUsb().SetRecordLimit(0);
    rig.Sensor().PokeRegister(0x36, smplPrd);
    clock.Advance(std::chrono::milliseconds(5));
  }
  static sim::RigOptions Options(Road road, int16_t model) {
    sim::RigOptions options;
    options.model = model;
    options.testPattern = true;
    options.timingModel = road == Road::UsbHighSpeed || road == Road::UsbFullSpeed;
    options.adapters[0].highSpeed = road != Road::UsbFullSpeed;
    return options;
  }
};

// Sample number (modulo 4096) of a row's first channel.
int64_t SampleOf(const BurstRow& row) { return row.readings[0].RawValue & 0xFFF; }

// All channels of the row hold one sample, each with its new-data flag.
bool OneSample(const BurstRow& row) {
  for (const RegisterReading& r : row.readings) {
    if ((r.RawValue & 0xFFF) != SampleOf(row) || r.NewDataFlag != 32768) return false;
  }
  return true;
}

TEST(BurstCaptureTest, OneRowPerSampleWhenBurstsKeepUpAndMissesCountedWhenNot) {
  struct Case {
    Road road;
    uint16_t smplPrd;
    bool keepsUp;
  };
  const Case cases[] = {
      {Road::UsbTimingOff, 0x01, true},      {Road::UsbHighSpeed, 0x01, true},
      {Road::UsbHighSpeed, 0x00, true},      {Road::ParallelTimingOff, 0x01, true},
      {Road::UsbFullSpeed, 0x01, false},     {Road::UsbFullSpeed, 0x00, false},
  };
  constexpr int64_t kRows = 300;
  for (const Case& c : cases) {
    SCOPED_TRACE("road " + std::to_string(static_cast<int>(c.road)) + " SMPL_PRD " +
                 std::to_string(c.smplPrd));
    Bench bench(c.road, c.smplPrd);
    BurstCapture capture(bench.session.access, OutputEntries());
    capture.Start();
    int64_t previous = -1;
    int64_t trueMissed = 0;
    int64_t repeats = 0;
    const BurstSummary summary = RunBurstCapture(capture, kRows, [&](const BurstRow& row) {
      const int64_t sample = SampleOf(row);
      // A port burst takes about a period (twelve frames, each with its stall), so its last
      // channels may hold the next sample; an adapter burst takes a fraction of one.
      if (c.road != Road::ParallelTimingOff) {
        EXPECT_TRUE(OneSample(row)) << row.number;
      }
      if (previous >= 0) {
        const int64_t step = (sample - previous + 4096) % 4096;
        if (step == 0) ++repeats;
        if (step > 1) trueMissed += step - 1;
      }
      previous = sample;
      return true;
    });
    EXPECT_EQ(summary.end, BurstEnd::Done);
    EXPECT_EQ(summary.rows, kRows);
    EXPECT_EQ(repeats, 0);
    EXPECT_EQ(summary.period, SamplePeriod(c.smplPrd));
    if (c.keepsUp) {
      EXPECT_EQ(trueMissed, 0);
      EXPECT_EQ(summary.missed, 0);
      EXPECT_NEAR(summary.AchievedRate(), summary.SensorRate(), summary.SensorRate() * 0.01);
    } else {
      // A full-speed adapter needs two 1 ms transfers per burst: more than a period.
      EXPECT_GT(trueMissed, kRows / 2);
      EXPECT_NEAR(static_cast<double>(summary.missed), static_cast<double>(trueMissed),
                  0.1 * static_cast<double>(trueMissed));
      EXPECT_LT(summary.AchievedRate(), summary.SensorRate() * 0.6);
    }
    EXPECT_TRUE(bench.messages.messages.empty());
  }
}

TEST(BurstCaptureTest, PacedByAChannelThatHasNewDataOrEndedWhenNoneHas) {
  // Model 21410 has no Y gyro: its register never flags new data. The log's reader lets the
  // X accelerometer, checked after it, pace; alone, the Y gyro brings no sample and the
  // capture ends after a second.
  Bench bench(Road::UsbTimingOff, 0x01, 21410);
  ChannelSet channels{};
  channels[reg::XACCL_OUT] = channels[reg::YGYRO_OUT] = true;
  BurstSampleReader reader(bench.session.access);
  SampleReadings readings{};
  std::vector<int32_t> samples;
  for (int i = 0; i < 5; ++i) {
    reader.ReadSample(channels, readings);
    samples.push_back(readings[reg::XACCL_OUT].raw);
    EXPECT_TRUE(readings[reg::XACCL_OUT].newData);
  }
  EXPECT_EQ(samples.back() - samples.front(), 4);
  EXPECT_FALSE(reader.Ended());

  channels[reg::XACCL_OUT] = false;
  const Nanoseconds start = bench.clock.Now();
  reader.ReadSample(channels, readings);
  EXPECT_TRUE(reader.Ended());
  EXPECT_EQ(reader.Summary().end, BurstEnd::NoNewData);
  EXPECT_EQ(reader.Summary().rows, 5);
  EXPECT_GE(bench.clock.Now() - start, std::chrono::seconds(1));
  EXPECT_LT(bench.clock.Now() - start, std::chrono::milliseconds(1010));
}

}  // namespace
}  // namespace pemra
