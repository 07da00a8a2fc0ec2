// Burst capture on the simulated FT232H with its GPIOL1 wired to the sensor's data-ready
// output (DI/O1) or left open, on the sensor's test pattern (every output holds the internal
// sample number modulo its field) and the test clock: the line found or not, every sample
// read whole at its own edge while the queue keeps up, and a host later than the queue
// counted as the samples it lost.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/DeviceModel.h"
#include "core/Message.h"
#include "datalog/BurstCapture.h"
#include "interfaces/Session.h"
#include "sim/Rig.h"
#include "support/SimulatedBench.h"

namespace pemra {
namespace {

constexpr Nanoseconds kPeriod{610'350};  // SMPL_PRD 0x00: 1638.4 samples per second

struct FtdiBench {
  explicit FtdiBench(bool wired) : rig(clock, Options(wired)) {
    rig.Sensor().PokeRegister(0x36, 0x0000);
    session.selection = Selection{kInterfaceFtdi, 0x378, 0, 21420};
    EXPECT_TRUE(session.ftdi.Select(""));
    ChartRanges ranges;
    SetDevice(21420, session.selection, session.access, ranges, messages);
  }
  static sim::RigOptions Options(bool wired) {
    sim::RigOptions options;
    options.testPattern = true;
    options.ftdiBoards[0].dataReadyWired = wired;
    return options;
  }

  TestClock clock;
  sim::Rig rig;
  RecordingMessageSink messages;
  RecordingTraceSink trace;
  Session session{clock, messages, rig.Port(), rig.Usb(), &trace, &rig.Ftdi(), &rig.Spidev()};
};

// The samples each row holds, checked whole: every channel the same sample number and new.
struct RowCheck {
  int64_t previous = -1;
  int64_t lost = 0;     // sample numbers skipped between rows
  int64_t mixed = 0;    // rows whose channels hold different samples or old data
  void Take(const BurstRow& row) {
    const int64_t sample = row.readings[0].RawValue & 0xFFF;  // SUPPLY_OUT: 12 bits
    for (const RegisterReading& r : row.readings) {
      if ((r.RawValue & 0xFFF) != sample || r.NewDataFlag == 0) {
        ++mixed;
        break;
      }
    }
    if (previous >= 0) lost += (sample - previous + 4096 - 1) % 4096;
    previous = sample;
  }
};

TEST(PacedCaptureTest, TheDataReadyLineFoundOrTheFlagPolledWithTheWayToWireIt) {
  struct Case {
    bool wired;
    bool paced;
    std::string note;
  } const cases[] = {
      {true, true,
       "hardware-paced on the data-ready line (DI/O1 to ADBUS5/GPIOL1), 39 bursts queued"},
      {false, false,
       "data-ready line not found on ADBUS5 (GPIOL1): bursts paced by polling the new-data "
       "flag; for hardware-paced capture wire the sensor's DI/O1 to ADBUS5 (GPIOL1)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wired ? "wired" : "unwired");
    FtdiBench bench(c.wired);
    BurstCapture capture(bench.session.access, test::OutputEntries());
    capture.Start();
    EXPECT_EQ(capture.Summary().hardwarePaced, c.paced);
    EXPECT_EQ(capture.Summary().pacingNote, c.note);
    EXPECT_NE(std::find(bench.trace.lines.begin(), bench.trace.lines.end(), "ftdi " + c.note),
              bench.trace.lines.end());
    RowCheck check;
    const BurstSummary summary = RunBurstCapture(capture, 3000, [&](const BurstRow& row) {
      check.Take(row);
      return true;
    });
    EXPECT_EQ(summary.end, BurstEnd::Done);
    EXPECT_EQ(summary.rows, 3000);
    EXPECT_EQ(check.lost, 0);
    EXPECT_EQ(check.mixed, 0);
    EXPECT_EQ(summary.missed, 0);
    EXPECT_EQ(summary.torn, 0);
    EXPECT_TRUE(bench.messages.messages.empty());
    if (c.paced) {
      // Every row at its own data-ready edge: 2999 periods from the first to the last.
      EXPECT_EQ(summary.last - summary.first, kPeriod * 2999);
      EXPECT_NEAR(summary.AchievedRate() / summary.SensorRate(), 1.0, 1e-9);
      EXPECT_EQ(summary.duplicates, 0);
    }
    // The sensor's data-ready output was enabled on DI/O1 (MSC_CTRL as it powers up).
    EXPECT_EQ(bench.rig.Sensor().PeekRegister(0x34), 0x0006);
  }
}

TEST(PacedCaptureTest, AnOutputOnTheOtherLineIsMovedToDio1AndAnActiveLowOneFollowed) {
  struct Case {
    uint16_t mscCtrl;  // as set before the capture
    uint16_t after;
  } const cases[] = {{0x0000, 0x0004}, {0x0005, 0x0004}, {0x0004, 0x0004}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mscCtrl);
    FtdiBench bench(true);
    bench.rig.Sensor().PokeRegister(0x34, c.mscCtrl);
    BurstCapture capture(bench.session.access, test::OutputEntries());
    capture.Start();
    EXPECT_TRUE(capture.Summary().hardwarePaced);
    EXPECT_EQ(bench.rig.Sensor().PeekRegister(0x34), c.after);
    RowCheck check;
    const BurstSummary summary = RunBurstCapture(capture, 500, [&](const BurstRow& row) {
      check.Take(row);
      return true;
    });
    EXPECT_EQ(check.lost, 0);
    EXPECT_EQ(check.mixed, 0);
    EXPECT_EQ(summary.missed, 0);
  }
}

TEST(PacedCaptureTest, AHostLateByLessThanTheQueueLosesNothingAndLaterLossesAreCounted) {
  struct Case {
    int64_t latePeriods;  // the host away this long after row 100 and after row 400
    int64_t lost;         // samples the queue of 39 bursts (1 KB of answers) cannot cover
  } const cases[] = {{3, 0}, {39, 0}, {40, 1}, {50, 11}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.latePeriods);
    FtdiBench bench(true);
    BurstCapture capture(bench.session.access, test::OutputEntries());
    capture.Start();
    ASSERT_TRUE(capture.Summary().hardwarePaced);
    RowCheck check;
    const BurstSummary summary = RunBurstCapture(capture, 1000, [&](const BurstRow& row) {
      check.Take(row);
      if (row.number == 100 || row.number == 400) bench.clock.Advance(kPeriod * c.latePeriods);
      return true;
    });
    EXPECT_EQ(summary.rows, 1000);
    EXPECT_EQ(check.mixed, 0);
    EXPECT_EQ(check.lost, 2 * c.lost);
    EXPECT_EQ(summary.missed, 2 * c.lost);
    // The rows are timed by their edges: the span holds every sample, kept or lost.
    EXPECT_EQ(summary.last - summary.first, kPeriod * (999 + 2 * c.lost));
  }
}

}  // namespace
}  // namespace pemra
