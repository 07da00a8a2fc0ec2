// The bit-banged transport against a port that records every access.

#include <gtest/gtest.h>

#include "Fakes.h"
#include "core/Clock.h"
#include "core/Message.h"
#include "interfaces/ParallelPortSpi.h"

namespace pemra {
namespace {

using test::FakePortIo;
using test::PortAccess;

constexpr uint16_t kBase = 0x378;
constexpr auto kStall = std::chrono::microseconds(100);

// The data-register values of one frame: 4, 5, four writes per bit (a one: 7, 3, 1, 5;
// a zero: 7, 7, 5, 5), then 0.
std::vector<uint8_t> FrameWrites(uint16_t frame) {
  std::vector<uint8_t> writes = {4, 5};
  for (int n = 15; n >= 0; --n) {
    const bool one = (frame >> n) & 1;
    const std::vector<uint8_t> bit = one ? std::vector<uint8_t>{7, 3, 1, 5}
                                         : std::vector<uint8_t>{7, 7, 5, 5};
    writes.insert(writes.end(), bit.begin(), bit.end());
  }
  writes.push_back(0);
  return writes;
}

class ParallelPortSpiTest : public ::testing::Test {
 protected:
  ParallelPortSpiTest() {
    selection.InterfaceType = 1;
    selection.PortAddress = static_cast<int16_t>(kBase);
  }
  Selection selection;
  FakePortIo port;
  TestClock clock;
  RecordingMessageSink messages;
  RecordingTraceSink trace;
  ParallelPortSpi spi{selection, port, clock, messages, &trace};
};

TEST_F(ParallelPortSpiTest, NothingHappensUnlessTheParallelPortIsSelected) {
  for (const int16_t type : {0, 2, 3, -1}) {
    selection.InterfaceType = type;
    spi.ParallelWriteFrame(0xBF00);
    spi.ParallelPortInit();
    int16_t address = 0x05;
    port.statusReads.assign(32, 0x00);  // a read would give 0xFFFF if the port were used
    EXPECT_EQ(spi.ParallelReadWord(address), 0) << type;
    spi.WriteFramePair(0x8000, 0x8100);
    EXPECT_EQ(spi.ReadWord(4), 0) << type;
    EXPECT_TRUE(port.accesses.empty()) << type;
    EXPECT_TRUE(clock.Waits().empty()) << type;
    EXPECT_TRUE(trace.lines.empty()) << type;
  }
}

TEST_F(ParallelPortSpiTest, FrameIsTheExactDataRegisterSequenceThenAStall) {
  for (const uint16_t frame : {0xBF00, 0x0000, 0xFFFF, 0x8001, 0x5AC3}) {
    port.accesses.clear();
    clock.ClearWaits();
    spi.ParallelWriteFrame(frame);
    EXPECT_EQ(port.WritesTo(kBase), FrameWrites(frame)) << std::hex << frame;
    EXPECT_EQ(port.accesses.size(), 67u);  // nothing but the data register is touched
    EXPECT_EQ(clock.Waits(), std::vector<Nanoseconds>{kStall});
  }
}

TEST_F(ParallelPortSpiTest, FirstTwoBitsOneThenZero) {
  spi.ParallelWriteFrame(0x8000);
  const auto writes = port.WritesTo(kBase);
  ASSERT_GE(writes.size(), 10u);
  EXPECT_EQ(std::vector<uint8_t>(writes.begin() + 2, writes.begin() + 10),
            (std::vector<uint8_t>{7, 3, 1, 5, 7, 7, 5, 5}));
}

TEST_F(ParallelPortSpiTest, ReadMasksTheAddressAndClocksTheAnswerIn) {
  // The word 0x9A5C: status bit 6 reads 0 for every 1 bit, most significant bit first.
  const uint16_t word = 0x9A5C;
  for (int n = 15; n >= 0; --n) {
    port.statusReads.push_back(((word >> n) & 1) ? 0x00 : 0x40);
  }
  int16_t address = 0x85;
  EXPECT_EQ(spi.ParallelReadWord(address), word);
  EXPECT_EQ(address, 0x05);

  // Command frame 0x0500, then the answer frame: 4, 5, (7, read, 5) x 16, 0.
  std::vector<PortAccess> expected;
  for (uint8_t v : FrameWrites(0x0500)) expected.push_back({true, kBase, v});
  expected.push_back({true, kBase, 4});
  expected.push_back({true, kBase, 5});
  for (int n = 0; n < 16; ++n) {
    expected.push_back({true, kBase, 7});
    expected.push_back({false, kBase + 1, 0});
    expected.push_back({true, kBase, 5});
  }
  expected.push_back({true, kBase, 0});
  EXPECT_EQ(port.accesses, expected);
  EXPECT_EQ(clock.Waits(), (std::vector<Nanoseconds>{kStall, kStall}));
  EXPECT_EQ(trace.lines, (std::vector<std::string>{"spi > 0500 < ----", "spi > 0000 < 9A5C"}));
}

TEST_F(ParallelPortSpiTest, StatusBitSixLowThroughoutReadsAllOnes) {
  port.statusReads.assign(16, 0xBF);  // every bit but bit 6 high: only bit 6 counts
  EXPECT_EQ(spi.ReadWord(0x3C), 0xFFFF);
  port.statusReads.assign(16, 0x40);
  EXPECT_EQ(spi.ReadWord(0x3C), 0x0000);
}

TEST_F(ParallelPortSpiTest, WritePairSendsBothFramesInOrderAndTracesThemUnanswered) {
  spi.WriteFramePair(0xBF00, 0xBE08);
  std::vector<uint8_t> expected = FrameWrites(0xBF00);
  const auto second = FrameWrites(0xBE08);
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(port.WritesTo(kBase), expected);
  EXPECT_EQ(trace.lines, (std::vector<std::string>{"spi > BF00 < ----", "spi > BE08 < ----"}));
}

TEST_F(ParallelPortSpiTest, InitWritesStatusThenIdlesTheLines) {
  spi.ParallelPortInit();
  EXPECT_EQ(port.accesses,
            (std::vector<PortAccess>{{true, kBase + 1, 0x40}, {true, kBase, 0}}));
  EXPECT_EQ(clock.Waits(), std::vector<Nanoseconds>{kStall});
}

TEST_F(ParallelPortSpiTest, AddressAboveSevenFffIsUsedAsItsSixteenBitPattern) {
  selection.PortAddress = -17408;  // 0xBC00
  port.statusReads.assign(16, 0x00);
  EXPECT_EQ(spi.ReadWord(0), 0xFFFF);
  EXPECT_EQ(port.accesses.front().address, 0xBC00);
  EXPECT_EQ(port.WritesTo(0xBC00).size(), 67u + 35u);  // command frame, answer frame
  EXPECT_EQ(port.accesses[67 + 3].address, 0xBC01);  // the first status read
}

TEST_F(ParallelPortSpiTest, PortAccessFailureNamesTheDeviceAndReason) {
  port.accessGranted = false;
  EXPECT_FALSE(spi.EnablePortAccess());
  EXPECT_FALSE(spi.PortIoEnabled);
  EXPECT_EQ(port.enabledBase, kBase);
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0].text,
            "The required I/O drivers could not be installed.\n"
            "/dev/parport0: Permission denied: the user is not in group lp");
  EXPECT_EQ(messages.messages[0].title, "Error");

  port.accessGranted = true;
  EXPECT_TRUE(spi.EnablePortAccess());
  EXPECT_TRUE(spi.PortIoEnabled);
  EXPECT_EQ(messages.messages.size(), 1u);
}

TEST_F(ParallelPortSpiTest, NoTraceSinkNoTrace) {
  ParallelPortSpi quiet{selection, port, clock, messages};
  port.statusReads.assign(16, 0x00);
  EXPECT_EQ(quiet.ReadWord(2), 0xFFFF);
  EXPECT_TRUE(trace.lines.empty());
}

}  // namespace
}  // namespace pemra
