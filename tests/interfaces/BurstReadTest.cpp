// Reading several registers in one pipelined pass, over both transports, against the
// simulated sensor: the same values and flags as one read per register, n + 1 frames, and a
// failed exchange handled as a failed single read is.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/Clock.h"
#include "core/DeviceModel.h"
#include "core/Message.h"
#include "core/SamplePeriod.h"
#include "interfaces/Session.h"
#include "sim/Rig.h"

namespace pemra {
namespace {

constexpr uint16_t kSmplPrd = 0x09;  // 6.1 ms: either road ends well within one sample

std::vector<int16_t> OutputEntries() {
  std::vector<int16_t> entries;
  for (int16_t i = reg::SUPPLY_OUT; i <= reg::AUX_ADC; ++i) entries.push_back(i);
  return entries;
}

size_t SpiLines(const std::vector<std::string>& lines) {
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.starts_with("spi ");
  }));
}

// A sensor of one model on the simulated rig, reached through one transport.
struct Bench {
  Bench(int16_t model, int16_t interfaceType) : rig(clock, Options(model)) {
    Session& s = session;
    s.selection.PortAddress = 0x378;
    s.selection.DeviceType = model;
    s.selection.InterfaceType = interfaceType;
    if (interfaceType == 1) {
      s.parallel.EnablePortAccess();
      s.parallel.ParallelPortInit();
    } else {
      s.adapters.FindAdapters();
      s.usbSpi.SetSpiBits(s.usbSpi.StaticBits);
      s.usbSpi.SetSpiDelay(s.usbSpi.UsbSpiDelay);
    }
    ChartRanges ranges;
    SetDevice(model, s.selection, s.access, ranges, messages);
    rig.Sensor().PokeRegister(0x36, kSmplPrd);
  }
  static sim::RigOptions Options(int16_t model) {
    sim::RigOptions options;
    options.model = model;
    return options;
  }

  TestClock clock;
  sim::Rig rig;
  RecordingMessageSink messages;
  RecordingTraceSink trace;
  Session session{clock, messages, rig.Port(), rig.Usb(), &trace};
};

TEST(BurstReadTest, SameReadingsAsOneReadPerRegisterForEveryModelAndTransport) {
  const std::vector<int16_t> entries = OutputEntries();
  for (const int16_t interfaceType : {int16_t{1}, int16_t{2}}) {
    for (const int16_t model : kModelCodes) {
      SCOPED_TRACE("model " + std::to_string(model) + " interface " +
                   std::to_string(interfaceType));
      // Twins that live through the same steps at the same times; then one reads in a
      // burst and the other one register at a time, just after the same sample appeared.
      Bench burst(model, interfaceType);
      Bench single(model, interfaceType);
      ASSERT_EQ(burst.clock.Now(), single.clock.Now());
      const Nanoseconds fresh = SamplePeriod(kSmplPrd) * 2 + std::chrono::microseconds(1);
      burst.clock.Advance(fresh);
      single.clock.Advance(fresh);

      // First pass: every flag the sample brings; second pass: the same sample, flags clear.
      for (int pass = 0; pass < 2; ++pass) {
        burst.trace.lines.clear();
        const uint64_t transfersBefore = burst.rig.SimUsb().TransferCount();
        std::vector<RegisterReading> readings(entries.size());
        ASSERT_TRUE(burst.session.access.ReadRegisters(entries, readings));
        EXPECT_EQ(SpiLines(burst.trace.lines), entries.size() + 1);
        if (interfaceType == 2) {
          EXPECT_EQ(burst.rig.SimUsb().TransferCount() - transfersBefore, 2u);
        }

        int flagged = 0;
        for (size_t i = 0; i < entries.size(); ++i) {
          RegisterAccess& a = single.session.access;
          a.NewDataFlag = 0;
          a.ReadRegister(entries[i]);
          SCOPED_TRACE("pass " + std::to_string(pass) + " entry " + std::to_string(entries[i]));
          EXPECT_EQ(readings[i].RawValue, a.RawValue);
          EXPECT_EQ(readings[i].ScaledValue, a.ScaledValue);
          EXPECT_EQ(readings[i].NewDataFlag, a.NewDataFlag);
          if (readings[i].NewDataFlag != 0) ++flagged;
        }
        // Model 21410 has no Y and Z gyros; every other output of a new sample is flagged.
        const int expected = pass == 0 ? (model == 21410 ? 9 : 11) : 0;
        EXPECT_EQ(flagged, expected);
      }
      EXPECT_TRUE(burst.messages.messages.empty());
      EXPECT_TRUE(single.messages.messages.empty());
    }
  }
}

TEST(BurstReadTest, EntriesThatCannotBeReadAreNotSent) {
  Bench bench(21420, 2);
  const std::vector<int16_t> entries = {reg::COMMAND, -1, reg::SMPL_PRD, 297};
  std::vector<RegisterReading> readings(entries.size(), RegisterReading{7, 7.0f, 7});
  bench.trace.lines.clear();
  ASSERT_TRUE(bench.session.access.ReadRegisters(entries, readings));
  EXPECT_EQ(SpiLines(bench.trace.lines), 2u);  // SMPL_PRD, then the trailing frame
  EXPECT_EQ(readings[2].RawValue, kSmplPrd);
  for (const size_t i : {size_t{0}, size_t{1}, size_t{3}}) {
    EXPECT_EQ(readings[i].RawValue, 0) << i;
    EXPECT_EQ(readings[i].ScaledValue, 0.0f) << i;
  }
}

TEST(BurstReadTest, FailedExchangeReportsDeselectsAndReadsZeros) {
  // Twenty-two entries take two exchanges (at most sixteen words each); a failure in either
  // leaves no word of the set.
  std::vector<int16_t> entries = OutputEntries();
  const std::vector<int16_t> more = OutputEntries();
  entries.insert(entries.end(), more.begin(), more.end());
  struct Case {
    uint64_t failingTransfer;
    const char* message;
  };
  const Case cases[] = {{1, "Error Writing SPI"}, {2, "Error Reading SPI"},
                        {3, "Error Writing SPI"}, {4, "Error Reading SPI"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failingTransfer);
    Bench bench(21420, 2);
    bench.clock.Advance(std::chrono::milliseconds(20));
    auto& usb = bench.rig.SimUsb();
    usb.FailNthTransfer(c.failingTransfer);
    std::vector<RegisterReading> readings(entries.size());
    EXPECT_FALSE(bench.session.access.ReadRegisters(entries, readings));
    for (const RegisterReading& r : readings) {
      EXPECT_EQ(r.RawValue, 0);
      EXPECT_EQ(r.NewDataFlag, 0);
    }
    ASSERT_EQ(bench.messages.messages.size(), 1u);
    EXPECT_EQ(bench.messages.messages[0].text, c.message);
    EXPECT_FALSE(bench.session.adapters.UsbSelected);
    EXPECT_EQ(usb.OpenHandles(), 0u);

    // Nothing is sent afterwards, by a burst or by a single read.
    const uint64_t transfers = usb.TransferCount();
    EXPECT_FALSE(bench.session.access.ReadRegisters(entries, readings));
    bench.session.access.ReadRegister(reg::XGYRO_OUT);
    EXPECT_EQ(bench.session.access.RawValue, 0);
    EXPECT_EQ(usb.TransferCount(), transfers);
    EXPECT_EQ(bench.messages.messages.size(), 1u);
  }
}

}  // namespace
}  // namespace pemra
