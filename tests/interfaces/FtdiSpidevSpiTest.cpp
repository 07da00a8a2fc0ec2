// The FTDI and spidev transports on the simulated boards and nodes: MPSSE command buffers
// byte for byte, the clock divisor, the spidev set-up, and a failure at each step giving one
// message and no further traffic.

#include <gtest/gtest.h>

#include <fmt/format.h>

#include "Fakes.h"
#include "core/Message.h"
#include "core/RegisterTable.h"
#include "interfaces/FtdiSpi.h"
#include "interfaces/Session.h"
#include "interfaces/SpiFrames.h"
#include "interfaces/SpidevSpi.h"
#include "sim/Rig.h"

namespace pemra {
namespace {

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (uint8_t b : bytes) text += fmt::format("{}{:02X}", text.empty() ? "" : " ", b);
  return text;
}

sim::RigOptions StillRig() {
  sim::RigOptions options;
  options.noise = false;
  options.motion = sim::MotionProfile::AtRest();
  options.ftdiBoards = {sim::FtdiBoardOptions{},
                        sim::FtdiBoardOptions{kFtdiProductFt2232h, "FT6ABC34", "Dual RS232-HS",
                                              "1-5"}};
  return options;
}

class TransportTest : public ::testing::Test {
 protected:
  TransportTest() {
    rig.Sensor().PokeRegister(0x26, 0x1234);
    session.selection.DeviceType = 21420;
  }
  // The command buffers written since the last call, and the answers read, as hex lines.
  std::vector<std::string> FtdiTraffic() {
    std::vector<std::string> lines;
    for (const auto& t : rig.Ftdi().Transfers()) {
      lines.push_back((t.read ? "< " : "> ") + HexBytes(t.bytes) + (t.ok ? "" : " (failed)"));
    }
    rig.Ftdi().ClearTransfers();
    return lines;
  }

  TestClock clock;
  sim::Rig rig{clock, StillRig()};
  RecordingMessageSink messages;
  RecordingTraceSink trace;
  test::FakePortIo port;
  test::FakeUsbDriver usb;
  Session session{clock, messages, port, usb, &trace, &rig.Ftdi(), &rig.Spidev()};
};

TEST(MpsseClock, DivisorIsTheFastestNotAboveTheLimit) {
  struct Case {
    uint32_t maxHz;
    uint16_t divisor;
    uint32_t clockHz;
    uint16_t stallBytes;  // 8-clock idle bytes covering 10 us
    std::string text;
  };
  const Case cases[] = {
      {2'000'000, 14, 2'000'000, 3, "2.0 MHz"},  // 60 MHz / (15 x 2); 20 clocks
      {1'999'999, 15, 1'875'000, 3, "1.8 MHz"},
      {1'000'000, 29, 1'000'000, 2, "1.0 MHz"},  // 10 clocks
      {100'000, 299, 100'000, 1, "0.1 MHz"},
      {30'000'000, 0, 30'000'000, 38, "30.0 MHz"},
      {400, 0xFFFF, 457, 1, "457 Hz"},  // the slowest the divisor reaches
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.maxHz);
    EXPECT_EQ(MpsseDivisor(c.maxHz), c.divisor);
    EXPECT_EQ(MpsseClockHz(c.divisor), c.clockHz);
    EXPECT_EQ(MpsseStallBytes(c.clockHz), c.stallBytes);
    EXPECT_EQ(ClockText(c.clockHz), c.text);
  }
}

TEST(MpssePacing, LineWatchAndPacedBurstBuffers) {
  struct Case {
    const char* what;
    std::vector<uint8_t> buffer;
    std::string bytes;
  };
  std::vector<uint8_t> high;
  std::vector<uint8_t> low;
  const uint16_t frames[] = {0x0400, 0x0000};  // a read of 0x04 and the frame clocking it in
  AppendPacedBurst(high, frames, 3, true, true);
  AppendPacedBurst(low, frames, 3, true, false);
  const Case cases[] = {
      {"three looks, two idle bytes apart", MpsseLineWatchBuffer(3, 2, true),
       "81 8F 01 00 81 8F 01 00 81 87"},
      {"the FT2232D spaces them with dummy bytes", MpsseLineWatchBuffer(3, 2, false),
       "81 10 01 00 00 00 81 10 01 00 00 00 81 87"},
      {"active high: wait low, then high",
       high,
       "89 88 80 01 0B 80 00 0B 31 01 00 04 00 80 08 0B 80 09 0B 8F 02 00 "
       "80 01 0B 80 00 0B 31 01 00 00 00 80 08 0B 80 09 0B 8F 02 00 87"},
      {"active low: wait high, then low",
       low,
       "88 89 80 01 0B 80 00 0B 31 01 00 04 00 80 08 0B 80 09 0B 8F 02 00 "
       "80 01 0B 80 00 0B 31 01 00 00 00 80 08 0B 80 09 0B 8F 02 00 87"},
  };
  for (const Case& c : cases) EXPECT_EQ(HexBytes(c.buffer), c.bytes) << c.what;
}

TEST(MpssePacing, TheQueueHoldsWhatTheChipsAnswerBufferHolds) {
  struct Case {
    size_t frames;
    bool hSeries;
    int queue;
  } const cases[] = {
      {13, true, 39},   // eleven channels: 26 answer bytes, 39 of them in 1 KB
      {13, false, 14},  // 384 / 26 on the FT2232D
      {64, true, 8},    // 1024 / 128
      {64, false, 3},   // 384 / 128
      {2, true, 64},    // at most 64
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PacedQueueLength(c.frames, c.hSeries), c.queue) << c.frames << " " << c.hSeries;
  }
}

TEST(MpssePacing, TheLineCountsAsDataReadyWhenItTogglesAtTheSampleRate) {
  struct Case {
    const char* what;
    std::vector<uint8_t> lowBytes;
    bool toggles;
  };
  const Case cases[] = {
      {"a third of a period apart: high, high, low", {0x2D, 0x2D, 0x0D, 0x2D, 0x2D, 0x0D,
                                                      0x2D, 0x2D, 0x0D, 0x2D, 0x2D, 0x0D},
       true},
      {"four changes at the least", {0x2D, 0x0D, 0x2D, 0x0D, 0x2D, 0x2D}, true},
      {"three changes", {0x2D, 0x0D, 0x2D, 0x0D, 0x0D, 0x0D}, false},
      {"held high (open, pulled up)", {0x2D, 0x2D, 0x2D, 0x2D, 0x2D, 0x2D}, false},
      {"held low", {0x0D, 0x0D, 0x0D, 0x0D, 0x0D, 0x0D}, false},
      {"other lines toggling do not count", {0x0D, 0x09, 0x0D, 0x09, 0x0D, 0x09}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(DataReadyToggles(c.lowBytes), c.toggles) << c.what;
}

TEST(SerialTiming, ChosenFromTheSamplePeriodRegister) {
  struct Case {
    int32_t smplPrd;
    uint32_t maxHz;
    uint32_t stall;
    std::string text;  // at the limit's clock
  };
  const Case cases[] = {
      {0x0000, 2'000'000, 10, "2.0 MHz, stall 10 us"},
      {0x0009, 2'000'000, 10, "2.0 MHz, stall 10 us"},
      {0x000A, 300'000, 75, "0.3 MHz, stall 75 us (low-power sampling)"},
      {0x0080, 300'000, 75, "0.3 MHz, stall 75 us (low-power sampling)"},  // Tb of 18.9 ms
      {0x0109, 2'000'000, 10, "2.0 MHz, stall 10 us"},  // SMPL_PRD keeps bits 0-7
  };
  for (const Case& c : cases) {
    const SerialTiming t = SerialTimingFor(c.smplPrd);
    EXPECT_EQ(t.maxHz, c.maxHz) << c.smplPrd;
    EXPECT_EQ(t.stallMicroseconds, c.stall) << c.smplPrd;
    EXPECT_EQ(SerialTimingText(t.maxHz, t.stallMicroseconds, t.lowPower), c.text);
  }
  EXPECT_TRUE(WritesSamplePeriod(0xB60A));   // low byte
  EXPECT_TRUE(WritesSamplePeriod(0xB700));   // high byte
  EXPECT_FALSE(WritesSamplePeriod(0x3600));  // a read
  EXPECT_FALSE(WritesSamplePeriod(0xB80A));  // SENS_AVG
}

TEST(FtdiDevice, TextsNameTheChannel) {
  const std::vector<FtdiChannel> channels = {
      {"FT232H", "FT5XYZ12", "Single RS232-HS", "1-4", 'A', 1},
      {"FT2232H", "FT6ABC34", "Dual RS232-HS", "1-5", 'A', 2},
      {"FT2232H", "FT6ABC34", "Dual RS232-HS", "1-5", 'B', 2},
      {"FT232H", "", "", "2-1.3", 'A', 1},
  };
  struct Case {
    std::string device;
    int index;
  };
  const Case cases[] = {{"", 0},          {"FT5XYZ12", 0}, {"FT6ABC34", 1}, {"FT6ABC34:B", 2},
                        {"FT6ABC34:b", 2}, {"1-5:B", 2},    {"2-1.3", 3},    {"FT6ABC34:C", -1},
                        {"FT5XYZ1", -1},   {"FT5XYZ12:", -1}};
  for (const Case& c : cases) EXPECT_EQ(FindFtdiChannel(channels, c.device), c.index) << c.device;
  EXPECT_EQ(FtdiDeviceText(channels[0]), "FT5XYZ12");
  EXPECT_EQ(FtdiDeviceText(channels[2]), "FT6ABC34:B");
  EXPECT_EQ(FtdiChannelName(channels[0]), "FTDI FT232H FT5XYZ12");
  EXPECT_EQ(FtdiChannelName(channels[3]), "FTDI FT232H 2-1.3");
}

// One frame as the transport clocks it: chip select falls with SK high, SK goes low, 16
// clocks out on the falling edge (and in on the rising one), chip select rises with SK low,
// SK returns high; then the stall, with chip select high.
std::string Frame(const char* shift, const char* frame, const char* stall) {
  return fmt::format("80 01 0B 80 00 0B {} 01 00 {} 80 08 0B 80 09 0B {}", shift, frame, stall);
}

TEST_F(TransportTest, FtdiSetUpReadsWritesAndBurstsAreOneBufferEach) {
  session.selection.InterfaceType = kInterfaceFtdi;
  session.ftdi.MaxClockHz = 1'000'000;
  ASSERT_TRUE(session.ftdi.Select("FT6ABC34:B"));
  // Set up at the low-power timing (300 kHz, a 75 us stall: 23 clocks, 3 idle bytes), which
  // the sensor takes in either mode; SMPL_PRD 1 then asks for 1 MHz and 10 us (2 idle bytes).
  EXPECT_EQ(FtdiTraffic(),
            (std::vector<std::string>{
                "> AA", "< FA AA", "> 8A 97 8D 86 63 00 80 09 0B 85",
                "> " + Frame("31", "36 00", "8F 02 00") + " " + Frame("31", "36 00", "8F 02 00") +
                    " 87",
                "< 00 00 00 01", "> 86 1D 00"}));
  EXPECT_EQ(rig.Ftdi().Engine(1, 'B').ClockHz(), 1'000'000u);
  EXPECT_EQ(session.ftdi.StallMicroseconds(), 10u);
  EXPECT_FALSE(session.ftdi.LowPowerTiming());
  EXPECT_EQ(trace.lines.back(), "ftdi timing: 1.0 MHz, stall 10 us");

  trace.lines.clear();
  session.access.ReadRegister(reg::ALM_MAG1);
  EXPECT_EQ(session.access.RawValue, 0x1234);
  const std::string read =
      "> " + Frame("31", "26 00", "8F 01 00") + " " + Frame("31", "26 00", "8F 01 00") + " 87";
  // The first frame clocks in what the last read at selection asked for: SMPL_PRD.
  EXPECT_EQ(FtdiTraffic(), (std::vector<std::string>{read, "< 00 01 12 34"}));
  EXPECT_EQ(trace.lines, (std::vector<std::string>{"ftdi " + read,
                                                   "ftdi < 00 01 12 34", "spi > 2600 < 0001",
                                                   "spi > 2600 < 1234"}));

  // MSC_CTRL 0x0104: 0xB501 then 0xB404, written without reading.
  session.access.WriteRegister(reg::MSC_CTRL, 0x0104);
  EXPECT_EQ(FtdiTraffic(), (std::vector<std::string>{"> " + Frame("11", "B5 01", "8F 01 00") +
                                                     " " + Frame("11", "B4 04", "8F 01 00")}));

  // 70 registers: 63 reads and a trailing frame per buffer, so two round trips.
  std::vector<int16_t> indexes(70, reg::ALM_MAG1);
  std::vector<RegisterReading> readings(70);
  ASSERT_TRUE(session.access.ReadRegisters(indexes, readings));
  const std::vector<std::string> burst = FtdiTraffic();
  ASSERT_EQ(burst.size(), 4u);
  EXPECT_EQ(burst[0].size(), 2 + (64 * 20 + 1) * 3 - 1);  // 64 frames of 20 bytes, then 87
  EXPECT_EQ(burst[1].size(), 2 + 64 * 6 - 1);  // 64 frames of two bytes
  EXPECT_EQ(burst[3].size(), 2 + 8 * 6 - 1);   // 7 + 1 frames
  for (const RegisterReading& r : readings) EXPECT_EQ(r.RawValue, 0x1234);
  EXPECT_TRUE(messages.messages.empty());
  EXPECT_EQ(rig.Ftdi().Engine(1, 'B').FramesOutsideLimits(), 0u);
  EXPECT_EQ(rig.Ftdi().Engine(1, 'B').BadCommands(), 1u);  // the echo check's AA alone
}

TEST_F(TransportTest, FtdiWriteOfTheSamplePeriodChangesClockAndStall) {
  session.selection.InterfaceType = kInterfaceFtdi;
  ASSERT_TRUE(session.ftdi.Select("FT5XYZ12"));
  FtdiTraffic();
  trace.lines.clear();
  // Into low-power sampling: the write goes at 300 kHz already, SMPL_PRD is read back.
  session.access.WriteRegister(reg::SMPL_PRD, 0x0A);
  EXPECT_EQ(FtdiTraffic(),
            (std::vector<std::string>{
                "> 86 63 00",
                "> " + Frame("11", "B7 00", "8F 02 00") + " " + Frame("11", "B6 0A", "8F 02 00"),
                "> " + Frame("31", "36 00", "8F 02 00") + " " + Frame("31", "36 00", "8F 02 00") +
                    " 87",
                "< 00 00 00 0A"}));
  EXPECT_EQ(session.ftdi.ClockHz(), 300'000u);
  EXPECT_EQ(session.ftdi.StallMicroseconds(), 75u);
  EXPECT_TRUE(session.ftdi.LowPowerTiming());
  EXPECT_EQ(trace.lines.at(1), "ftdi timing: 0.3 MHz, stall 75 us (low-power sampling)");
  // And back: the write still at 300 kHz, then 2 MHz and 10 us (20 clocks, 3 idle bytes).
  session.access.WriteRegister(reg::SMPL_PRD, 0x01);
  const std::vector<std::string> back = FtdiTraffic();
  ASSERT_EQ(back.size(), 4u);
  EXPECT_EQ(back[3], "> 86 0E 00");
  EXPECT_EQ(session.ftdi.StallMicroseconds(), 10u);
  session.access.ReadRegister(reg::ALM_MAG1);
  EXPECT_EQ(session.access.RawValue, 0x1234);
  EXPECT_EQ(FtdiTraffic().front(),
            "> " + Frame("31", "26 00", "8F 02 00") + " " + Frame("31", "26 00", "8F 02 00") +
                " 87");
  EXPECT_EQ(rig.Ftdi().Engine(0, 'A').FramesOutsideLimits(), 0u);
}

TEST_F(TransportTest, Ft2232dRunsFromItsTwelveMegahertzClockWithoutTheHSeriesCommands) {
  sim::RigOptions options = StillRig();
  options.ftdiBoards = {sim::FtdiBoardOptions{kFtdiProductFt2232h, "FT2232D1", "Dual RS232",
                                              "1-6", 0x0500}};
  sim::Rig d{clock, options};
  d.Sensor().PokeRegister(0x26, 0x1234);
  Session s{clock, messages, port, usb, &trace, &d.Ftdi(), nullptr};
  s.selection.InterfaceType = kInterfaceFtdi;
  ASSERT_TRUE(s.ftdi.Scan());
  ASSERT_EQ(s.ftdi.Channels.size(), 1u);  // channel A alone has the engine
  ASSERT_TRUE(s.ftdi.Select("FT2232D1"));
  std::vector<std::string> lines;
  for (const auto& t : d.Ftdi().Transfers()) lines.push_back((t.read ? "< " : "> ") + HexBytes(t.bytes));
  // 300 kHz is 12 MHz / ((1 + 19) x 2); stalls are three dummy bytes clocked with CS high.
  const std::string stall = "10 02 00 00 00 00";
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "> AA", "< FA AA", "> 86 13 00 80 09 0B 85",
                       "> " + Frame("31", "36 00", stall.c_str()) + " " +
                           Frame("31", "36 00", stall.c_str()) + " 87",
                       "< 00 00 00 01", "> 86 02 00"}));
  EXPECT_EQ(s.ftdi.ClockHz(), 2'000'000u);
  EXPECT_EQ(d.Ftdi().Engine(0, 'A').ClockHz(), 2'000'000u);
  s.access.ReadRegister(reg::ALM_MAG1);
  EXPECT_EQ(s.access.RawValue, 0x1234);
  EXPECT_EQ(d.Ftdi().Engine(0, 'A').BadCommands(), 1u);  // the echo check's AA alone
  EXPECT_EQ(FtdiChannelName(s.ftdi.SelectedChannel), "FTDI FT2232D FT2232D1");
  EXPECT_TRUE(messages.messages.empty());
}

TEST_F(TransportTest, LowPowerSamplingReadsOnEveryBitLevelAdapter) {
  // SMPL_PRD 0x0A written and then a burst of all outputs and a register read: each adapter
  // must meet 300 kHz and a 75 us stall, and again 2 MHz and 10 us once SMPL_PRD is 1.
  struct Case {
    int16_t interfaceType;
    uint32_t lowPowerHz;
  };
  for (const Case c : {Case{1, 0}, Case{kInterfaceFtdi, 300'000}, Case{kInterfaceSpidev, 300'000}}) {
    SCOPED_TRACE(c.interfaceType);
    TestClock freshClock;
    sim::Rig fresh{freshClock, StillRig()};
    fresh.Sensor().PokeRegister(0x26, 0x1234);
    RecordingMessageSink sink;
    Session s{freshClock, sink, fresh.Port(), usb, nullptr, &fresh.Ftdi(), &fresh.Spidev()};
    s.selection.InterfaceType = c.interfaceType;
    s.selection.PortAddress = 0x378;
    s.selection.DeviceType = 21420;
    if (c.interfaceType == kInterfaceFtdi) {
      ASSERT_TRUE(s.ftdi.Select(""));
    } else if (c.interfaceType == kInterfaceSpidev) {
      ASSERT_TRUE(s.spidev.Select(""));
    }
    const auto outside = [&] {
      return fresh.SimPort().FramesOutsideLimits() +
             fresh.Ftdi().Engine(0, 'A').FramesOutsideLimits() +
             fresh.Spidev().Node(0).FramesOutsideLimits();
    };
    const auto clockHz = [&] {
      return c.interfaceType == kInterfaceFtdi ? s.ftdi.ClockHz() : s.spidev.ClockHz();
    };
    for (const int16_t smplPrd : {int16_t{0x0A}, int16_t{0x01}}) {
      s.access.WriteRegister(reg::SMPL_PRD, smplPrd);
      EXPECT_EQ(fresh.Sensor().PeekRegister(0x36), smplPrd);
      if (c.interfaceType != 1) {
        EXPECT_EQ(clockHz(), smplPrd == 0x0A ? c.lowPowerHz : 2'000'000u);
      }
      const std::vector<int16_t> entries = {reg::ALM_MAG1, reg::SMPL_PRD, reg::ALM_MAG1};
      std::vector<RegisterReading> readings(entries.size());
      ASSERT_TRUE(s.access.ReadRegisters(entries, readings));
      EXPECT_EQ(readings[0].RawValue, 0x1234);
      EXPECT_EQ(readings[1].RawValue, smplPrd);
      EXPECT_EQ(readings[2].RawValue, 0x1234);
      s.access.ReadRegister(reg::ALM_MAG1);
      EXPECT_EQ(s.access.RawValue, 0x1234);
    }
    EXPECT_EQ(outside(), 0u);
    EXPECT_TRUE(sink.messages.empty());
  }
}

// A board whose engine answers the echo check with the bytes given.
class EchoOnlyFtdi final : public FtdiDriver {
 public:
  explicit EchoOnlyFtdi(std::vector<uint8_t> echo) : echo_(std::move(echo)) {}
  bool List(std::vector<FtdiChannel>& channels) override {
    channels = {{"FT232H", "FT5XYZ12", "Single RS232-HS", "1-4", 'A', 1}};
    return true;
  }
  Handle Open(const FtdiChannel&) override { return 1; }
  void Close(Handle) override {}
  bool Write(Handle, const uint8_t*, size_t) override { return true; }
  bool Read(Handle, uint8_t* data, size_t length) override {
    std::fill(data, data + length, 0);
    std::copy_n(echo_.begin(), std::min(length, echo_.size()), data);
    return true;
  }
  std::string LastError() const override { return {}; }

 private:
  std::vector<uint8_t> echo_;
};

TEST(FtdiEchoCheck, OnlyBadCommandAndTheBogusCommandBackAreInStep) {
  struct Case {
    std::vector<uint8_t> echo;
    std::string message;  // empty: selected
  };
  const Case cases[] = {
      {{0xFA, 0xAA}, ""},
      {{0xFA, 0x00},
       "Error Setting up SPI\r\nFTDI FT232H FT5XYZ12: the MPSSE engine answered FA 00 instead of "
       "FA AA"},
      {{0x00, 0xAA},
       "Error Setting up SPI\r\nFTDI FT232H FT5XYZ12: the MPSSE engine answered 00 AA instead of "
       "FA AA"},
  };
  for (const Case& c : cases) {
    TestClock clock;
    RecordingMessageSink sink;
    EchoOnlyFtdi driver(c.echo);
    FtdiSpi ftdi(&driver, sink);
    EXPECT_EQ(ftdi.Select(""), c.message.empty());
    if (c.message.empty()) {
      EXPECT_TRUE(sink.messages.empty());
    } else {
      ASSERT_EQ(sink.messages.size(), 1u);
      EXPECT_EQ(sink.messages[0].text, c.message);
    }
  }
}

TEST_F(TransportTest, AFailedSecondPassLeavesNoWordOfTheFirst) {
  // 70 registers take two passes; the second one's command buffer fails.
  session.selection.InterfaceType = kInterfaceFtdi;
  ASSERT_TRUE(session.ftdi.Select(""));
  rig.Ftdi().FailNthTransfer(3);  // the first pass's buffer and answers, then this
  std::vector<int16_t> addresses(70, 0x26);
  std::vector<int32_t> words(70, 7);
  EXPECT_FALSE(session.ftdi.ReadWords(addresses, words));
  EXPECT_EQ(words, std::vector<int32_t>(70, 0));
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0].text,
            "Error Reading SPI\r\nFTDI FT232H FT5XYZ12: usb bulk write failed (LIBUSB_ERROR_IO)");
}

TEST_F(TransportTest, SpidevBurstsKeepToThirtyTwoTransfersAMessage) {
  session.selection.InterfaceType = kInterfaceSpidev;
  ASSERT_TRUE(session.spidev.Select(""));
  const uint64_t before = rig.Spidev().Messages();
  // 70 registers: passes of 64 frames (63 reads and the trailing frame), each in messages of
  // at most 32 transfers: 32 + 32, then 8.
  std::vector<int16_t> indexes(70, reg::ALM_MAG1);
  std::vector<RegisterReading> readings(70);
  ASSERT_TRUE(session.access.ReadRegisters(indexes, readings));
  EXPECT_EQ(rig.Spidev().Messages() - before, 3u);
  for (const RegisterReading& r : readings) EXPECT_EQ(r.RawValue, 0x1234);
  // In low-power sampling each frame is a message of its own, 75 us after the last (the
  // 0.1 ms wait after a register write covers the first).
  session.access.WriteRegister(reg::SMPL_PRD, 0x0A);
  const uint64_t lowBefore = rig.Spidev().Messages();
  clock.ClearWaits();
  session.access.ReadRegister(reg::ALM_MAG1);
  EXPECT_EQ(session.access.RawValue, 0x1234);
  EXPECT_EQ(rig.Spidev().Messages() - lowBefore, 2u);
  EXPECT_EQ(clock.Waits(), (std::vector<Nanoseconds>{std::chrono::microseconds(75)}));
  EXPECT_EQ(rig.Spidev().Node(0).FramesOutsideLimits(), 0u);
  EXPECT_TRUE(messages.messages.empty());
}

TEST_F(TransportTest, FtdiFailureAtEachStepGivesOneMessageAndNoFurtherTraffic) {
  const std::string name = "FTDI FT232H FT5XYZ12";
  struct Case {
    const char* what;
    std::function<void(sim::SimulatedFtdiDriver&)> before;  // before Select
    std::function<void(sim::SimulatedFtdiDriver&)> after;   // after Select, before a read
    std::string message;
  };
  const Case cases[] = {
      {"open", [](auto& d) { d.FailOpen("unable to claim usb device"); }, nullptr,
       "Cannot open " + name + ": unable to claim usb device"},
      {"set-up", [](auto& d) { d.FailNthTransfer(2); }, nullptr,
       "Error Setting up SPI\r\n" + name + ": usb bulk read failed (LIBUSB_ERROR_IO)"},
      {"transfer", nullptr, [](auto& d) { d.FailNthTransfer(1); },
       "Error Reading SPI\r\n" + name + ": usb bulk write failed (LIBUSB_ERROR_IO)"},
      {"unplug", nullptr, [](auto& d) { d.UnplugAfter(1); },
       "Error Reading SPI\r\n" + name + ": usb bulk read failed (LIBUSB_ERROR_NO_DEVICE)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestClock freshClock;
    sim::Rig fresh{freshClock, StillRig()};
    RecordingMessageSink sink;
    Session s{freshClock, sink, port, usb, nullptr, &fresh.Ftdi(), &fresh.Spidev()};
    s.selection.InterfaceType = kInterfaceFtdi;
    if (c.before) c.before(fresh.Ftdi());
    const bool selected = s.ftdi.Select("");
    EXPECT_EQ(selected, c.before == nullptr);
    if (c.after) c.after(fresh.Ftdi());
    s.access.ReadRegister(reg::ALM_MAG1);
    const size_t transfers = fresh.Ftdi().Transfers().size();
    s.access.ReadRegister(reg::ALM_MAG1);
    s.access.WriteRegister(reg::XGYRO_OFF, 5);
    EXPECT_EQ(fresh.Ftdi().Transfers().size(), transfers);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, c.message);
    EXPECT_FALSE(InterfaceUsable(s));
    EXPECT_EQ(fresh.Ftdi().OpenHandles(), 0u);  // the channel was closed
  }
}

TEST_F(TransportTest, SpidevFailureAtEachStepGivesOneMessageAndNoFurtherTraffic) {
  struct Case {
    const char* what;
    std::function<void(sim::SimulatedSpidevDriver&)> before;
    std::function<void(sim::SimulatedSpidevDriver&)> after;
    std::string message;
  };
  const Case cases[] = {
      {"open", [](auto& d) { d.RefuseOpen("spi"); }, nullptr,
       "Cannot open /dev/spidev0.0: Permission denied; join group spi (the group of "
       "/dev/spidev0.0) and log in again"},
      {"transfer", nullptr, [](auto& d) { d.FailNthMessage(1); },
       "Error Reading SPI\r\nSPI /dev/spidev0.0: Input/output error"},
      {"node gone", nullptr, [](auto& d) { d.UnplugAfter(0); },
       "Error Reading SPI\r\nSPI /dev/spidev0.0: No such device"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestClock freshClock;
    sim::Rig fresh{freshClock, StillRig()};
    RecordingMessageSink sink;
    Session s{freshClock, sink, port, usb, nullptr, &fresh.Ftdi(), &fresh.Spidev()};
    s.selection.InterfaceType = kInterfaceSpidev;
    if (c.before) c.before(fresh.Spidev());
    EXPECT_EQ(s.spidev.Select(""), c.before == nullptr);
    if (c.after) c.after(fresh.Spidev());
    s.access.ReadRegister(reg::ALM_MAG1);
    const uint64_t sent = fresh.Spidev().Messages();
    s.access.ReadRegister(reg::ALM_MAG1);
    s.access.WriteRegister(reg::XGYRO_OFF, 5);
    EXPECT_EQ(fresh.Spidev().Messages(), sent);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, c.message);
    EXPECT_FALSE(InterfaceUsable(s));
    EXPECT_EQ(fresh.Spidev().OpenHandles(), 0u);
  }
}

TEST_F(TransportTest, SpidevFallsBackToBytePairsAndSaysSo) {
  sim::RigOptions options = StillRig();
  options.spidevNodes = {sim::SpidevNodeOptions{"/dev/spidev1.0", false}};
  sim::Rig eightBit{clock, options};
  eightBit.Sensor().PokeRegister(0x26, 0xBEEF);
  Session s{clock, messages, port, usb, &trace, nullptr, &eightBit.Spidev()};
  s.selection.InterfaceType = kInterfaceSpidev;
  s.spidev.MaxClockHz = 5'000'000;  // more than the sensor takes: held at 2 MHz
  ASSERT_TRUE(s.spidev.Select("/dev/spidev1.0"));
  EXPECT_EQ(s.spidev.BitsPerWord(), 8);
  EXPECT_EQ(eightBit.Spidev().Node(0).MaxSpeed(), 2'000'000u);
  EXPECT_EQ(trace.lines.front(), "spidev /dev/spidev1.0: mode 3, 8-bit words (byte pairs), 2.0 MHz");
  EXPECT_EQ(trace.lines.back(), "spidev timing: 2.0 MHz, stall 10 us");
  s.access.ReadRegister(reg::ALM_MAG1);
  EXPECT_EQ(s.access.RawValue, 0xBEEF);
  EXPECT_TRUE(messages.messages.empty());
}

}  // namespace
}  // namespace pemra
