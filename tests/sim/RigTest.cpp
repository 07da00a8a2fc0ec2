// The rig: one sensor behind both the port and the adapter, as --simulate wires it.

#include <gtest/gtest.h>

#include "sim/SimTestSupport.h"

namespace pemra::sim {
namespace {

using test::PortRead;
using test::PortWrite;
using Bytes = std::vector<uint8_t>;

// Register read and write as the USB transport does them: one two-word exchange each.
uint16_t UsbRead(UsbDriver& usb, uint8_t address) {
  const UsbDriver::Handle h = usb.Open("Ezusb-0");
  const uint8_t a = address & 0x7F;
  const Bytes m = {0x0D, 0x01, 0x02, a, 0x00, a, 0x00};
  size_t n = 0;
  uint8_t reply[4] = {0};
  EXPECT_TRUE(usb.BulkWrite(h, 0, m.data(), m.size(), n));
  EXPECT_TRUE(usb.BulkRead(h, 1, reply, 4, n));
  usb.Close(h);
  return uint16_t(reply[2] << 8 | reply[3]);
}

void UsbWrite(UsbDriver& usb, uint8_t address, uint16_t word) {
  const UsbDriver::Handle h = usb.Open("Ezusb-0");
  const Bytes m = {0x0D, 0x01, 0x02, uint8_t(0x80 | (address + 1)), uint8_t(word >> 8),
                   uint8_t(0x80 | address), uint8_t(word & 0xFF)};
  size_t n = 0;
  uint8_t reply[4];
  EXPECT_TRUE(usb.BulkWrite(h, 0, m.data(), m.size(), n));
  EXPECT_TRUE(usb.BulkRead(h, 1, reply, 4, n));
  usb.Close(h);
}

TEST(Rig, DefaultsAreWhatSimulateUses) {
  TestClock clock;
  Rig rig(clock);
  std::string device, reason;
  EXPECT_TRUE(rig.Port().EnableAccess(0x378, device, reason));
  EXPECT_EQ(rig.Sensor().Model(), 21420);
  EXPECT_DOUBLE_EQ(rig.Sensor().SupplyVolts(), 5.0);
  for (int slot = 0; slot < kAdapterSlots; ++slot) {
    const UsbDriver::Handle h = rig.Usb().Open("Ezusb-" + std::to_string(slot));
    EXPECT_EQ(h != UsbDriver::kNoHandle, slot == 0) << slot;
    if (h == UsbDriver::kNoHandle) continue;
    std::vector<UsbPipeInfo> pipes;
    ASSERT_TRUE(rig.Usb().GetPipeInfo(h, pipes));
    EXPECT_EQ(pipes[3].maxPacketSize, 512);
    rig.Usb().Close(h);
  }
}

TEST(Rig, RegisterWrittenThroughThePortReadsBackThroughTheAdapter) {
  struct Case {
    uint8_t address;
    uint16_t word;
    uint16_t readBack;
  };
  const Case cases[] = {{addr::AUX_DAC, 0x0ABC, 0x0ABC},
                        {addr::ZGYRO_OFF, 0xFFFF, 0x1FFF},
                        {addr::ALM_MAG2, 0x8555, 0x8555},
                        {addr::SENS_AVG, 0x0104, 0x0104}};
  TestClock clock;
  Rig rig(clock);
  for (const Case& c : cases) {
    PortWrite(rig.Port(), clock, 0x378, c.address, c.word);
    EXPECT_EQ(UsbRead(rig.Usb(), c.address), c.readBack) << std::hex << int(c.address);
    UsbWrite(rig.Usb(), c.address, 0);
    EXPECT_EQ(PortRead(rig.Port(), clock, 0x378, c.address), 0) << std::hex << int(c.address);
  }
}

TEST(Rig, LiveOutputsThroughEitherWiringShareOneSampleStream) {
  TestClock clock;
  RigOptions o;
  o.testPattern = true;
  Rig rig(clock, o);
  // Sample 81 at 819.2 samples/s (98.9 ms; 82 at 100.1 ms), through the port's stalls too.
  clock.Advance(std::chrono::milliseconds(99));
  EXPECT_EQ(UsbRead(rig.Usb(), addr::XGYRO_OUT), 0x8000 | 81);
  EXPECT_EQ(PortRead(rig.Port(), clock, 0x378, addr::XGYRO_OUT), 81) << "already read: no new data";
  EXPECT_EQ(PortRead(rig.Port(), clock, 0x378, addr::YGYRO_OUT), 0x8000 | 81);
}

}  // namespace
}  // namespace pemra::sim
