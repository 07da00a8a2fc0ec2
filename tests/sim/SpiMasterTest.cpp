// The lines from the bit-level masters (the FTDI MPSSE engine and a spidev node) to the
// sensor: mode 3 reads what the sensor holds; a master that samples on the sensor's shift
// edge gets the word one bit late (the first bit read is the idle high line); a clock above
// 2 MHz loses the frame.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sim/MpsseEngine.h"
#include "sim/Rig.h"
#include "sim/SensorRegisters.h"
#include "sim/SimulatedSpidev.h"

namespace pemra::sim {
namespace {

constexpr uint16_t kHeld = 0x1234;      // ALM_MAG1 (0x26)
constexpr uint16_t kOneBitLate = 0x891A;  // 1, then bits 15..1 of kHeld

class SpiMasterTest : public ::testing::Test {
 protected:
  SpiMasterTest() { rig.Sensor().PokeRegister(0x26, kHeld); }
  TestClock clock;
  Rig rig{clock};
};

// Two read frames of ALM_MAG1 through the engine; the second one's answer.
uint16_t MpsseRead(MpsseEngine& engine, const std::vector<uint8_t>& setup, uint8_t shift,
                   uint8_t idle, uint8_t selected) {
  engine.SetMpsse(true);
  engine.Write(setup.data(), setup.size());
  const uint8_t frame[] = {0x80, selected, 0x0B, shift, 0x01, 0x00, 0x26, 0x00, 0x80, idle, 0x0B};
  engine.Write(frame, sizeof frame);
  engine.Write(frame, sizeof frame);
  uint8_t answers[4] = {};
  EXPECT_EQ(engine.Read(answers, 4), 4u);
  return static_cast<uint16_t>(answers[2] << 8 | answers[3]);
}

TEST_F(SpiMasterTest, MpsseClockingAsTheSensorTakesItOrNot) {
  const std::vector<uint8_t> twoMHz = {0x8A, 0x86, 0x0E, 0x00, 0x80, 0x09, 0x0B};
  const std::vector<uint8_t> idleLow = {0x8A, 0x86, 0x0E, 0x00, 0x80, 0x08, 0x0B};
  const std::vector<uint8_t> sixMHz = {0x86, 0x00, 0x00, 0x80, 0x09, 0x0B};  // divide-by-5 on
  struct Case {
    const char* what;
    std::vector<uint8_t> setup;
    uint8_t shift, idle, selected;
    uint16_t word;
    bool frameError;
  };
  const Case cases[] = {
      {"mode 3: out on the falling edge, in on the rising", twoMHz, 0x31, 0x09, 0x01, kHeld, false},
      {"clock idling low", idleLow, 0x31, 0x08, 0x00, kOneBitLate, false},
      {"in on the falling edge", twoMHz, 0x35, 0x09, 0x01, kOneBitLate, false},
      {"6 MHz", sixMHz, 0x31, 0x09, 0x01, 0xFFFF, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig fresh{clock};
    fresh.Sensor().PokeRegister(0x26, kHeld);
    MpsseEngine engine(&fresh.Slave());
    EXPECT_EQ(MpsseRead(engine, c.setup, c.shift, c.idle, c.selected), c.word);
    const uint16_t status = fresh.Sensor().PeekRegister(addr::STATUS);
    EXPECT_EQ((status & status::SpiFrameError) != 0, c.frameError);
  }
}

TEST_F(SpiMasterTest, MpsseAnswersUnknownCommandsAndWaitsForSplitOnes) {
  MpsseEngine engine(&rig.Slave());
  engine.SetMpsse(true);
  const uint8_t bogus[] = {0xAA, 0xAB};
  engine.Write(bogus, 2);
  uint8_t answers[4] = {};
  ASSERT_EQ(engine.Read(answers, 4), 4u);
  EXPECT_EQ(std::vector<uint8_t>(answers, answers + 4), (std::vector<uint8_t>{0xFA, 0xAA, 0xFA, 0xAB}));
  const uint8_t head[] = {0x8A, 0x86, 0x0E};
  const uint8_t tail[] = {0x00};
  engine.Write(head, 3);
  EXPECT_EQ(engine.ClockHz(), 30'000'000u);  // the divisor is not complete yet
  engine.Write(tail, 1);
  EXPECT_EQ(engine.ClockHz(), 2'000'000u);
  // Out of MPSSE mode written bytes are no commands.
  engine.SetMpsse(false);
  engine.Write(bogus, 2);
  EXPECT_EQ(engine.Available(), 0u);
}

TEST_F(SpiMasterTest, SpidevModesAndClock) {
  struct Case {
    uint8_t mode;
    uint32_t hz;
    uint16_t word;
  };
  const Case cases[] = {
      {3, 2'000'000, kHeld}, {0, 2'000'000, kOneBitLate}, {2, 2'000'000, kOneBitLate},
      {3, 4'000'000, 0xFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << int(c.mode) << " at " << c.hz);
    SpidevNode node(&rig.Slave(), SpidevNodeOptions{});
    ASSERT_TRUE(node.SetMode(c.mode));
    ASSERT_TRUE(node.SetBitsPerWord(16));
    ASSERT_TRUE(node.SetMaxSpeed(c.hz));
    const uint16_t frames[2] = {0x2600, 0x2600};
    uint16_t answers[2] = {};
    uint8_t tx[4];
    uint8_t rx[4] = {};
    std::memcpy(tx, frames, 4);
    const SpiTransfer transfers[2] = {{tx, rx, 2, 0, 10, 0, true}, {tx + 2, rx + 2, 2, 0, 0, 0, false}};
    Nanoseconds busy{0};
    ASSERT_TRUE(node.Run(transfers, busy));
    std::memcpy(answers, rx, 4);
    EXPECT_EQ(answers[1], c.word);
    // Bus time: 32 clocks and the 10 us stall.
    EXPECT_EQ(busy, Nanoseconds(32'000'000'000LL / c.hz + 10'000));
  }
  SpidevNode eightOnly(&rig.Slave(), SpidevNodeOptions{"/dev/spidev0.1", false});
  EXPECT_FALSE(eightOnly.SetBitsPerWord(16));
  EXPECT_TRUE(eightOnly.SetBitsPerWord(8));
}

}  // namespace
}  // namespace pemra::sim
