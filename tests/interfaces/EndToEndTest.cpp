// Both transports under register access, wired to the simulated sensor: what one writes the
// other reads back, the exact port and adapter traffic, and the adapter's failures.

#include <gtest/gtest.h>

#include <functional>

#include "core/Clock.h"
#include "core/Message.h"
#include "interfaces/Session.h"
#include "sim/Rig.h"

namespace pemra {
namespace {

using Bytes = std::vector<uint8_t>;

// The data-register values of one frame on the port.
std::vector<uint8_t> FrameWrites(uint16_t frame) {
  std::vector<uint8_t> writes = {4, 5};
  for (int n = 15; n >= 0; --n) {
    const bool one = (frame >> n) & 1;
    for (uint8_t v : one ? Bytes{7, 3, 1, 5} : Bytes{7, 7, 5, 5}) writes.push_back(v);
  }
  writes.push_back(0);
  return writes;
}

class EndToEndTest : public ::testing::Test {
 protected:
  EndToEndTest() {
    session.selection.PortAddress = 0x378;
    session.selection.DeviceType = 21420;
  }
  void UseParallel() {
    session.selection.InterfaceType = 1;
    ASSERT_TRUE(session.parallel.EnablePortAccess());
    session.parallel.ParallelPortInit();
  }
  void UseUsb() {
    session.selection.InterfaceType = 2;
    session.adapters.FindAdapters();
    ASSERT_TRUE(session.adapters.UsbSelected);
    session.usbSpi.SetSpiBits(session.usbSpi.StaticBits);
    session.usbSpi.SetSpiDelay(session.usbSpi.UsbSpiDelay);
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& m : messages.messages) texts.push_back(m.text);
    return texts;
  }

  TestClock clock;
  sim::Rig rig{clock};
  RecordingMessageSink messages;
  RecordingTraceSink trace;
  Session session{clock, messages, rig.Port(), rig.Usb(), &trace};
};

TEST_F(EndToEndTest, WrittenThroughOneTransportReadBackThroughTheOther) {
  struct Case {
    int16_t index;
    int32_t value;
    int32_t rawBack;  // as read back: masked to the width and sign-converted
  };
  const std::vector<Case> cases = {
      {reg::XGYRO_OFF, 0x1FFF, -1},   {reg::YACCL_OFF, 0x0800, -2048},
      {reg::ALM_MAG1, 0xBEEF, 0xBEEF}, {reg::SMPL_PRD, 0x0005, 5},
      {reg::AUX_DAC, 0x0ABC, 0x0ABC},  {reg::ALM_SMPL2, 0x00FF, 0xFF},
  };
  for (const bool parallelWrites : {true, false}) {
    for (const auto& c : cases) {
      parallelWrites ? UseParallel() : UseUsb();
      session.access.WriteRegister(c.index, c.value);
      parallelWrites ? UseUsb() : UseParallel();
      session.access.ReadRegister(c.index);
      EXPECT_EQ(session.access.RawValue, c.rawBack)
          << (parallelWrites ? "port to adapter " : "adapter to port ") << c.index;
    }
  }
  EXPECT_TRUE(messages.messages.empty());
}

TEST_F(EndToEndTest, PortTrafficOfAWriteAndARead) {
  UseParallel();
  rig.SimPort().RecordAccesses(true);
  session.access.WriteRegister(reg::MSC_CTRL, 0x0104);
  std::vector<uint8_t> expected = FrameWrites(0xB501);
  for (uint8_t v : FrameWrites(0xB404)) expected.push_back(v);
  EXPECT_EQ(rig.SimPort().DataWrites(), expected);
  EXPECT_EQ(rig.Sensor().PeekRegister(0x34), 0x0104);

  rig.SimPort().ClearAccesses();
  session.access.ReadRegister(reg::MSC_CTRL);
  EXPECT_EQ(session.access.RawValue, 0x0104);
  // The read frame, then a frame of zeros whose DIN stays low (data bit 2 set) throughout.
  const auto writes = rig.SimPort().DataWrites();
  ASSERT_EQ(writes.size(), 67u + 35u);
  EXPECT_EQ(std::vector<uint8_t>(writes.begin(), writes.begin() + 67), FrameWrites(0x3400));
  for (size_t i = 67; i + 1 < writes.size(); ++i) EXPECT_TRUE(writes[i] & 0x04) << i;
  EXPECT_EQ(trace.lines.back(), "spi > 0000 < 0104");
}

TEST_F(EndToEndTest, AdapterMessagesOfAWriteAndARead) {
  UseUsb();
  auto& usb = rig.SimUsb();
  usb.ClearTransfers();
  session.access.WriteRegister(reg::COMMAND, command::FlashUpdate);
  ASSERT_EQ(usb.Transfers().size(), 2u);
  EXPECT_EQ(usb.Transfers()[0].bytes, (Bytes{0x0D, 0x01, 0x02, 0xBF, 0x00, 0xBE, 0x08}));
  EXPECT_EQ(usb.Transfers()[0].pipe, 0);
  EXPECT_TRUE(usb.Transfers()[1].in);
  EXPECT_EQ(usb.Transfers()[1].bytes.size(), 4u);

  clock.Advance(std::chrono::milliseconds(100));  // the flash update keeps the sensor busy
  usb.ClearTransfers();
  session.access.ReadRegister(reg::ENDURANCE);
  ASSERT_EQ(usb.Transfers().size(), 2u);
  EXPECT_EQ(usb.Transfers()[0].bytes, (Bytes{0x0D, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(usb.Transfers()[1].bytes[2], 0x00);  // second word: ENDURANCE = 1
  EXPECT_EQ(usb.Transfers()[1].bytes[3], 0x01);
  EXPECT_EQ(session.access.RawValue, 1);
  EXPECT_EQ(usb.OpenHandles(), 0u);
}

TEST_F(EndToEndTest, AdapterFailuresShowTheirMessageAndDeselect) {
  struct Case {
    const char* name;
    std::function<void(Session&)> operation;
    std::function<void(sim::SimulatedUsbDriver&)> fault;
    std::vector<std::string> expected;
  };
  const auto nth = [](uint64_t n) {
    return [n](sim::SimulatedUsbDriver& usb) { usb.FailNthTransfer(n); };
  };
  const auto failOpen = [](sim::SimulatedUsbDriver& usb) { usb.FailOpen(0); };
  const auto unplug = [](sim::SimulatedUsbDriver& usb) { usb.UnplugAfter(0); };
  const auto setup = [](Session& s) { s.usbSpi.ReadSpiSetup(); };
  const auto delay = [](Session& s) {
    uint8_t d = 12;
    s.usbSpi.SetSpiDelay(d);
  };
  const auto bits = [](Session& s) {
    uint8_t b = 0x08;
    s.usbSpi.SetSpiBits(b);
  };
  const auto read = [](Session& s) { s.access.ReadRegister(reg::SMPL_PRD); };
  const auto write = [](Session& s) { s.access.WriteRegister(reg::ALM_MAG1, 0x1234); };
  const std::vector<Case> cases = {
      {"setup command", setup, nth(1), {"Error Setting up SPI", "Error Reading SPI"}},
      {"setup reply", setup, nth(2), {"Error Reading SPI"}},
      {"delay", delay, nth(1), {"Error Setting up SPI"}},
      {"delay, open fails", delay, failOpen, {"Error Setting up SPI"}},
      {"bits", bits, nth(1), {"Error Setting SPI Bits"}},
      {"bits, unplugged", bits, unplug, {"Error Setting SPI Bits"}},
      {"read command", read, nth(1), {"Error Writing SPI"}},
      {"read reply", read, nth(2), {"Error Reading SPI"}},
      {"read, open fails", read, failOpen, {"Error Writing SPI"}},
      {"read, unplugged", read, unplug, {"Error Writing SPI"}},
      {"write reply", write, nth(2), {"Error Reading SPI"}},
  };
  for (const auto& c : cases) {
    TestClock clock;
    sim::Rig rig{clock};
    RecordingMessageSink messages;
    Session s{clock, messages, rig.Port(), rig.Usb()};
    s.selection.InterfaceType = 2;
    s.adapters.FindAdapters();
    ASSERT_TRUE(s.adapters.UsbSelected) << c.name;
    s.access.ReadRegister(reg::SENS_AVG);  // a good read first: 0x0402
    ASSERT_EQ(s.access.RawValue, 0x0402) << c.name;
    s.usbSpi.CselChannel = 4;

    c.fault(rig.SimUsb());
    c.operation(s);
    std::vector<std::string> texts;
    for (const auto& m : messages.messages) texts.push_back(m.text);
    EXPECT_EQ(texts, c.expected) << c.name;
    EXPECT_FALSE(s.adapters.UsbSelected) << c.name;
    EXPECT_EQ(rig.SimUsb().OpenHandles(), 0u) << c.name;
    // A failed exchange leaves the words it did not receive as they were.
    EXPECT_EQ(s.usbSpi.InWords[2], 0x0402) << c.name;

    // Deselected, with the adapter working again: a register read is like a read with no
    // interface (0, nothing sent), never the previous read's word.
    rig.SimUsb().Replug();
    rig.SimUsb().FailOpen(0, false);
    const uint64_t transfers = rig.SimUsb().TransferCount();
    s.access.ReadRegister(reg::XTEMP_OUT);
    EXPECT_EQ(s.access.RawValue, 0) << c.name;
    EXPECT_FLOAT_EQ(s.access.ScaledValue, 25.0f) << c.name;
    s.access.WriteRegister(reg::ALM_MAG2, 0x0101);
    EXPECT_EQ(rig.SimUsb().TransferCount(), transfers) << c.name;
    EXPECT_EQ(messages.messages.size(), c.expected.size()) << c.name;

    // A new search selects the adapter again.
    s.adapters.FindAdapters();
    EXPECT_TRUE(s.adapters.UsbSelected) << c.name;
  }
}

TEST_F(EndToEndTest, ReadWhoseExchangeFailsGivesZeroNotThePreviousWord) {
  UseUsb();
  session.access.ReadRegister(reg::SENS_AVG);
  ASSERT_EQ(session.access.RawValue, 0x0402);
  rig.SimUsb().FailNthTransfer(2);  // the reply of the next read
  session.usbSpi.CselChannel = 3;
  session.access.ReadRegister(reg::SENS_AVG);
  EXPECT_EQ(session.access.RawValue, 0);
  EXPECT_EQ(session.usbSpi.InWords[2], 0x0402);  // the exchange itself left the words alone
  EXPECT_EQ(session.usbSpi.CselChannel, 1);      // register traffic always uses channel 1
  EXPECT_EQ(Texts(), std::vector<std::string>{"Error Reading SPI"});
}

TEST_F(EndToEndTest, BoardInfoFailureDuringTheSearch) {
  rig.SimUsb().FailNthTransfer(1);  // the firmware-revision command
  session.adapters.FindAdapters();
  EXPECT_EQ(Texts(), (std::vector<std::string>{
                         "Error getting Board Info",
                         "No Valid USB Buffers Found, Please Verify Setup and Restart"}));
  EXPECT_EQ(session.adapters.AdapterCount, 1);
  EXPECT_FALSE(session.adapters.UsbSelected);
}

TEST_F(EndToEndTest, SimulatedAdapterBoardInformation) {
  sim::RigOptions options;
  options.adapters[0] = sim::AdapterOptions{};
  options.adapters[2] = sim::AdapterOptions{true, kProductMcp, false};
  sim::Rig fullSpeed{clock, options};
  Session s{clock, messages, fullSpeed.Port(), fullSpeed.Usb()};
  s.adapters.FindAdapters();
  EXPECT_EQ(s.adapters.SelectedAdapterIndex, 2);
  const AdapterSlot& slot = s.adapters.AdapterSlots[2];
  EXPECT_EQ(slot.BoardType, "MCP");
  EXPECT_EQ(slot.Descriptor1Text, "Tolvane");
  EXPECT_EQ(slot.Descriptor2Text, "USB SPI Buffer");
  EXPECT_FLOAT_EQ(slot.FirmwareRevision, 2.1f);
  EXPECT_EQ(slot.UsbSpeed, "1.1");
  EXPECT_EQ(s.usbSpi.UsbSpiDelay, 35);
}

}  // namespace
}  // namespace pemra
