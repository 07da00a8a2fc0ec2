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

TEST_F(TransportTest, FtdiSetUpReadsWritesAndBurstsAreOneBufferEach) {
  session.selection.InterfaceType = kInterfaceFtdi;
  session.ftdi.MaxClockHz = 1'000'000;
  ASSERT_TRUE(session.ftdi.Select("FT6ABC34:B"));
  EXPECT_EQ(FtdiTraffic(), (std::vector<std::string>{"> AA", "< FA AA",
                                                      "> 8A 97 8D 86 1D 00 80 09 0B 85"}));
  EXPECT_EQ(rig.Ftdi().Engine(1, 'B').ClockHz(), 1'000'000u);

  trace.lines.clear();
  session.access.ReadRegister(reg::ALM_MAG1);
  EXPECT_EQ(session.access.RawValue, 0x1234);
  const std::string read =
      "> 80 01 0B 31 01 00 26 00 80 09 0B 8F 01 00 80 01 0B 31 01 00 26 00 80 09 0B 87";
  EXPECT_EQ(FtdiTraffic(), (std::vector<std::string>{read, "< 00 00 12 34"}));
  EXPECT_EQ(trace.lines, (std::vector<std::string>{"ftdi " + read,
                                                   "ftdi < 00 00 12 34", "spi > 2600 < 0000",
                                                   "spi > 2600 < 1234"}));

  // MSC_CTRL 0x0104: 0xB501 then 0xB404, written without reading.
  session.access.WriteRegister(reg::MSC_CTRL, 0x0104);
  EXPECT_EQ(FtdiTraffic(),
            (std::vector<std::string>{"> 80 01 0B 11 01 00 B5 01 80 09 0B 8F 01 00 "
                                      "80 01 0B 11 01 00 B4 04 80 09 0B"}));

  // 70 registers: 63 reads and a trailing frame per buffer, so two round trips.
  std::vector<int16_t> indexes(70, reg::ALM_MAG1);
  std::vector<RegisterReading> readings(70);
  ASSERT_TRUE(session.access.ReadRegisters(indexes, readings));
  const std::vector<std::string> burst = FtdiTraffic();
  ASSERT_EQ(burst.size(), 4u);
  EXPECT_EQ(burst[1].size(), 2 + 64 * 6 - 1);  // 64 frames of two bytes
  EXPECT_EQ(burst[3].size(), 2 + 8 * 6 - 1);   // 7 + 1 frames
  for (const RegisterReading& r : readings) EXPECT_EQ(r.RawValue, 0x1234);
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
       "/dev/spidev0.0)"},
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
  s.access.ReadRegister(reg::ALM_MAG1);
  EXPECT_EQ(s.access.RawValue, 0xBEEF);
  EXPECT_TRUE(messages.messages.empty());
}

}  // namespace
}  // namespace pemra
