// LibftdiDriver through the real libftdi and libusb against FTDI boards emulated in umockdev's
// testbed (their bulk endpoints run an MPSSE engine wired to the simulated sensor), and
// LinuxSpidevDriver through real ioctls against an emulated spidev node.

#include <grp.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <memory>

#include "backends/BackendsSupport.h"
#include "core/RegisterTable.h"
#include "interfaces/Fakes.h"
#include "interfaces/LibftdiDriver.h"
#include "interfaces/LinuxSpidevDriver.h"
#include "interfaces/Session.h"

namespace pemra::test {
namespace {

const FtdiBoard kFt232h{kFtdiProductFt232h, "FT5XYZ12", "Single RS232-HS"};
const FtdiBoard kFt2232h{kFtdiProductFt2232h, "FT6ABC34", "Dual RS232-HS"};

// One frame as the FTDI transport clocks it (SK low inside chip select), then its stall.
std::string Frame(const char* shift, const char* frame) {
  return fmt::format("80 01 0B 80 00 0B {} 01 00 {} 80 08 0B 80 09 0B 8F 02 00", shift, frame);
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (uint8_t b : bytes) text += fmt::format("{}{:02X}", text.empty() ? "" : " ", b);
  return text;
}

class BackendTest : public ::testing::Test {
 protected:
  BackendTest() { Reset(); }
  EmulatedBench& Reset() {
    session.reset();
    ftdi.reset();
    spidev.reset();
    bench.reset();
    messages.messages.clear();
    return bench.emplace();
  }
  Session& Open() {
    ftdi = std::make_unique<LibftdiDriver>();
    spidev = std::make_unique<LinuxSpidevDriver>();
    session = std::make_unique<Session>(bench->SessionClock(), messages, port, usb, nullptr,
                                        ftdi.get(), spidev.get());
    return *session;
  }
  // The bulk URBs of an adapter since `from`, as "> bytes" and "< bytes".
  std::vector<std::string> UrbsSince(int adapter, size_t from) {
    std::vector<std::string> lines;
    const std::vector<UrbRecord> urbs = bench->Urbs(adapter);
    for (size_t i = from; i < urbs.size(); ++i) {
      lines.push_back(((urbs[i].endpoint & 0x80) ? "< " : "> ") + HexBytes(urbs[i].bytes));
    }
    return lines;
  }

  std::optional<EmulatedBench> bench;
  RecordingMessageSink messages;
  FakePortIo port;
  FakeUsbDriver usb;
  std::unique_ptr<LibftdiDriver> ftdi;
  std::unique_ptr<LinuxSpidevDriver> spidev;
  std::unique_ptr<Session> session;
};

TEST_F(BackendTest, LibftdiListsTheMpsseChannelsAndTalksMpsseToTheChosenOne) {
  const int dual = bench->AddFtdi(1, 5, kFt2232h);
  bench->AddFtdi(1, 3, kFt232h);
  {
    const auto lock = bench->Lock();
    bench->Rig().Sensor().PokeRegister(0x26, 0x1234);
  }
  Session& s = Open();
  ASSERT_TRUE(s.ftdi.Scan());
  const std::vector<FtdiChannel> expected = {
      {"FT232H", "FT5XYZ12", "Single RS232-HS", "1-3", 'A', 1},
      {"FT2232H", "FT6ABC34", "Dual RS232-HS", "1-5", 'A', 2},
      {"FT2232H", "FT6ABC34", "Dual RS232-HS", "1-5", 'B', 2},
  };
  EXPECT_EQ(s.ftdi.Channels, expected);

  s.selection.InterfaceType = kInterfaceFtdi;
  ASSERT_TRUE(s.ftdi.Select("FT6ABC34:B")) << ::testing::PrintToString(Texts(messages));
  // Channel B (index 2): latency 1 ms, bit mode reset, then MPSSE.
  EXPECT_THAT(bench->FtdiRequests(dual),
              ::testing::IsSupersetOf({FtdiRequest{0x09, 1, 2}, FtdiRequest{0x0B, 0x0000, 2},
                                       FtdiRequest{0x0B, 0x0200, 2}}));
  EXPECT_EQ(bench->FtdiEngine(dual, 'B').ClockHz(), 2'000'000u);

  // A read is one command buffer out and one packet in (status bytes 32 60 first).
  size_t from = bench->Urbs(dual).size();
  s.access.ReadRegister(reg::ALM_MAG1);
  EXPECT_EQ(s.access.RawValue, 0x1234);
  EXPECT_EQ(UrbsSince(dual, from),
            (std::vector<std::string>{
                "> " + Frame("31", "26 00") + " " + Frame("31", "26 00") + " 87",
                "< 32 60 00 01 12 34"}));  // the first frame brings SMPL_PRD, read at selection
  // A write is one buffer out and nothing in.
  from = bench->Urbs(dual).size();
  s.access.WriteRegister(reg::XGYRO_OFF, 0x1ABC);
  EXPECT_EQ(UrbsSince(dual, from),
            (std::vector<std::string>{"> " + Frame("11", "9B 1A") + " " + Frame("11", "9A BC")}));
  // A burst of three registers is four frames in one round trip.
  from = bench->Urbs(dual).size();
  const int16_t burst[] = {reg::XGYRO_OFF, reg::ALM_MAG1, reg::XGYRO_OFF};
  std::vector<RegisterReading> readings(3);
  ASSERT_TRUE(s.access.ReadRegisters(burst, readings));
  EXPECT_EQ(readings[0].RawValue, -1348);  // 0x1ABC as 13 bits: 0x1ABC - 0x2000
  EXPECT_EQ(readings[1].RawValue, 0x1234);
  EXPECT_EQ(UrbsSince(dual, from).size(), 2u);
  EXPECT_EQ(UrbsSince(dual, from).back(), "< 32 60 00 00 1A BC 12 34 1A BC");
  EXPECT_TRUE(messages.messages.empty()) << ::testing::PrintToString(Texts(messages));
  const auto lock = bench->Lock();
  EXPECT_EQ(bench->Rig().Sensor().PeekRegister(0x1A), 0x1ABC);
}

TEST_F(BackendTest, FtdiFailuresGiveOneMessageAndStopTheTraffic) {
  const struct group* plugdev = getgrnam("plugdev");
  const std::string name = "FTDI FT232H FT5XYZ12";
  struct Case {
    const char* what;
    // Done to the bench before Select (`selectFails`) or after it, before a read.
    void (*fault)(EmulatedBench&, int, gid_t);
    bool selectFails;
    std::string message;
  };
  const Case cases[] = {
      {"claimed by another program",
       [](EmulatedBench& b, int a, gid_t) { b.RefuseClaim(a); }, true,
       "Cannot open " + name +
           ": unable to claim usb device. Make sure the default FTDI driver is not in use"},
      // Its strings cannot be read either: the board is named by its position.
      {"no permission",
       [](EmulatedBench& b, int a, gid_t g) { TakeNodeAway(b, b.DevNode(a), g); }, true,
       "Cannot open FTDI FT232H 1-3"
           ": libusb_open() failed (LIBUSB_ERROR_ACCESS): no permission to open it; join group " +
           std::string(plugdev ? "plugdev" : "46") +
           " (the group of /dev/bus/usb/001/004) and log in again"},
      {"engine silent at set-up", [](EmulatedBench& b, int a, gid_t) { b.WithholdReplies(a); },
       true, "Error Setting up SPI\r\n" + name + ": usb bulk read failed (LIBUSB_ERROR_TIMEOUT)"},
      {"unplugged", [](EmulatedBench& b, int a, gid_t) { b.Unplug(a); }, false,
       "Error Reading SPI\r\n" + name + ": usb bulk write failed (LIBUSB_ERROR_NO_DEVICE)"},
      {"pulled out between buffer and answer",
       [](EmulatedBench& b, int a, gid_t) { b.FailAfterUrbs(a, 1); }, false,
       "Error Reading SPI\r\n" + name + ": usb bulk read failed (LIBUSB_ERROR_NO_DEVICE)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EmulatedBench& fresh = Reset();
    const int board = fresh.AddFtdi(1, 3, kFt232h);
    Session& s = Open();
    s.selection.InterfaceType = kInterfaceFtdi;
    const WithoutFileOverride notRoot;
    if (c.selectFails) c.fault(fresh, board, plugdev ? plugdev->gr_gid : 46);
    const bool selected = s.ftdi.Select("");
    EXPECT_EQ(selected, !c.selectFails);
    if (!c.selectFails) {
      EXPECT_TRUE(messages.messages.empty()) << ::testing::PrintToString(Texts(messages));
      c.fault(fresh, board, 0);
      s.access.ReadRegister(reg::ALM_MAG1);
    }
    const size_t urbs = fresh.Urbs(board).size();
    s.access.ReadRegister(reg::ALM_MAG1);  // deselected: nothing is sent, nothing shown
    EXPECT_EQ(Texts(messages), std::vector<std::string>{c.message});
    EXPECT_FALSE(s.ftdi.FtdiSelected);
    EXPECT_FALSE(InterfaceUsable(s));
    EXPECT_EQ(s.access.RawValue, 0);
    EXPECT_EQ(fresh.Urbs(board).size(), urbs);
  }
}

TEST_F(BackendTest, CliTalksToTheBoardThroughLibftdi) {
  bench->AddFtdi(1, 3, kFt232h);
  {
    const auto lock = bench->Lock();
    bench->Rig().Sensor().PokeRegister(0x26, 0x0ABC);
  }
  ftdi = std::make_unique<LibftdiDriver>();
  cli::Environment env = CliEnvironment();
  env.clock = &bench->SessionClock();
  env.ftdiDriver = ftdi.get();
  env.portIo = &port;
  env.usbDriver = &usb;
  const CliResult scan = RunCli({"scan"}, env);
  EXPECT_THAT(scan.out, ::testing::HasSubstr("FTDI\tFT232H\tFT5XYZ12\tSingle RS232-HS\t1-3\n"));
  const CliResult read = RunCli(
      {"--interface", "ftdi", "--device", "FT5XYZ12", "--model", "21420", "--trace", "read",
       "ALM_MAG1"},
      env);
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(read.out.substr(0, 14), "ALM_MAG1\t0ABC\t");
  EXPECT_THAT(read.err, ::testing::HasSubstr("ftdi > 80 01 0B 80 00 0B 31 01 00 26 00"));
  EXPECT_THAT(read.err, ::testing::HasSubstr("ftdi timing: 2.0 MHz, stall 10 us\n"));
  EXPECT_THAT(read.err, ::testing::HasSubstr("spi > 2600 < 0ABC"));
}

TEST_F(BackendTest, SpidevSetsModeWordsAndClockAndSendsAFramePerTransfer) {
  struct Case {
    bool sixteenBitWords;
    std::vector<std::string> setup;
    std::vector<uint8_t> writeTx;  // the bytes of the write of 0x1ABC to XGYRO_OFF
  };
  const Case cases[] = {
      {true,
       {"WR_MODE 3", "RD_MODE", "WR_BITS_PER_WORD 16", "RD_BITS_PER_WORD",
        "WR_MAX_SPEED_HZ 2000000", "RD_MAX_SPEED_HZ"},
       {0x1A, 0x9B, 0xBC, 0x9A}},  // 16-bit words in the machine's (little-endian) order
      {false,
       {"WR_MODE 3", "RD_MODE", "WR_BITS_PER_WORD 16", "WR_BITS_PER_WORD 8", "RD_BITS_PER_WORD",
        "WR_MAX_SPEED_HZ 2000000", "RD_MAX_SPEED_HZ"},
       {0x9B, 0x1A, 0x9A, 0xBC}},  // byte pairs, high byte first
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sixteenBitWords);
    EmulatedBench& fresh = Reset();
    fresh.AddSpidev("spidev0.0", c.sixteenBitWords);
    {
      const auto lock = fresh.Lock();
      fresh.Rig().Sensor().PokeRegister(0x26, 0x1234);
    }
    Session& s = Open();
    s.selection.InterfaceType = kInterfaceSpidev;
    ASSERT_TRUE(s.spidev.Select("")) << ::testing::PrintToString(Texts(messages));
    EXPECT_EQ(s.spidev.SelectedDevice, "/dev/spidev0.0");
    EXPECT_EQ(fresh.SpidevRequests(), c.setup);
    EXPECT_EQ(s.spidev.BitsPerWord(), c.sixteenBitWords ? 16 : 8);

    s.access.ReadRegister(reg::ALM_MAG1);
    EXPECT_EQ(s.access.RawValue, 0x1234);
    s.access.WriteRegister(reg::XGYRO_OFF, 0x1ABC);
    const int16_t burst[] = {reg::XGYRO_OFF, reg::ALM_MAG1};
    std::vector<RegisterReading> readings(2);
    ASSERT_TRUE(s.access.ReadRegisters(burst, readings));
    EXPECT_EQ(readings[1].RawValue, 0x1234);

    // SMPL_PRD at selection, one frame a message at the low-power timing; then the read, the
    // write and the burst, one message each at 2 MHz. Between frames the SPI core's cs_change
    // release is the stall.
    const std::vector<SpidevMessage> sent = fresh.SpidevMessages();
    ASSERT_EQ(sent.size(), 5u);
    EXPECT_EQ(sent[4].transfers.size(), 3u);
    for (size_t k = 0; k < sent.size(); ++k) {
      const SpidevMessage& m = sent[k];
      EXPECT_EQ(m.mode, 3);
      EXPECT_EQ(m.speed, 2'000'000u);
      for (size_t i = 0; i < m.transfers.size(); ++i) {
        const spi_ioc_transfer& t = m.transfers[i];
        const bool last = i + 1 == m.transfers.size();
        EXPECT_EQ(t.len, 2u);
        EXPECT_EQ(t.speed_hz, k < 2 ? 300'000u : 2'000'000u);
        EXPECT_EQ(t.cs_change, last ? 0 : 1);
        EXPECT_EQ(t.delay_usecs, 0);
      }
    }
    EXPECT_EQ(sent[3].tx, c.writeTx);
    const auto lock = fresh.Lock();
    EXPECT_EQ(fresh.Rig().Sensor().PeekRegister(0x1A), 0x1ABC);
  }
}

TEST_F(BackendTest, SpidevFailuresNameTheNodeAndStopTheTraffic) {
  const struct group* plugdev = getgrnam("plugdev");
  const std::string group = plugdev ? "plugdev" : "46";
  // No permission: the message names the node and the group to join.
  bench->AddSpidev("spidev0.0");
  TakeNodeAway(*bench, "/dev/spidev0.0", plugdev ? plugdev->gr_gid : 46);
  Session& s = Open();
  s.selection.InterfaceType = kInterfaceSpidev;
  {
    const WithoutFileOverride notRoot;
    EXPECT_FALSE(s.spidev.Select(""));
  }
  EXPECT_EQ(Texts(messages),
            std::vector<std::string>{"Cannot open /dev/spidev0.0: Permission denied; join group " +
                                     group + " (the group of /dev/spidev0.0) and log in again"});

  // The node gone mid-run: one message, then nothing is sent.
  EmulatedBench& fresh = Reset();
  fresh.AddSpidev("spidev0.0");
  Session& t = Open();
  t.selection.InterfaceType = kInterfaceSpidev;
  ASSERT_TRUE(t.spidev.Select("/dev/spidev0.0"));
  const size_t atSelection = fresh.SpidevMessages().size();  // SMPL_PRD, read at selection
  fresh.FailSpidevAfter(0);
  t.access.ReadRegister(reg::ALM_MAG1);
  t.access.ReadRegister(reg::ALM_MAG1);
  EXPECT_EQ(Texts(messages),
            std::vector<std::string>{"Error Reading SPI\r\nSPI /dev/spidev0.0: No such device"});
  EXPECT_FALSE(InterfaceUsable(t));
  EXPECT_EQ(fresh.SpidevMessages().size(), atSelection);
}

TEST_F(BackendTest, SpidevReadBackIsJudgedAsTheKernelReportsIt) {
  struct Case {
    const char* what;
    uint8_t extraModeBits;
    uint32_t speedHz;
    std::string message;  // empty: selected
  };
  const Case cases[] = {
      {"mode 3 with SPI_CS_HIGH reported (a GPIO chip select)", 0x04, 0, ""},
      {"a slower clock than asked", 0, 1'000'000, ""},
      {"a faster clock than asked", 0, 2'000'001,
       "Error Setting up SPI\r\nSPI /dev/spidev0.0: 2.0 MHz: the controller keeps 2000001 Hz"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EmulatedBench& fresh = Reset();
    fresh.AddSpidev("spidev0.0");
    fresh.SpidevReadsBack(c.extraModeBits, c.speedHz);
    Session& s = Open();
    s.selection.InterfaceType = kInterfaceSpidev;
    EXPECT_EQ(s.spidev.Select(""), c.message.empty());
    EXPECT_EQ(Texts(messages),
              c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message});
  }
}

TEST_F(BackendTest, SpidevNodesAreListedByBusThenChipSelect) {
  bench->AddSpidev("spidev1.0");
  for (const char* name : {"spidev10.0", "spidev0.1", "spidev2.0"}) bench->ListSpidev(name);
  Session& s = Open();
  ASSERT_TRUE(s.spidev.Scan());
  EXPECT_EQ(s.spidev.Devices, (std::vector<std::string>{"/dev/spidev0.1", "/dev/spidev1.0",
                                                        "/dev/spidev2.0", "/dev/spidev10.0"}));
}

}  // namespace
}  // namespace pemra::test
