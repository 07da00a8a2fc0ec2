// The simulated parallel port: line decoding through the inverting cable, frame detection and
// the port's address map.

#include <gtest/gtest.h>

#include "sim/SimTestSupport.h"

namespace pemra::sim {
namespace {

using test::PortFrameWrites;
using test::PortRead;
using test::PortWrite;
using test::QuietOptions;
using test::SpiRead;

TEST(SimulatedPortIo, TheSixtySevenWritesOfAFrameDeliverThatFrame) {
  struct Case {
    uint16_t frame;
    uint8_t address;
    uint16_t expected;
  };
  // Write frames, each followed by a read of the register it changed.
  const Case cases[] = {{0xB609, addr::SMPL_PRD, 0x0009}, {0xB105, addr::AUX_DAC, 0x0500},
                        {0xA0FF, addr::XACCL_OFF, 0x00FF}, {0xB880, addr::SENS_AVG, 0x0400}};
  TestClock clock;
  Rig rig(clock, QuietOptions());
  for (const Case& c : cases) {
    const std::vector<uint8_t> writes = PortFrameWrites(c.frame);
    ASSERT_EQ(writes.size(), 67u);
    rig.SimPort().RecordAccesses(true);
    for (uint8_t v : writes) rig.Port().Out(0x378, v);
    clock.Wait(test::kPortStall);
    rig.SimPort().RecordAccesses(false);
    EXPECT_EQ(SpiRead(rig.Slave(), c.address), c.expected) << std::hex << c.frame;
    EXPECT_EQ(rig.SimPort().DataWrites(), writes) << "recorded when asked, only then";
    rig.SimPort().ClearAccesses();
  }
  EXPECT_EQ(rig.Slave().FramesDiscarded(), 0u);
}

TEST(SimulatedPortIo, ReadReturnsTheRegisterThroughStatusBitSix) {
  TestClock clock;
  Rig rig(clock, QuietOptions());
  PortIo& port = rig.Port();
  EXPECT_EQ(PortRead(port, clock, 0x378, addr::SENS_AVG), 0x0402);
  EXPECT_EQ(PortRead(port, clock, 0x378, addr::MSC_CTRL), 0x0006);
  PortWrite(port, clock, 0x378, addr::AUX_DAC, 0x0ABC);
  EXPECT_EQ(PortRead(port, clock, 0x378, addr::AUX_DAC), 0x0ABC);
  EXPECT_EQ(PortRead(port, clock, 0x378, uint8_t(addr::AUX_DAC | 0x80)), 0x0ABC) << "7-bit address";
  // Between frames the data line idles high: status bit 6 reads 0.
  EXPECT_EQ(port.In(0x379) & 0x40, 0);
}

TEST(SimulatedPortIo, WrongClockCountDiscardsTheFrameAndSetsStatusBit3) {
  struct Case {
    int clocks;
  };
  for (const Case& c : {Case{15}, Case{17}, Case{0}}) {
    TestClock clock;
    Rig rig(clock, QuietOptions());
    PortIo& port = rig.Port();
    // A write frame of AUX_DAC's low byte, 0xFF, cut short or drawn out.
    port.Out(0x378, 4);
    port.Out(0x378, 5);
    for (int i = 0; i < c.clocks; ++i) {
      const bool bit = (0xB0FF >> (15 - (i % 16))) & 1;
      port.Out(0x378, 7);
      port.Out(0x378, bit ? 3 : 7);
      port.Out(0x378, bit ? 1 : 5);
      port.Out(0x378, 5);
    }
    port.Out(0x378, 0);
    clock.Wait(test::kPortStall);
    EXPECT_EQ(rig.Slave().FramesDiscarded(), 1u) << c.clocks;
    EXPECT_EQ(PortRead(port, clock, 0x378, addr::AUX_DAC), 0) << c.clocks;
    EXPECT_EQ(PortRead(port, clock, 0x378, addr::STATUS), status::SpiFrameError) << c.clocks;
    EXPECT_EQ(PortRead(port, clock, 0x378, addr::STATUS), 0) << c.clocks;
  }
}

TEST(SimulatedPortIo, OtherAddressesReadFFAndIgnoreWrites) {
  TestClock clock;
  Rig rig(clock, QuietOptions());
  PortIo& port = rig.Port();
  port.Out(0x378, 5);  // select the sensor
  port.Out(0x37A, 0);  // control register: not wired
  port.Out(0x379, 0x40);  // status register: read-only
  EXPECT_TRUE(rig.Slave().Selected());
  EXPECT_EQ(port.In(0x37A), 0xFF);
  EXPECT_EQ(port.In(0x278), 0xFF);
  EXPECT_EQ(port.In(0x378), 5) << "the data register reads back";
  port.Out(0x378, 0);
  EXPECT_FALSE(rig.Slave().Selected());
}

TEST(SimulatedPortIo, AccessOnlyForItsOwnBaseAddress) {
  TestClock clock;
  RigOptions o = QuietOptions();
  o.portBase = 0x278;
  Rig rig(clock, o);
  std::string device, reason;
  EXPECT_TRUE(rig.Port().EnableAccess(0x278, device, reason));
  EXPECT_FALSE(rig.Port().EnableAccess(0x378, device, reason));
  EXPECT_NE(device.find("0x0378"), std::string::npos) << device;
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(PortRead(rig.Port(), clock, 0x278, addr::SMPL_PRD), 0x0001);
  EXPECT_EQ(PortRead(rig.Port(), clock, 0x378, addr::SMPL_PRD), 0x0000) << "nothing at 0x378: bit 6 reads 1";
}

TEST(SimulatedPortIo, TimingModelChargesOneMicrosecondPerAccess) {
  TestClock clock;
  RigOptions o = QuietOptions();
  o.timingModel = true;
  Rig rig(clock, o);
  PortRead(rig.Port(), clock, 0x378, addr::SMPL_PRD);
  // 67 writes, then 2 + 16 x 2 writes and 16 status reads, then the closing write; each
  // frame followed by the 100 us stall.
  EXPECT_EQ(clock.Now(), std::chrono::microseconds(67 + 100 + 2 + 16 * 3 + 1 + 100));
}

}  // namespace
}  // namespace pemra::sim

namespace pemra::sim {
namespace {

TEST(SimulatedPortIo, StallBetweenFramesFollowsTheSamplingMode) {
  // Chip select rises at the frame's last write; the next frame's first two writes (1.25 us
  // each on the lines) come after the wait, the second one selecting.
  struct Case {
    uint16_t smplPrd;
    int waitUs;
    uint16_t answer;
  };
  const Case cases[] = {{0x01, 8, 0x1234},  {0x01, 7, 0x2468},  // 10.5 us, 9.5 us
                        {0x0A, 73, 0x1234}, {0x0A, 72, 0x2468}};  // 75.5 us, 74.5 us
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.smplPrd << ", " << c.waitUs << " us");
    TestClock clock;
    Rig rig(clock, test::QuietOptions());
    rig.Sensor().PokeRegister(addr::ALM_MAG1, 0x1234);
    rig.Sensor().PokeRegister(addr::SMPL_PRD, c.smplPrd);
    for (uint8_t v : test::PortFrameWrites(0x2600)) rig.Port().Out(0x378, v);
    clock.Wait(std::chrono::microseconds(c.waitUs));
    EXPECT_EQ(test::PortReceiveWord(rig.Port(), clock, 0x378), c.answer);
    EXPECT_EQ(rig.SimPort().FramesOutsideLimits(), c.answer == 0x1234 ? 0u : 1u);
  }
}

}  // namespace
}  // namespace pemra::sim
