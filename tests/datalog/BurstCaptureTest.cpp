// The burst capture on the simulated sensor's test pattern (every output holds the internal
// sample number modulo its field) and the test clock: one row per sample when bursts keep
// up, the misses counted when they cannot, and the pacing channel of the log's reader.

#include <gtest/gtest.h>

#include "core/SamplePeriod.h"
#include "datalog/BurstCapture.h"
#include "datalog/BurstSampleReader.h"
#include "support/SimulatedBench.h"

namespace pemra {
namespace {

enum class Road { UsbTimingOff, UsbHighSpeed, UsbFullSpeed, ParallelTimingOff, ParallelTimed };

struct Bench : test::SimulatedBench {
  Bench(Road road, uint16_t smplPrd, int16_t model = 21420)
      : SimulatedBench(Parallel(road) ? 1 : 2, Options(road, model)) {
    rig.Sensor().PokeRegister(0x36, smplPrd);
  }
  static bool Parallel(Road road) {
    return road == Road::ParallelTimingOff || road == Road::ParallelTimed;
  }
  static sim::RigOptions Options(Road road, int16_t model) {
    sim::RigOptions options;
    options.model = model;
    options.testPattern = true;
    options.timingModel =
        road == Road::UsbHighSpeed || road == Road::UsbFullSpeed || road == Road::ParallelTimed;
    options.adapters[0].highSpeed = road != Road::UsbFullSpeed;
    return options;
  }
};

TEST(BurstCaptureTest, OneRowPerSampleWhenBurstsKeepUpAndMissesCountedWhenNot) {
  struct Case {
    Road road;
    uint16_t smplPrd;
    bool keepsUp;
  } const cases[] = {{Road::UsbTimingOff, 0x01, true},   {Road::UsbHighSpeed, 0x01, true},
                     {Road::UsbHighSpeed, 0x00, true},   {Road::ParallelTimingOff, 0x09, true},
                     {Road::ParallelTimingOff, 0x01, false}, {Road::UsbFullSpeed, 0x01, false},
                     {Road::UsbFullSpeed, 0x00, false},  {Road::ParallelTimed, 0x01, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.road)) + " at " + std::to_string(c.smplPrd));
    Bench bench(c.road, c.smplPrd);
    BurstCapture capture(bench.session.access, test::OutputEntries());
    capture.Start();
    int64_t previous = -1;
    int64_t missed = 0;
    const BurstSummary summary = RunBurstCapture(capture, 300, [&](const BurstRow& row) {
      const int64_t sample = row.readings[0].RawValue & 0xFFF;
      // Every row holds one sample throughout, unless it is counted torn: a port burst
      // (thirteen frames, each followed by its 0.1 ms stall) is longer than the period at
      // 819.2 samples/s, so its second read crosses the next update too.
      for (const RegisterReading& r : row.readings) {
        if (!row.torn) {
          EXPECT_EQ(r.RawValue & 0xFFF, sample) << row.number;
        }
        EXPECT_EQ(r.NewDataFlag, 32768) << row.number;
      }
      if (previous >= 0) {
        const int64_t step = (sample - previous + 4096) % 4096;
        EXPECT_GE(step, 1) << "a sample twice at row " << row.number;
        missed += step - 1;
      }
      previous = sample;
      return true;
    });
    EXPECT_EQ(summary.end, BurstEnd::Done);
    EXPECT_EQ(summary.rows, 300);
    EXPECT_EQ(summary.period, SamplePeriod(c.smplPrd));
    if (c.keepsUp) {
      EXPECT_EQ(missed, 0);
      EXPECT_EQ(summary.missed, 0);
      EXPECT_NEAR(summary.AchievedRate(), summary.SensorRate(), summary.SensorRate() * 0.01);
    } else {
      // A full-speed burst (two 1 ms transfers) takes more than a period; so does a port burst
      // (13 frames and their 0.1 ms stalls, with 51 accesses of 1 us each on the timed port).
      EXPECT_GT(missed, 100);
      EXPECT_NEAR(static_cast<double>(summary.missed), static_cast<double>(missed), 0.1 * missed);
    }
    EXPECT_TRUE(bench.messages.messages.empty());
  }
}

TEST(BurstCaptureTest, SlowSamplesAndLongCapturesEndDoneWithEveryRow) {
  struct Case {
    Road road;
    uint16_t smplPrd;
    int64_t count;
  } const cases[] = {
      // 2.42 s per sample: the stall limit grows to eight periods.
      {Road::ParallelTimingOff, 0xFF, 3},
      // 2.44 s of samples at 819.2 per second: every kept sample restarts the stall timer.
      {Road::UsbHighSpeed, 0x01, 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    Bench bench(c.road, c.smplPrd);
    BurstCapture capture(bench.session.access, test::OutputEntries());
    capture.Start();
    const BurstSummary summary =
        RunBurstCapture(capture, c.count, [](const BurstRow&) { return true; });
    EXPECT_EQ(summary.end, BurstEnd::Done);
    EXPECT_EQ(summary.rows, c.count);
    EXPECT_EQ(summary.missed, 0);
  }
}

TEST(BurstCaptureTest, ABurstAcrossASampleUpdateIsReadAgainWhole) {
  // On the timed port a burst of the eleven outputs takes about 1.8 ms; at SMPL_PRD 9 (6.1 ms
  // a sample) a part of them cross an update. Each is read again at once and its row holds
  // one sample throughout (the test pattern: every output is the sample number).
  Bench bench(Road::ParallelTimed, 0x09);
  BurstCapture capture(bench.session.access, test::OutputEntries());
  capture.Start();
  int64_t mixed = 0;
  int64_t steps = 0;  // samples between consecutive rows
  int64_t previous = -1;
  const BurstSummary summary = RunBurstCapture(capture, 200, [&](const BurstRow& row) {
    const int64_t sample = row.readings[0].RawValue & 0xFFF;
    for (const RegisterReading& r : row.readings) {
      if ((r.RawValue & 0xFFF) != sample) ++mixed;
      EXPECT_EQ(r.NewDataFlag, 32768) << row.number;
    }
    if (previous >= 0) steps += (sample - previous + 4096) % 4096 - 1;
    previous = sample;
    EXPECT_FALSE(row.torn);
    return true;
  });
  EXPECT_EQ(summary.rows, 200);
  EXPECT_EQ(mixed, 0);
  EXPECT_GT(summary.rereads, 20);
  EXPECT_EQ(summary.torn, 0);
  // A burst that began on a new sample and was read again lost it; one that began on the old
  // sample lost none. The count says what the rows show.
  EXPECT_EQ(summary.missed, steps);
}

TEST(BurstSummaryTest, RateAndLongestGapFollowTheRowsKept) {
  using std::chrono::milliseconds;
  BurstSummary summary;
  summary.Keep(milliseconds(0));
  EXPECT_EQ(summary.AchievedRate(), 0.0);  // one row: no rate yet
  EXPECT_EQ(summary.longestGapAfter, 0);
  summary.Keep(milliseconds(1000));
  EXPECT_EQ(summary.AchievedRate(), 1.0);  // two rows a second apart
  summary.Keep(milliseconds(1500));
  summary.Keep(milliseconds(4000));
  EXPECT_EQ(summary.rows, 4);
  EXPECT_EQ(summary.AchievedRate(), 0.75);
  EXPECT_EQ(summary.longestGap, milliseconds(2500));
  EXPECT_EQ(summary.longestGapAfter, 3);
}

TEST(BurstCaptureTest, PacedByAChannelThatHasNewDataOrEndedWhenNoneHas) {
  // Model 21410 has no Y gyro: its register never flags new data. The log's reader lets the
  // X accelerometer, checked after it, pace; alone, the Y gyro is paced by the supply
  // output, read along but not given back.
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

  channels[reg::XACCL_OUT] = false;
  readings[reg::SUPPLY_OUT].raw = -1;
  reader.ReadSample(channels, readings);
  EXPECT_FALSE(reader.Ended());
  EXPECT_EQ(reader.Summary().rows, 6);
  EXPECT_EQ(reader.Channels(), (std::vector<int16_t>{reg::SUPPLY_OUT, reg::YGYRO_OUT}));
  EXPECT_EQ(readings[reg::SUPPLY_OUT].raw, -1);
  EXPECT_FALSE(readings[reg::YGYRO_OUT].newData);
}

// A slow sensor (2.4 s between samples, on the port) makes the capture wait 0.6 s between
// bursts.
TEST(BurstCaptureTest, AStopRequestEndsAWaitWithinItsCheckInterval) {
  using namespace std::chrono_literals;
  Bench bench(Road::ParallelTimingOff, 0xFF);
  Nanoseconds stopAt = Nanoseconds::max();
  BurstOptions options;
  options.stopRequested = [&] { return bench.clock.Now() >= stopAt; };
  BurstCapture capture(bench.session.access, {reg::SUPPLY_OUT}, options);
  capture.Start();
  BurstRow row;
  ASSERT_TRUE(capture.Next(row));
  stopAt = bench.clock.Now() + 100ms;
  EXPECT_FALSE(capture.Next(row));
  EXPECT_EQ(capture.Summary().end, BurstEnd::Stopped);
  EXPECT_LE(bench.clock.Now() - stopAt, 50ms);
}

}  // namespace
}  // namespace pemra
