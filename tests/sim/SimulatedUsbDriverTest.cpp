// The simulated USB adapter: device files, descriptors, pipes, the firmware's byte messages,
// chip-select channels, polarity, low-power corruption and fault injection.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/SimTestSupport.h"

namespace pemra::sim {
namespace {

using test::QuietOptions;
using test::SpiWrite;
using Bytes = std::vector<uint8_t>;

class Adapter : public ::testing::Test {
 protected:
  explicit Adapter(RigOptions o = QuietOptions()) : rig_(clock_, o), usb_(rig_.SimUsb()) {}

  UsbDriver::Handle OpenSlot0() {
    const UsbDriver::Handle h = usb_.Open("Ezusb-0");
    EXPECT_NE(h, UsbDriver::kNoHandle) << usb_.LastError();
    return h;
  }
  bool Send(UsbDriver::Handle h, const Bytes& message) {
    size_t n = 0;
    return usb_.BulkWrite(h, 0, message.data(), message.size(), n) && n == message.size();
  }
  // Reads a reply of `length` bytes on pipe 1; empty on failure.
  std::optional<Bytes> Receive(UsbDriver::Handle h, size_t length) {
    Bytes b(length);
    size_t n = 0;
    if (!usb_.BulkRead(h, 1, b.data(), b.size(), n)) return std::nullopt;
    b.resize(n);
    return b;
  }
  std::optional<Bytes> Exchange(UsbDriver::Handle h, const Bytes& message, size_t replyLength) {
    if (!Send(h, message)) return std::nullopt;
    return Receive(h, replyLength);
  }

  TestClock clock_;
  Rig rig_;
  SimulatedUsbDriver& usb_;
};

TEST_F(Adapter, DescriptorsIdentifyTheBoard) {
  const UsbDriver::Handle h = OpenSlot0();
  std::array<uint8_t, 18> d{};
  ASSERT_TRUE(usb_.GetDeviceDescriptor(h, d));
  EXPECT_EQ(d[0], 18);
  EXPECT_EQ(d[8] | d[9] << 8, 0x5E1B);
  EXPECT_EQ(d[10] | d[11] << 8, 0xC4B5);

  std::vector<uint8_t> s;
  ASSERT_TRUE(usb_.GetStringDescriptor(h, 1, 4, s));
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[0], 2 + 2 * 7);
  ASSERT_TRUE(usb_.GetStringDescriptor(h, 1, s[0], s));
  std::string text;
  for (size_t i = 2; i + 1 < s.size(); i += 2) text += char(s[i]);
  EXPECT_EQ(text, "Tolvane");
  ASSERT_TRUE(usb_.GetStringDescriptor(h, 2, 255, s));
  text.clear();
  for (size_t i = 2; i + 1 < s.size(); i += 2) text += char(s[i]);
  EXPECT_EQ(text, "USB SPI Buffer");
  EXPECT_FALSE(usb_.GetStringDescriptor(h, 7, 255, s));
  usb_.Close(h);
  EXPECT_EQ(usb_.OpenHandles(), 0u);
}

TEST_F(Adapter, PipesAndSpeedPerSlot) {
  struct Case {
    int slot;
    uint16_t productId;
    bool highSpeed;
    uint16_t packet;
  };
  for (const Case& c : {Case{0, kProductFifo4, true, 512}, Case{1, kProductMcp, false, 64},
                        Case{3, 0x1234, true, 512}}) {
    usb_.SetAdapter(c.slot, AdapterOptions{true, c.productId, c.highSpeed});
    const std::string name = "Ezusb-" + std::to_string(c.slot);
    const UsbDriver::Handle h = usb_.Open(name);
    ASSERT_NE(h, UsbDriver::kNoHandle) << name;
    std::vector<UsbPipeInfo> pipes;
    ASSERT_TRUE(usb_.GetPipeInfo(h, pipes));
    ASSERT_EQ(pipes.size(), 4u);
    const uint8_t endpoints[] = {0x02, 0x86, 0x04, 0x88};
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(pipes[i].endpointAddress, endpoints[i]);
      EXPECT_EQ(pipes[i].maxPacketSize, c.packet) << name;
    }
    std::array<uint8_t, 18> d{};
    ASSERT_TRUE(usb_.GetDeviceDescriptor(h, d));
    EXPECT_EQ(d[10] | d[11] << 8, c.productId);
    usb_.Close(h);
  }
  EXPECT_EQ(usb_.Open("Ezusb-2"), UsbDriver::kNoHandle) << "empty slot";
  EXPECT_EQ(usb_.Open("Ezusb-4"), UsbDriver::kNoHandle);
  EXPECT_EQ(usb_.Open("ezusb-0"), UsbDriver::kNoHandle);
}

TEST_F(Adapter, AnswersTheByteMessagesOfTheProtocol) {
  const UsbDriver::Handle h = OpenSlot0();
  struct Case {
    Bytes message;
    std::optional<Bytes> reply;  // none: nothing is queued
  };
  const Case cases[] = {
      {{0x00}, Bytes{2, 1}},                      // firmware revision
      {{0x01}, Bytes{25, 0x78}},                  // delay and static bits at start
      {{0x0B, 0x0A}, std::nullopt},               // set delay 10
      {{0x0C, 0x55}, std::nullopt},               // set static bits
      {{0x01}, Bytes{0x0A, 0x55}},
      // Read SMPL_PRD: the second word brings the answer to the first.
      {{0x0D, 0x01, 0x02, 0x36, 0x00, 0x36, 0x00}, Bytes{0x00, 0x00, 0x00, 0x01}},
      // Write AUX_DAC = 0x0ABC (high byte first), then read it back.
      {{0x0D, 0x01, 0x02, 0xB1, 0x0A, 0xB0, 0xBC}, Bytes{0x00, 0x01, 0x00, 0x00}},
      {{0x0D, 0x01, 0x03, 0x30, 0x00, 0x38, 0x00, 0x00, 0x00}, Bytes{0, 0, 0x0A, 0xBC, 0x04, 0x02}},
      // Polarity "Neg": every word arrives shifted left with bit 0 set.
      {{0x0E, 0x01, 0x02, 0x36, 0x00, 0x36, 0x00}, Bytes{0x00, 0x01, 0x00, 0x03}},
      // Other chip-select channels have nothing on them.
      {{0x0D, 0x02, 0x02, 0x36, 0x00, 0x36, 0x00}, Bytes{0xFF, 0xFF, 0xFF, 0xFF}},
      {{0x0D, 0x05, 0x01, 0x36, 0x00}, Bytes{0xFF, 0xFF}},
      // Malformed or unknown: dropped.
      {{0x0D, 0x01, 0x02, 0x36, 0x00}, std::nullopt},
      {{0x00, 0x00}, std::nullopt},
      {{0x42}, std::nullopt},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Send(h, c.message));
    const std::optional<Bytes> got = Receive(h, 64);
    EXPECT_EQ(got, c.reply) << "message starting " << int(c.message[0]) << " length "
                            << c.message.size();
    if (!c.reply) {
      EXPECT_NE(usb_.LastError().find("timeout"), std::string::npos);
    }
  }
  usb_.Close(h);
}

TEST_F(Adapter, RecordsTheBytesOfEveryTransfer) {
  const UsbDriver::Handle h = OpenSlot0();
  usb_.ClearTransfers();
  ASSERT_TRUE(Exchange(h, {0x0D, 0x01, 0x02, 0x3E, 0x00, 0x3E, 0x00}, 4));
  ASSERT_EQ(usb_.Transfers().size(), 2u);
  const auto& out = usb_.Transfers()[0];
  EXPECT_FALSE(out.in);
  EXPECT_EQ(out.pipe, 0);
  EXPECT_EQ(out.slot, 0);
  EXPECT_EQ(out.bytes, (Bytes{0x0D, 0x01, 0x02, 0x3E, 0x00, 0x3E, 0x00}));
  const auto& in = usb_.Transfers()[1];
  EXPECT_TRUE(in.in);
  EXPECT_EQ(in.pipe, 1);
  EXPECT_EQ(in.bytes.size(), 4u);
  usb_.Close(h);
}

TEST_F(Adapter, WrongDirectionsAndShortBuffersFail) {
  const UsbDriver::Handle h = OpenSlot0();
  uint8_t b[4] = {0};
  size_t n = 99;
  EXPECT_FALSE(usb_.BulkWrite(h, 1, b, 1, n));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(usb_.BulkRead(h, 0, b, 4, n));
  EXPECT_FALSE(usb_.BulkRead(h, 3, b, 4, n)) << "pipe 3 never answers";
  EXPECT_FALSE(usb_.BulkWrite(h, 7, b, 1, n));
  EXPECT_TRUE(usb_.BulkWrite(h, 2, b, 1, n)) << "pipe 2 takes bytes and ignores them";
  ASSERT_TRUE(Send(h, {0x00}));
  EXPECT_FALSE(usb_.BulkRead(h, 1, b, 1, n)) << "two-byte reply, one-byte buffer";
  EXPECT_FALSE(usb_.BulkWrite(12345, 0, b, 1, n));
  EXPECT_NE(usb_.LastError().find("handle"), std::string::npos);
  usb_.Close(h);
}

TEST_F(Adapter, FaultInjection) {
  const UsbDriver::Handle h = OpenSlot0();
  // The 3rd transfer from now fails, the others go through.
  usb_.FailNthTransfer(3);
  EXPECT_TRUE(Exchange(h, {0x00}, 2));                // transfers 1, 2
  EXPECT_FALSE(Send(h, {0x00}));                      // 3
  EXPECT_FALSE(Receive(h, 2)) << "the failed message queued nothing";
  EXPECT_TRUE(Exchange(h, {0x00}, 2));
  // Unplugged after two more transfers: everything fails, opens too, until replugged.
  usb_.UnplugAfter(2);
  EXPECT_TRUE(Exchange(h, {0x01}, 2));
  EXPECT_FALSE(Send(h, {0x00}));
  std::array<uint8_t, 18> d{};
  EXPECT_FALSE(usb_.GetDeviceDescriptor(h, d));
  EXPECT_EQ(usb_.Open("Ezusb-0"), UsbDriver::kNoHandle);
  usb_.Replug();
  EXPECT_TRUE(Exchange(h, {0x00}, 2));
  usb_.Close(h);
  // A failing open.
  usb_.FailOpen(0);
  EXPECT_EQ(usb_.Open("Ezusb-0"), UsbDriver::kNoHandle);
  EXPECT_NE(usb_.LastError().find("Ezusb-0"), std::string::npos);
  usb_.FailOpen(0, false);
  EXPECT_NE(usb_.Open("Ezusb-0"), UsbDriver::kNoHandle);
}

TEST_F(Adapter, LowPowerSamplingCorruptsWhatTheAdapterReceivesOnly) {
  // SMPL_PRD above 9 through the port.
  test::PortWrite(rig_.Port(), clock_, 0x378, addr::SMPL_PRD, 0x000A);
  EXPECT_EQ(test::PortRead(rig_.Port(), clock_, 0x378, addr::SMPL_PRD), 0x000A);
  const UsbDriver::Handle h = OpenSlot0();
  const Bytes read = {0x0D, 0x01, 0x02, 0x38, 0x00, 0x38, 0x00};
  EXPECT_EQ(Exchange(h, read, 4), (Bytes{0, 0, 0x08, 0x04})) << "0x0402 shifted by one bit";
  // Writes still land: back to 9 over the adapter, and the words arrive whole again.
  ASSERT_TRUE(Exchange(h, {0x0D, 0x01, 0x02, 0xB7, 0x00, 0xB6, 0x09}, 4));
  EXPECT_EQ(Exchange(h, read, 4), (Bytes{0, 0, 0x04, 0x02}));
  EXPECT_EQ(test::PortRead(rig_.Port(), clock_, 0x378, addr::SMPL_PRD), 0x0009);
  usb_.Close(h);
}

TEST(AdapterTiming, TransfersCostServiceIntervalPlusSpiTime) {
  struct Case {
    bool highSpeed;
    int64_t microseconds;  // one two-word exchange and its reply
  };
  for (const Case& c : {Case{true, 125 + 2 * (8 + 25) + 125}, Case{false, 1000 + 2 * (8 + 25) + 1000}}) {
    TestClock clock;
    RigOptions o = QuietOptions();
    o.timingModel = true;
    o.adapters[0].highSpeed = c.highSpeed;
    Rig rig(clock, o);
    UsbDriver& usb = rig.Usb();
    const UsbDriver::Handle h = usb.Open("Ezusb-0");
    const Bytes m = {0x0D, 0x01, 0x02, 0x36, 0x00, 0x36, 0x00};
    size_t n = 0;
    uint8_t reply[4];
    ASSERT_TRUE(usb.BulkWrite(h, 0, m.data(), m.size(), n));
    ASSERT_TRUE(usb.BulkRead(h, 1, reply, 4, n));
    EXPECT_EQ(clock.Now(), std::chrono::microseconds(c.microseconds)) << c.highSpeed;
    usb.Close(h);
  }
}

}  // namespace
}  // namespace pemra::sim
