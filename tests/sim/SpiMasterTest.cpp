// The lines from the bit-level masters (the FTDI MPSSE engine and a spidev node) to the
// sensor. The engine clocks as FTDI's AN_108 writes it: the first bit on DO before the clock
// runs, DO moving on at every edge of the write polarity. The frames a mode-3 slave latches
// are worked out by hand for each command buffer. Frames outside the sensor's timing limits
// (2 MHz / 10 us, in low-power sampling 300 kHz / 75 us) arrive shifted by one bit.

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "sim/MpsseEngine.h"
#include "sim/Rig.h"
#include "sim/SensorRegisters.h"
#include "sim/SimulatedSpidev.h"

namespace pemra::sim {
namespace {

constexpr uint16_t kHeld = 0x1234;  // ALM_MAG1 (0x26)

std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 3) {
    out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

struct Outcome {
  std::vector<uint16_t> taken;    // the frames the sensor latched
  std::vector<uint8_t> answers;   // what the engine queued for the host
};

Outcome RunEngine(Rig& rig, uint16_t bcd, const std::string& buffer) {
  rig.Slave().RecordFrames(true);
  MpsseEngine engine(&rig.Slave(), bcd);
  engine.SetMpsse(true);
  const std::vector<uint8_t> bytes = Bytes(buffer);
  engine.Write(bytes.data(), bytes.size());
  Outcome o;
  o.taken = rig.Slave().FramesTaken();
  o.answers.resize(engine.Available());
  engine.Read(o.answers.data(), o.answers.size());
  return o;
}

TEST(MpsseAn108, FramesAMode3SlaveLatches) {
  // 2 MHz on the 60 MHz base, lines idle with SK high and CS high.
  const std::string setup = "8A 86 0E 00 80 09 0B ";
  // Between frames 24 idle clocks (12 us) with CS high.
  const std::string stall = "8F 02 00 ";
  struct Case {
    const char* what;
    std::string frames;
    std::vector<uint16_t> taken;
    std::vector<uint8_t> answers;
  };
  const Case cases[] = {
      // SK idles high, data out on the falling edge: the first edge moves DO on to bit 14
      // before the first rising edge, so the slave takes bits 14..0 and bit 0 again.
      {"mode 3, falling-edge write: a write arrives as a read",
       "80 01 0B 11 01 00 9B 1A 80 09 0B ", {0x3634}, {}},
      {"mode 3, falling-edge write: a read of 13 arrives as a read of 26",
       "80 01 0B 31 01 00 13 00 80 09 0B " + stall + "80 01 0B 31 01 00 13 00 80 09 0B ",
       {0x2600, 0x2600}, {0x00, 0x00, 0x12, 0x34}},
      {"mode 3, bit 0 set: repeated as the last bit", "80 01 0B 11 01 00 80 01 80 09 0B ",
       {0x0003}, {}},
      // SK brought low after CS falls, the frame clocked as mode 0, CS raised with SK low.
      {"SK low inside the frame: the write arrives whole",
       "80 01 0B 80 00 0B 11 01 00 9B 1A 80 08 0B 80 09 0B ", {0x9B1A}, {}},
      {"SK low inside the frame: a pipelined read",
       "80 01 0B 80 00 0B 31 01 00 26 00 80 08 0B 80 09 0B " + stall +
           "80 01 0B 80 00 0B 31 01 00 00 00 80 08 0B 80 09 0B ",
       {0x2600, 0x0000}, {0x00, 0x00, 0x12, 0x34}},
      // Bits: the 16 clocks in two commands of 8 bits.
      {"SK low inside the frame, bit commands",
       "80 01 0B 80 00 0B 13 07 9B 13 07 1A 80 08 0B 80 09 0B ", {0x9B1A}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestClock clock;
    Rig rig{clock};
    rig.Sensor().PokeRegister(0x26, kHeld);
    const Outcome o = RunEngine(rig, kBcdFt232h, setup + c.frames);
    EXPECT_EQ(o.taken, c.taken);
    EXPECT_EQ(o.answers, c.answers);
  }
}

TEST(MpsseAn108, Ft2232dKnowsOnlyItsCommandsAndRunsFrom12MHz) {
  TestClock clock;
  Rig rig{clock};
  MpsseEngine d(&rig.Slave(), kBcdFt2232d);
  d.SetMpsse(true);
  const std::vector<uint8_t> setup = Bytes("8A 97 8D 86 02 00 8F 01 00 80 09 0B 85 9C 94 ");
  d.Write(setup.data(), setup.size());
  // 8F unknown, its two count bytes then run as commands of their own, unknown too.
  std::vector<uint8_t> answers(d.Available());
  d.Read(answers.data(), answers.size());
  EXPECT_EQ(answers, Bytes("FA 8A FA 97 FA 8D FA 8F FA 01 FA 00 FA 9C FA 94 "));
  EXPECT_EQ(d.ClockHz(), 2'000'000u);  // 12 MHz / ((1 + 2) x 2)
  MpsseEngine h(&rig.Slave(), kBcdFt2232h);
  h.SetMpsse(true);
  const std::vector<uint8_t> hSetup = Bytes("8A 97 8D 86 02 00 ");
  h.Write(hSetup.data(), hSetup.size());
  EXPECT_EQ(h.Available(), 0u);
  EXPECT_EQ(h.ClockHz(), 10'000'000u);  // 60 MHz / ((1 + 2) x 2)
}

// "Wait on I/O high" (88) and "low" (89) on GPIOL1, wired to the sensor's data-ready output
// (DI/O1, active high for the first half of each 1.2207 ms period from power-up at 0). The low
// byte read (81) answers 2D with GPIOL1 high (SK, DI, CS and GPIOL1), 0D with it low.
TEST(MpsseWaitOnIo, WaitsFollowTheDataReadyLineOnTheSensorsTimeline) {
  const std::string hSetup = "8A 86 0E 00 80 09 0B ";  // 2 MHz on the 60 MHz base
  const std::string dSetup = "86 02 00 80 09 0B ";     // 2 MHz on the FT2232D's 12 MHz
  // A read of GPIO_CTRL (0x32), clocked as mode 0 inside the mode-3 idle, and the stall.
  const std::string gpio = "80 01 0B 80 00 0B 31 01 00 32 00 80 08 0B 80 09 0B 8F 02 00 ";
  constexpr int64_t kNever = -1;
  constexpr int64_t kNotWaiting = 0;
  struct Case {
    const char* what;
    uint16_t bcd;
    bool wired;
    int64_t writeUs;  // the host's clock when it writes the buffer
    std::string buffer;
    std::vector<uint8_t> answersAtWrite;
    int64_t waitingUntilNs;  // then: the line's time, kNever, or kNotWaiting
    int64_t laterUs;         // the host's clock when it comes back
    std::vector<uint8_t> answersLater;
  };
  const Case cases[] = {
      {"high already: 88 goes on", kBcdFt232h, true, 100, "88 81 87 ", {0x2D}, kNotWaiting,
       200, {}},
      {"89 waits for half a period after the update", kBcdFt232h, true, 100, "89 81 87 ", {},
       610'350, 700, {0x0D}},
      {"88 from low waits for the next update", kBcdFt232h, true, 700, "88 81 87 ", {},
       1'220'700, 1'300, {0x2D}},
      {"89 88: the data-ready edge", kBcdFt232h, true, 100, "89 88 81 87 ", {}, 610'350, 1'300,
       {0x2D}},
      {"not yet at the edge: still waiting", kBcdFt232h, true, 100, "89 88 81 87 ", {}, 610'350,
       1'200, {}},
      {"idle clocks move the chip's time: 112 us from 500 us passes 610 us", kBcdFt232h, true, 500,
       "81 8F 1B 00 81 87 ", {0x2D, 0x0D}, kNotWaiting, 600, {}},
      {"the FT2232D knows 88 and 89", kBcdFt2232d, true, 700, "88 81 87 ", {}, 1'220'700, 1'300,
       {0x2D}},
      {"unwired: the pull-up holds GPIOL1 high", kBcdFt232h, false, 700, "88 81 87 ", {0x2D},
       kNotWaiting, 800, {}},
      {"unwired: 89 waits for ever", kBcdFt232h, false, 100, "89 81 87 ", {}, kNever, 10'000'000,
       {}},
      // Queued at 100 us, collected at 5.5 ms (the line low then): each burst read the sample
      // of its own edge, at 1.2207 ms and 2.4414 ms, with the line high (GPIO_CTRL 0100).
      {"a late host: queued bursts ran at their edges", kBcdFt232h, true, 100,
       "89 88 " + gpio + gpio + "89 88 " + gpio + gpio + "87 ", {}, 610'350, 5'500,
       {0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestClock clock;
    Rig rig{clock};
    clock.Advance(std::chrono::microseconds(c.writeUs));
    MpsseEngine engine(&rig.Slave(), c.bcd);
    engine.WireGpiol1(c.wired);
    engine.SetMpsse(true);
    engine.Resume(clock.Now());
    const std::vector<uint8_t> bytes =
        Bytes((c.bcd == kBcdFt2232d ? dSetup : hSetup) + c.buffer);
    engine.Write(bytes.data(), bytes.size());
    std::vector<uint8_t> answers(engine.Available());
    engine.Read(answers.data(), answers.size());
    EXPECT_EQ(answers, c.answersAtWrite);
    EXPECT_EQ(engine.Waiting(), c.waitingUntilNs != kNotWaiting);
    if (c.waitingUntilNs > 0) {
      EXPECT_EQ(engine.WaitingUntil(), std::optional<Nanoseconds>(Nanoseconds(c.waitingUntilNs)));
    } else {
      EXPECT_EQ(engine.WaitingUntil(), std::nullopt);
    }
    clock.Advance(std::chrono::microseconds(c.laterUs - c.writeUs));
    engine.Advance(clock.Now());
    answers.assign(engine.Available(), 0);
    engine.Read(answers.data(), answers.size());
    EXPECT_EQ(answers, c.answersLater);
  }
}

TEST(MpsseWaitOnIo, CommandsWrittenLateWaitForAnEdgeAfterTheyArrived) {
  TestClock clock;
  Rig rig{clock};
  MpsseEngine engine(&rig.Slave());
  engine.WireGpiol1(true);
  engine.SetMpsse(true);
  clock.Advance(std::chrono::microseconds(100));
  engine.Resume(clock.Now());
  const std::vector<uint8_t> burst = Bytes("80 09 0B 89 88 81 87 ");
  engine.Write(burst.data(), burst.size());
  EXPECT_EQ(engine.WaitingUntil(), std::optional<Nanoseconds>(Nanoseconds(610'350)));
  // Back at 5 ms, after the edges at 1.2207 ... 4.8828 ms: the first burst ran at the first
  // of them; the one written now waits for the line to fall at 5.49315 ms and rise at 6.1035.
  clock.Advance(std::chrono::microseconds(4'900));
  engine.Resume(clock.Now());
  engine.Write(burst.data(), burst.size());
  EXPECT_EQ(engine.Available(), 1u);
  EXPECT_EQ(engine.WaitingUntil(), std::optional<Nanoseconds>(Nanoseconds(5'493'150)));
  clock.Advance(std::chrono::microseconds(1'000));
  engine.Advance(clock.Now());
  EXPECT_EQ(engine.WaitingUntil(), std::optional<Nanoseconds>(Nanoseconds(6'103'500)));
  EXPECT_EQ(engine.Available(), 1u);
}

TEST(MpsseWaitOnIo, OnlyAResetOrAPurgeEndsAWaitThatNeverEnds) {
  TestClock clock;
  Rig rig{clock};
  MpsseEngine engine(&rig.Slave());
  engine.SetMpsse(true);
  engine.Resume(clock.Now());
  const std::vector<uint8_t> stuck = Bytes("80 09 0B 89 81 ");  // GPIOL1 open: never low
  engine.Write(stuck.data(), stuck.size());
  ASSERT_TRUE(engine.Waiting());
  engine.PurgeCommands();
  EXPECT_FALSE(engine.Waiting());
  const std::vector<uint8_t> read = Bytes("81 ");
  engine.Write(read.data(), read.size());
  EXPECT_EQ(engine.Available(), 1u);  // the 81 behind the wait was dropped with it
  engine.Write(stuck.data(), stuck.size());
  engine.SetMpsse(false);
  engine.SetMpsse(true);
  EXPECT_FALSE(engine.Waiting());
}

TEST(SerialLimits, FramesOutsideTheLimitsArriveShiftedByOneBit) {
  // Two reads of ALM_MAG1 with SK low inside the frame; stall and divisor vary.
  const auto frames = [](const std::string& divisor, const std::string& stall) {
    const std::string frame = "80 01 0B 80 00 0B 31 01 00 26 00 80 08 0B 80 09 0B ";
    return "8A 86 " + divisor + "80 09 0B " + frame + stall + frame;
  };
  struct Case {
    const char* what;
    uint16_t smplPrd;
    std::string buffer;
    std::vector<uint16_t> taken;
    uint16_t answer;
  };
  const Case cases[] = {
      {"2 MHz, 12 us", 0x01, frames("0E 00 ", "8F 02 00 "), {0x2600, 0x2600}, kHeld},
      {"2 MHz, 8 us: stall too short", 0x01, frames("0E 00 ", "8F 01 00 "), {0x2600, 0x4C00},
       0x2468},
      {"2.1 MHz: clock too fast", 0x01, frames("0D 00 ", "8F 02 00 "), {0x4C00, 0x4C00}, 0x0000},
      {"low power, 2 MHz", 0x0A, frames("0E 00 ", "8F 13 00 "), {0x4C00, 0x4C00}, 0x0000},
      {"low power, 300 kHz, 80 us", 0x0A, frames("63 00 ", "8F 02 00 "), {0x2600, 0x2600},
       kHeld},
      {"low power, 300 kHz, 53 us: stall too short", 0x0A, frames("63 00 ", "8F 01 00 "),
       {0x2600, 0x4C00}, 0x2468},
      {"low power, 316 kHz", 0x0A, frames("5E 00 ", "8F 02 00 "), {0x4C00, 0x4C00}, 0x0000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestClock clock;
    Rig rig{clock};
    rig.Sensor().PokeRegister(0x26, kHeld);
    rig.Sensor().PokeRegister(addr::SMPL_PRD, c.smplPrd);
    const Outcome o = RunEngine(rig, kBcdFt232h, c.buffer);
    EXPECT_EQ(o.taken, c.taken);
    ASSERT_EQ(o.answers.size(), 4u);
    EXPECT_EQ(o.answers[2] << 8 | o.answers[3], c.answer);
  }
}

TEST(SerialLimits, TimeOnTheHostClockCountsAsStall) {
  TestClock clock;
  Rig rig{clock};
  rig.Sensor().PokeRegister(addr::SMPL_PRD, 0x0A);
  rig.Slave().RecordFrames(true);
  MpsseEngine engine(&rig.Slave());
  engine.SetMpsse(true);
  const std::vector<uint8_t> setup = Bytes("8A 86 63 00 80 09 0B ");
  const std::vector<uint8_t> frame = Bytes("80 01 0B 80 00 0B 11 01 00 26 00 80 08 0B 80 09 0B ");
  engine.Write(setup.data(), setup.size());
  for (const int gapUs : {0, 0, 80, 70}) {
    clock.Advance(std::chrono::microseconds(gapUs));
    engine.Resume(clock.Now());
    engine.Write(frame.data(), frame.size());
    engine.Pause(clock.Now());
  }
  // Power-up, then no stall, then 80 us and 70 us of host time with the select high.
  EXPECT_EQ(rig.Slave().FramesTaken(), (std::vector<uint16_t>{0x2600, 0x4C00, 0x2600, 0x4C00}));
}

TEST(SpidevNodeTiming, ModesClockAndStall) {
  struct Case {
    uint8_t mode;
    uint32_t hz;
    uint16_t smplPrd;
    uint16_t delayUs;
    uint16_t word;
  };
  const Case cases[] = {
      {3, 2'000'000, 0x01, 0, kHeld},
      {0, 2'000'000, 0x01, 0, 0x891A},  // samples on the sensor's shift edge: one bit late
      {2, 2'000'000, 0x01, 0, 0x891A},
      {3, 4'000'000, 0x01, 0, 0x0000},  // too fast: read of 0x4C
      {3, 300'000, 0x0A, 0, 0x2468},    // the core's 10 us between frames: too short
      {3, 300'000, 0x0A, 70, 0x2468},   // a delay before the select rises does not help
      {3, 400'000, 0x0A, 0, 0x0000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << int(c.mode) << " at " << c.hz);
    TestClock clock;
    Rig rig{clock};
    rig.Sensor().PokeRegister(0x26, kHeld);
    rig.Sensor().PokeRegister(addr::SMPL_PRD, c.smplPrd);
    SpidevNode node(&rig.Slave(), SpidevNodeOptions{});
    ASSERT_TRUE(node.SetMode(c.mode));
    ASSERT_TRUE(node.SetBitsPerWord(16));
    ASSERT_TRUE(node.SetMaxSpeed(c.hz));
    const uint16_t frames[2] = {0x2600, 0x2600};
    uint16_t answers[2] = {};
    uint8_t tx[4];
    uint8_t rx[4] = {};
    std::memcpy(tx, frames, 4);
    const SpiTransfer transfers[2] = {{tx, rx, 2, 0, c.delayUs, 0, true},
                                      {tx + 2, rx + 2, 2, 0, 0, 0, false}};
    Nanoseconds busy{0};
    std::string error;
    ASSERT_TRUE(node.Run(transfers, clock.Now(), busy, error));
    std::memcpy(answers, rx, 4);
    EXPECT_EQ(answers[1], c.word);
    // Bus time: 32 clocks, the delay with the select active and the core's 10 us with it
    // released.
    EXPECT_EQ(busy, Nanoseconds(2 * 32 * (500'000'000LL / c.hz) + c.delayUs * 1000 + 10'000));
  }
}

TEST(SpidevNodeTiming, MessagesBeyondTheKernelBufferAreRefused) {
  TestClock clock;
  Rig rig{clock};
  struct Case {
    uint32_t alignment;
    size_t transfers;
    bool ok;
  };
  // arm64: each 2-byte transfer takes 128 bytes of the 4096-byte buffer.
  const Case cases[] = {{128, 32, true}, {128, 33, false}, {8, 64, true}, {8, 512, true},
                        {8, 513, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.alignment << " x " << c.transfers);
    SpidevNodeOptions options;
    options.transferAlignment = c.alignment;
    SpidevNode node(&rig.Slave(), options);
    ASSERT_TRUE(node.SetBitsPerWord(16));
    std::vector<uint8_t> tx(2 * c.transfers, 0);
    std::vector<uint8_t> rx(2 * c.transfers, 0);
    std::vector<SpiTransfer> transfers;
    for (size_t i = 0; i < c.transfers; ++i) {
      transfers.push_back(SpiTransfer{tx.data() + 2 * i, rx.data() + 2 * i, 2, 0, 0, 0, true});
    }
    Nanoseconds busy{0};
    std::string error;
    EXPECT_EQ(node.Run(transfers, clock.Now(), busy, error), c.ok);
    EXPECT_EQ(error, c.ok ? "" : "Message too long");
  }
  SpidevNode eightOnly(&rig.Slave(), SpidevNodeOptions{"/dev/spidev0.1", false});
  EXPECT_FALSE(eightOnly.SetBitsPerWord(16));
  EXPECT_TRUE(eightOnly.SetBitsPerWord(8));
}

TEST(MpsseEngineCommands, AnswersUnknownCommandsAndWaitsForSplitOnes) {
  TestClock clock;
  Rig rig{clock};
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

}  // namespace
}  // namespace pemra::sim
