// Reading several registers in one pipelined pass, over both transports, against the
// simulated sensor: the same readings as one read per register in n + 1 frames, and a failed
// exchange handled as a failed single read is.

#include <gtest/gtest.h>

#include <algorithm>

#include "core/SamplePeriod.h"
#include "support/SimulatedBench.h"

namespace pemra {
namespace {

using test::OutputEntries;
using test::SimulatedBench;

constexpr uint16_t kSmplPrd = 0x09;  // 6.1 ms: either road ends well within one sample

size_t SpiFrames(const std::vector<std::string>& lines) {
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(),
                                           [](const auto& l) { return l.starts_with("spi "); }));
}

sim::RigOptions Model(int16_t model) {
  sim::RigOptions options;
  options.model = model;
  return options;
}

TEST(BurstReadTest, SameReadingsAsOneReadPerRegisterForEveryModelAndTransport) {
  const std::vector<int16_t> entries = OutputEntries();
  for (const int16_t interfaceType : {int16_t{1}, int16_t{2}}) {
    for (const int16_t model : kModelCodes) {
      SCOPED_TRACE(std::to_string(model) + " on " + std::to_string(interfaceType));
      // Twins that live through the same steps at the same times; then, just after the same
      // sample appeared, one reads in a burst and the other one register at a time.
      SimulatedBench burst(interfaceType, Model(model));
      SimulatedBench single(interfaceType, Model(model));
      const Nanoseconds fresh = SamplePeriod(kSmplPrd) * 2 + std::chrono::microseconds(1);
      for (SimulatedBench* b : {&burst, &single}) {
        b->rig.Sensor().PokeRegister(0x36, kSmplPrd);
        b->clock.Advance(fresh);
      }
      ASSERT_EQ(burst.clock.Now(), single.clock.Now());
      // First pass: the flags of a new sample; second pass: the same sample, flags clear.
      for (const int expectedFlags : {model == 21410 ? 9 : 11, 0}) {
        burst.trace.lines.clear();
        const uint64_t transfers = burst.rig.SimUsb().TransferCount();
        std::vector<RegisterReading> readings(entries.size());
        ASSERT_TRUE(burst.session.access.ReadRegisters(entries, readings));
        EXPECT_EQ(SpiFrames(burst.trace.lines), entries.size() + 1);
        EXPECT_EQ(burst.rig.SimUsb().TransferCount() - transfers, interfaceType == 2 ? 2u : 0u);
        int flags = 0;
        for (size_t i = 0; i < entries.size(); ++i) {
          RegisterAccess& a = single.session.access;
          a.NewDataFlag = 0;
          a.ReadRegister(entries[i]);
          EXPECT_EQ(readings[i].RawValue, a.RawValue) << entries[i];
          EXPECT_EQ(readings[i].ScaledValue, a.ScaledValue) << entries[i];
          EXPECT_EQ(readings[i].NewDataFlag, a.NewDataFlag) << entries[i];
          flags += readings[i].NewDataFlag != 0;
        }
        EXPECT_EQ(flags, expectedFlags);  // model 21410 has no Y and Z gyros
      }
      EXPECT_TRUE(burst.messages.messages.empty());
    }
  }
}

TEST(BurstReadTest, FailedExchangeReportsDeselectsAndReadsZeros) {
  // Twenty-two entries take two exchanges of at most sixteen words; a failure in either (its
  // command or its reply) leaves no word of the set, and nothing is sent afterwards.
  const std::vector<int16_t> outputs = OutputEntries();
  std::vector<int16_t> entries = outputs;
  entries.insert(entries.end(), outputs.begin(), outputs.end());
  const char* const messages[] = {"Error Writing SPI", "Error Reading SPI"};
  for (const uint64_t failing : {1, 2, 3, 4}) {
    SimulatedBench bench(2, Model(21420));
    auto& usb = bench.rig.SimUsb();
    usb.FailNthTransfer(failing);
    std::vector<RegisterReading> readings(entries.size(), RegisterReading{7, 7.0f, 7});
    EXPECT_FALSE(bench.session.access.ReadRegisters(entries, readings));
    for (const RegisterReading& r : readings) EXPECT_EQ(r.RawValue + r.NewDataFlag, 0) << failing;
    ASSERT_EQ(bench.messages.messages.size(), 1u);
    EXPECT_EQ(bench.messages.messages[0].text, messages[(failing - 1) % 2]);
    EXPECT_FALSE(bench.session.adapters.UsbSelected);
    EXPECT_EQ(usb.OpenHandles(), 0u);
    const uint64_t transfers = usb.TransferCount();
    EXPECT_FALSE(bench.session.access.ReadRegisters(entries, readings));
    bench.session.access.ReadRegister(reg::XGYRO_OUT);
    EXPECT_EQ(usb.TransferCount(), transfers);
  }
}

}  // namespace
}  // namespace pemra
