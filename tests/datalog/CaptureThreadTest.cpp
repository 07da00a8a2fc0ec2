// The capture's schedule and the road of its rows to the writer: the sleeps between bursts on
// the test clock, the queue's full and dropped accounting, and a capture thread whose
// transfer fails ending the run with the file complete.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "core/RegisterAccess.h"
#include "core/RegisterTable.h"
#include "datalog/BurstCapture.h"
#include "datalog/BurstSampleReader.h"
#include "datalog/DatalogRun.h"
#include "datalog/DatalogTestSupport.h"
#include "datalog/RowQueue.h"
#include "support/ScratchDir.h"

namespace pemra {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

constexpr int16_t kSmplPrdAddress = 0x36;

// A transport that answers SMPL_PRD with a fixed word and each burst from a script: whether
// its sample is new (the new-data bit) and, from the burst at which the script says so, a
// failure. Each burst takes `burstTime` on the clock. A new sample's words hold its count.
// The pacing channel read again at a burst's end finds its flag cleared, unless the script
// says a sample update fell inside that burst (`crossings`): then it holds the next sample.
class ScriptedBursts final : public RegisterTransport {
 public:
  ScriptedBursts(Clock& clock, uint16_t smplPrd, std::vector<bool> fresh, size_t failAt = 0)
      : clock_(clock), smplPrd_(smplPrd), fresh_(std::move(fresh)), failAt_(failAt) {}
  int32_t ReadWord(int16_t address) override { return address == kSmplPrdAddress ? smplPrd_ : 0; }
  void WriteFramePair(int32_t, int32_t) override {}
  bool ReadWords(std::span<const int16_t> addresses, std::span<int32_t> words) override {
    threads.push_back(std::this_thread::get_id());
    if (burstTime > nanoseconds(0)) clock_.Wait(burstTime);
    const size_t burst = bursts++;
    if (onBurst) onBurst(burst);
    if (failAt_ > 0 && burst + 1 >= failAt_) return false;
    const bool isNew = burst < fresh_.size() && fresh_[burst];
    if (isNew) ++samples;
    for (int32_t& w : words) w = (isNew ? 0x8000 : 0) | samples;
    if (words.size() > 1 && addresses.front() == addresses.back()) {
      const bool crossed = std::find(crossings.begin(), crossings.end(), burst) != crossings.end();
      words.back() = crossed ? (0x8000 | (samples + 1)) : samples;
    }
    return true;
  }

  nanoseconds burstTime{0};
  size_t bursts = 0;
  int32_t samples = 0;
  std::vector<size_t> crossings;
  std::function<void(size_t)> onBurst;  // called with each burst's index, on its thread
  std::vector<std::thread::id> threads;

 private:
  Clock& clock_;
  int32_t smplPrd_;
  std::vector<bool> fresh_;
  size_t failAt_;
};

// Register access over the scripted transport, as interface 2.
struct ScriptedAccess {
  ScriptedAccess(Clock& clock, uint16_t smplPrd, std::vector<bool> fresh, size_t failAt = 0)
      : transport(clock, smplPrd, std::move(fresh), failAt), access(table, selection, clock) {
    InitRegisterTable(table);
    selection.InterfaceType = 2;
    selection.DeviceType = 21420;
    access.SetUsbTransport(&transport);
  }
  RegisterTable table;
  Selection selection;
  ScriptedBursts transport;
  RegisterAccess access;
};

TEST(CaptureScheduleTest, SleepsUntilAPollIntervalBeforeTheNextSampleThenPolls) {
  // SMPL_PRD 1: a period of 1.2207 ms, a poll interval of a quarter of it (305.175 us), a
  // lead of an eighth (152.587 us).
  TestClock clock;
  ScriptedAccess scripted(clock, 0x01, {true, false, true, false, true});
  BurstCapture capture(scripted.access, {reg::SUPPLY_OUT});
  capture.Start();
  clock.ClearWaits();
  const BurstSummary summary = RunBurstCapture(capture, 3, [](const BurstRow&) { return true; });
  EXPECT_EQ(summary.rows, 3);
  EXPECT_EQ(summary.duplicates, 2);
  // After a new sample: to 1068.113 us after its burst; after a repeat: one poll interval on.
  EXPECT_EQ(clock.Waits(), (std::vector<nanoseconds>{nanoseconds(1068113), nanoseconds(305175),
                                                     nanoseconds(1068113), nanoseconds(305175)}));
}

TEST(CaptureScheduleTest, BurstsOfAWholePeriodCountTheSampleTheyMissed) {
  // Each burst takes one period, so none waits: new at 0, the same sample at P, new at 2P.
  // The sample between them came and went unseen.
  TestClock clock;
  ScriptedAccess scripted(clock, 0x01, {true, false, true});
  scripted.transport.burstTime = nanoseconds(1220700);
  BurstCapture capture(scripted.access, {reg::SUPPLY_OUT});
  capture.Start();
  clock.ClearWaits();
  const BurstSummary summary = RunBurstCapture(capture, 2, [](const BurstRow&) { return true; });
  EXPECT_EQ(summary.rows, 2);
  EXPECT_EQ(summary.missed, 1);
  EXPECT_EQ(summary.duplicates, 1);
  EXPECT_EQ(summary.longestGap, nanoseconds(2441400));
  EXPECT_EQ(summary.longestGapAfter, 1);
  EXPECT_EQ(clock.Waits(), (std::vector<nanoseconds>{nanoseconds(1220700), nanoseconds(1220700),
                                                     nanoseconds(1220700)}));
}

// A clock whose sleeps end 300 us late, as an ordinary thread's may on a busy machine.
class LateWakingClock final : public Clock {
 public:
  Nanoseconds Now() const override { return now_; }
  void Wait(Nanoseconds duration) override { now_ += std::max(duration, nanoseconds(0)); }
  void Sleep(Nanoseconds duration) override {
    sleeps.push_back(duration);
    now_ += std::max(duration, nanoseconds(0)) + std::chrono::microseconds(300);
  }
  bool Instant() const override { return true; }
  std::vector<nanoseconds> sleeps;

 private:
  nanoseconds now_{0};
};

TEST(CaptureScheduleTest, TheLeadLearnsHowLateTheSleepsWake) {
  // SMPL_PRD 1: the configured lead is an eighth of 1.2207 ms, 152.587 us. Woken 300 us late
  // (the 310 us bin edge) the lead becomes 320 us, and the next sleep is that much shorter.
  struct Case {
    bool learn;
    nanoseconds lead;
    nanoseconds secondSleep;
  };
  const Case cases[] = {{true, nanoseconds(320000), nanoseconds(1220700 - 320000)},
                        {false, nanoseconds(152587), nanoseconds(1068113)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.learn);
    LateWakingClock clock;
    ScriptedAccess scripted(clock, 0x01, {true, true, true});
    BurstOptions options;
    options.learnLead = c.learn;
    BurstCapture capture(scripted.access, {reg::SUPPLY_OUT}, options);
    capture.Start();
    const BurstSummary summary = RunBurstCapture(capture, 3, [](const BurstRow&) { return true; });
    EXPECT_EQ(summary.rows, 3);
    EXPECT_EQ(capture.Lead(), c.lead);
    ASSERT_EQ(clock.sleeps.size(), 2u);
    EXPECT_EQ(clock.sleeps[0], nanoseconds(1068113));
    EXPECT_EQ(clock.sleeps[1], c.secondSleep);
  }
}

TEST(LatenessHistogramTest, TheLeadCoversAllButOneInAThousand) {
  using std::chrono::microseconds;
  LatenessHistogram h;
  EXPECT_EQ(h.Percentile999(), nanoseconds(0));
  for (int i = 0; i < 1998; ++i) h.Add(microseconds(55));  // bin 50-60 us
  h.Add(microseconds(4000));
  h.Add(microseconds(4000));
  EXPECT_EQ(h.Percentile999(), microseconds(60));  // 2 of 2000 above: allowed
  h.Add(microseconds(4000));
  EXPECT_EQ(h.Percentile999(), microseconds(4010));  // 3 of 2001: one too many
  h.Add(std::chrono::seconds(1));
  EXPECT_EQ(h.Percentile999(), microseconds(4010));  // 2 of 2002 above 4.01 ms
  EXPECT_EQ(h.Count(), 2002);
  LatenessHistogram once;
  once.Add(std::chrono::seconds(1));  // kept in the last bin
  EXPECT_EQ(once.Percentile999(), microseconds(20000));
}

TEST(CaptureScheduleTest, BurstsLateByMostOfAPeriodCountTheSamplesBetweenThem) {
  // Each burst takes 1.9 periods and none waits: rows at 0, 1.9P, ..., 19P. No pair is a
  // whole period apart beyond the sample it kept, but 19 periods (less the lead, an eighth)
  // held at least 18 samples of which 10 followed the first row: 8 missed.
  TestClock clock;
  ScriptedAccess scripted(clock, 0x01, std::vector<bool>(11, true));
  scripted.transport.burstTime = nanoseconds(2319330);
  BurstCapture capture(scripted.access, {reg::SUPPLY_OUT});
  capture.Start();
  const BurstSummary summary = RunBurstCapture(capture, 11, [](const BurstRow&) { return true; });
  EXPECT_EQ(summary.rows, 11);
  EXPECT_EQ(summary.missed, 8);
}

TEST(CaptureScheduleTest, ABurstAcrossASampleUpdateIsReadAgainOrCountedTorn) {
  // Bursts 1 and 3 began on a new sample and cross an update; so does 4, the second read of
  // 3. Burst 5 found the old sample and saw the new one arrive. Rows: burst 0, burst 2 (the
  // second read of 1, the sample 1 began on lost), 4 (of 3, torn, 3's sample lost), 6 (of 5).
  TestClock clock;
  ScriptedAccess scripted(clock, 0x01, {true, true, true, true, true, false, true});
  scripted.transport.crossings = {1, 3, 4, 5};
  BurstCapture capture(scripted.access, {reg::SUPPLY_OUT, reg::XGYRO_OUT});
  capture.Start();
  std::vector<bool> torn;
  std::vector<int32_t> flags;
  const BurstSummary summary = RunBurstCapture(capture, 4, [&](const BurstRow& row) {
    torn.push_back(row.torn);
    flags.push_back(row.readings[0].NewDataFlag);
    return true;
  });
  EXPECT_EQ(scripted.transport.bursts, 7u);
  EXPECT_EQ(summary.rows, 4);
  EXPECT_EQ(summary.rereads, 3);
  EXPECT_EQ(summary.torn, 1);
  EXPECT_EQ(summary.duplicates, 1);
  EXPECT_EQ(summary.missed, 2);
  EXPECT_EQ(torn, (std::vector<bool>{false, false, true, false}));
  EXPECT_EQ(flags, (std::vector<int32_t>{32768, 32768, 32768, 32768}));
}

TEST(CaptureScheduleTest, AStopFromAnotherThreadEndsTheCaptureAtItsNextWait) {
  // At SMPL_PRD 0xFF (2.42 s per sample) the sleep after a sample is cut into 50 ms slices.
  TestClock clock;
  ScriptedAccess scripted(clock, 0xFF, {true, false});
  std::atomic<bool> stop{false};
  BurstOptions options;
  options.stop = &stop;
  BurstCapture capture(scripted.access, {reg::SUPPLY_OUT}, options);
  capture.Start();
  BurstRow row;
  ASSERT_TRUE(capture.Next(row));
  stop = true;
  EXPECT_FALSE(capture.Next(row));
  EXPECT_EQ(capture.Summary().end, BurstEnd::Done);
  EXPECT_EQ(scripted.transport.bursts, 1u);
}

TEST(RowQueueTest, AFullQueueDropsAndCountsWithoutWaiting) {
  RowQueue queue(2, 1);
  const RegisterReading a{1, 0.5f, 32768};
  const RegisterReading b{2, 1.0f, 32768};
  const RegisterReading c{3, 1.5f, 32768};
  const RegisterReading d{4, 2.0f, 32768};
  EXPECT_TRUE(queue.Push(milliseconds(1), 0, 0, {&a, 1}));
  EXPECT_TRUE(queue.Push(milliseconds(2), 1, 3, {&b, 1}));
  EXPECT_FALSE(queue.Push(milliseconds(3), 1, 3, {&c, 1}));  // full: dropped
  QueuedRow row;
  ASSERT_TRUE(queue.Pop(row));
  EXPECT_EQ(row.at, milliseconds(1));
  EXPECT_EQ(row.dropped, 0);
  EXPECT_TRUE(queue.Push(milliseconds(4), 1, 4, {&d, 1}));
  BurstSummary final;
  final.end = BurstEnd::TransferFailed;
  final.missed = 1;
  queue.Close(final);
  ASSERT_TRUE(queue.Pop(row));
  EXPECT_EQ(row.at, milliseconds(2));
  EXPECT_EQ(row.missed, 1);
  EXPECT_EQ(row.duplicates, 3);
  EXPECT_EQ(row.dropped, 0);
  ASSERT_TRUE(queue.Pop(row));  // rows pushed before the close still come
  EXPECT_EQ(row.at, milliseconds(4));
  EXPECT_EQ(row.readings.front().RawValue, 4);
  EXPECT_EQ(row.dropped, 1);  // the row at 3 ms
  EXPECT_FALSE(queue.Pop(row));
  EXPECT_EQ(queue.Final().end, BurstEnd::TransferFailed);
  EXPECT_EQ(queue.FinalDropped(), 1);
}

TEST(RowQueueTest, RowsFromAnotherThreadArriveInOrderAndComplete) {
  constexpr int kRows = 20000;
  RowQueue queue(1024, 1);
  std::thread producer([&queue] {
    int32_t next = 1;
    while (next <= kRows) {
      const RegisterReading r{next, 0.0f, 0};
      if (queue.Push(nanoseconds(next), 0, 0, {&r, 1})) {
        ++next;
      } else {
        std::this_thread::yield();  // full: send it again once the consumer has taken some
      }
    }
    queue.Close(BurstSummary{});
  });
  QueuedRow row;
  int32_t expected = 1;
  while (queue.Pop(row)) {
    ASSERT_EQ(row.readings.front().RawValue, expected);
    ++expected;
  }
  producer.join();
  EXPECT_EQ(expected, kRows + 1);
}

// A clock whose time moves only through its waits, like the test clock, but that lets a
// capture run on a thread of its own (it is then that thread's alone).
class ThreadedTestClock final : public Clock {
 public:
  Nanoseconds Now() const override {
    const std::lock_guard lock(mutex_);
    return clock_.Now();
  }
  void Wait(Nanoseconds duration) override {
    const std::lock_guard lock(mutex_);
    clock_.Wait(duration);
  }

 private:
  mutable std::mutex mutex_;
  TestClock clock_;
};

TEST(CaptureThreadTest, AFailedTransferOnTheCaptureThreadEndsTheRunWithTheFileComplete) {
  ThreadedTestClock captureClock;
  // Every burst brings a new sample; the sixth fails.
  ScriptedAccess scripted(captureClock, 0x01, std::vector<bool>(10, true), 6);
  scripted.transport.burstTime = nanoseconds(1220700);
  CaptureThreadOptions threadOptions;
  threadOptions.raisePriority = false;
  BurstSampleReader reader(scripted.access, {}, threadOptions);

  TestClock writerClock;
  ClockTimeOfDay day(writerClock, 36000.0, "12/7/2026", "10:00:01");
  RecordingMessageSink messages;
  const testing::ScratchDir folder;
  testing::ScriptedFrontEnd frontEnd;
  frontEnd.settings.samplesPerFile = 100;
  frontEnd.settings.noHeader = true;
  frontEnd.settings.noScale = true;
  frontEnd.settings.channels[reg::SUPPLY_OUT] = true;
  const DatalogContext context{scripted.access, writerClock, day,     messages, folder.path(),
                               '.',             [&reader] { return !reader.Ended(); },
                               &reader,         "pemra"};
  const LogResult result = RunDatalog(context, frontEnd);

  EXPECT_EQ(result.end, LogEnd::InterfaceLost);
  EXPECT_EQ(result.filesCompleted, 1);
  EXPECT_EQ(result.rowsWritten, 5);
  EXPECT_EQ(testing::ReadWholeFile(folder.path() / "DATALOG_1.csv"),
            "1,1,1,\r\n2,1,2,\r\n3,1,3,\r\n4,1,4,\r\n5,1,5,\r\n");
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "DATALOG_1.csv.spool"));
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0].text,
            "The sensor can no longer be reached: logging has ended.\r\n"
            "DATALOG_1.csv holds the 5 samples taken.");
  EXPECT_EQ(reader.Summary().end, BurstEnd::TransferFailed);
  // The bursts ran beside the writer, not on its thread.
  ASSERT_EQ(scripted.transport.threads.size(), 6u);
  EXPECT_NE(scripted.transport.threads.back(), std::this_thread::get_id());
}

TEST(CaptureThreadTest, RowsDroppedAtAFullQueueCountAsMissed) {
  // A queue of two rows and a writer that takes none until the fifth burst: rows 3 and 4 are
  // dropped; row 5 carries them; the sixth burst fails.
  ThreadedTestClock captureClock;
  ScriptedAccess scripted(captureClock, 0x01, std::vector<bool>(10, true), 6);
  std::promise<void> atFifth;
  std::promise<void> goOn;
  std::shared_future<void> go = goOn.get_future().share();
  scripted.transport.onBurst = [&atFifth, go](size_t burst) {
    if (burst != 4) return;
    atFifth.set_value();
    go.wait();
  };
  CaptureThreadOptions threadOptions;
  threadOptions.raisePriority = false;
  threadOptions.queueRows = 2;
  CaptureThread capture(scripted.access, {reg::SUPPLY_OUT}, {}, threadOptions);
  capture.Start();
  ASSERT_TRUE(capture.Threaded());
  atFifth.get_future().wait();
  BurstRow row;
  std::vector<int32_t> taken;
  std::vector<int64_t> missed;
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(capture.Take(row));
    taken.push_back(row.readings[0].RawValue);
    missed.push_back(capture.Summary().missed);
  }
  goOn.set_value();
  ASSERT_TRUE(capture.Take(row));
  taken.push_back(row.readings[0].RawValue);
  missed.push_back(capture.Summary().missed);
  EXPECT_FALSE(capture.Take(row));
  EXPECT_EQ(taken, (std::vector<int32_t>{1, 2, 5}));
  EXPECT_EQ(missed, (std::vector<int64_t>{0, 0, 2}));
  EXPECT_EQ(capture.Summary().dropped, 2);
  EXPECT_EQ(capture.Summary().missed, 2);
  EXPECT_EQ(capture.Summary().end, BurstEnd::TransferFailed);
}

TEST(BurstSampleReaderTest, TheLongestGapNamesItsRowAcrossAChangeOfChannels) {
  // Three rows with the supply, then the X gyro too: its capture finds two repeats after its
  // first row, the longest gap, which follows row 4 of the log.
  TestClock clock;
  ScriptedAccess scripted(clock, 0x01, {true, true, true, true, false, false, true, true});
  BurstSampleReader reader(scripted.access);
  ChannelSet channels{};
  channels[reg::SUPPLY_OUT] = true;
  SampleReadings readings{};
  for (int i = 0; i < 3; ++i) reader.ReadSample(channels, readings);
  channels[reg::XGYRO_OUT] = true;
  for (int i = 0; i < 3; ++i) reader.ReadSample(channels, readings);
  const BurstSummary summary = reader.Summary();
  EXPECT_EQ(summary.rows, 6);
  EXPECT_EQ(summary.duplicates, 2);
  EXPECT_EQ(summary.longestGapAfter, 4);
}

TEST(CapturePriorityTest, TheSummaryNamesThePolicyGranted) {
  struct Case {
    CapturePriority priority;
    std::string text;
  };
  const Case cases[] = {
      {{PriorityKind::RealTime, 20}, "real-time (SCHED_FIFO 20)"},
      {{PriorityKind::Rtkit, 15}, "real-time through rtkit (SCHED_RR 15)"},
      {{PriorityKind::Nice, -10}, "nice -10"},
      {{PriorityKind::Normal, 0}, "normal (no higher priority allowed)"},
      {{PriorityKind::NotAsked, 0}, "normal"},
  };
  for (const Case& c : cases) EXPECT_EQ(PriorityText(c.priority), c.text);
}

}  // namespace
}  // namespace pemra
