#include <gtest/gtest.h>

#include "RecordingTransport.h"
#include "core/DeviceModel.h"
#include "core/RegisterAccess.h"

namespace pemra {
namespace {

using test::RecordingTransport;

class RegisterAccessTest : public ::testing::Test {
 protected:
  RegisterAccessTest() {
    InitRegisterTable(table);
    selection.InterfaceType = 2;
    access.SetParallelTransport(&parallel);
    access.SetUsbTransport(&usb);
  }

  RegisterTable table;
  Selection selection;
  TestClock clock;
  RecordingTransport parallel;
  RecordingTransport usb;
  RegisterAccess access{table, selection, clock};
};

TEST_F(RegisterAccessTest, ReadRegisterConvertsWords) {
  struct Case {
    int16_t index;
    int32_t word;
    int32_t raw;
    float scaled;
    int32_t newData;
  };
  const Case cases[] = {
      {reg::XGYRO_OUT, 0xBFFF, -1, -0.07326f, 32768},   // 14-bit 0x3FFF is -1
      {reg::XGYRO_OUT, 0x2000, -8192, static_cast<float>(-8192 * double{0.07326f}), 0},
      {reg::XGYRO_OUT, 0x1FFF, 8191, static_cast<float>(8191 * double{0.07326f}), 0},
      {reg::XGYRO_OUT, 0x4001, 1, 0.07326f, 0},          // bit 14 is not data
      {reg::XTEMP_OUT, 0x8000, 0, 25.0f, 32768},
      {reg::XTEMP_OUT, 0x8FFF, -1, static_cast<float>(25.0 - double{0.1453f}), 32768},
      // Raw x scale + offset rounded once: rounding the product to a float first would
      // give -253.976013 instead.
      {reg::XTEMP_OUT, 0x0880, -1920, -253.975998f, 0},
      {reg::AUX_ADC, 0x0FFF, 4095, static_cast<float>(4095 * double{0.0006105f}), 0},
      {reg::XGYRO_OFF, 0x1000, -4096, static_cast<float>(-4096 * double{0.018315f}), 0},
      {reg::XACCL_OFF, 0x0800, -2048, static_cast<float>(-2048 * double{0.002543235f}), 0},
      {reg::ENDURANCE, 0xFFFF, 65535, 65535.0f, 0},
      {reg::STATUS, 0x8001, 32769, 32769.0f, 0},
      {reg::ALM_SMPL1, 0xABCD, 0xCD, 205.0f, 0},         // 8-bit unsigned
      {reg::GPIO_CTRL, 0xFFFF, 0x3FF, 1023.0f, 0},       // 10-bit unsigned
      {reg::MSC_CTRL, 0x0104, 0x104, 260.0f, 0},
      {reg::SENS_AVG, 0xFFFF, 0x7FF, 2047.0f, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(table[c.index].RegName + " word " + std::to_string(c.word));
    usb.SetWord(table[c.index].RegAddress, c.word);
    access.NewDataFlag = 0;
    usb.reads.clear();
    access.ReadRegister(c.index);
    EXPECT_EQ(usb.reads, std::vector<int16_t>{static_cast<int16_t>(table[c.index].RegAddress)});
    EXPECT_EQ(access.RawValue, c.raw);
    EXPECT_EQ(access.ScaledValue, c.scaled);
    EXPECT_EQ(access.NewDataFlag, c.newData);
  }
}

TEST_F(RegisterAccessTest, SupplyOfThePrimaryModelUsesTwelveBits) {
  ChartRanges ranges;
  RecordingMessageSink messages;
  SetDevice(21420, selection, access, ranges, messages);
  usb.SetWord(2, 0x8FFF);
  access.ReadRegister(reg::SUPPLY_OUT);
  EXPECT_EQ(access.RawValue, 4095);
  EXPECT_EQ(access.ScaledValue, static_cast<float>(4095 * double{0.0018315f}));
  EXPECT_NEAR(access.ScaledValue, 7.49999, 1e-5);
  EXPECT_EQ(access.NewDataFlag, 32768);
}

TEST_F(RegisterAccessTest, SignConversionAtEveryWidth) {
  for (int16_t width = 8; width <= 16; ++width) {
    RegisterEntry entry;
    entry.RegWidth = width;
    entry.RegSigned = true;
    const int32_t top = 1 << (width - 1);
    SCOPED_TRACE("width " + std::to_string(width));
    EXPECT_EQ(ConvertRaw(entry, 0), 0);
    EXPECT_EQ(ConvertRaw(entry, top - 1), top - 1);        // largest positive
    EXPECT_EQ(ConvertRaw(entry, top), -top);               // most negative
    EXPECT_EQ(ConvertRaw(entry, 2 * top - 1), -1);         // all data bits set
    EXPECT_EQ(ConvertRaw(entry, 0xFFFF), -1);              // bits above the width ignored
    EXPECT_EQ(ConvertRaw(entry, 0x8000 | 5), width == 16 ? -32768 + 5 : 5);
    entry.RegSigned = false;
    EXPECT_EQ(ConvertRaw(entry, 0xFFFF), 2 * top - 1);
    EXPECT_EQ(ConvertRaw(entry, top), top);
  }
}

TEST_F(RegisterAccessTest, UnreadableEntriesSendNothingAndKeepResults) {
  usb.SetWord(table[reg::XTEMP_OUT].RegAddress, 0x8001);
  access.ReadRegister(reg::XTEMP_OUT);
  const int32_t raw = access.RawValue;
  const float scaled = access.ScaledValue;
  usb.reads.clear();
  for (int16_t index : {int16_t{12}, int16_t{31}, int16_t{32}, int16_t{200}, int16_t{296},
                        int16_t{297}, int16_t{-1}, int16_t{-32768}, int16_t{32767}}) {
    access.ReadRegister(index);
    EXPECT_EQ(access.RawValue, raw) << index;
    EXPECT_EQ(access.ScaledValue, scaled) << index;
    EXPECT_EQ(access.NewDataFlag, 32768) << index;
  }
  EXPECT_TRUE(usb.reads.empty());
  EXPECT_TRUE(parallel.reads.empty());
}

TEST_F(RegisterAccessTest, RegistersWithoutNewDataKeepTheFlag) {
  usb.SetWord(table[reg::XGYRO_OUT].RegAddress, 0x8000);
  usb.SetWord(table[reg::STATUS].RegAddress, 0x0000);
  access.ReadRegister(reg::XGYRO_OUT);
  access.ReadRegister(reg::STATUS);
  EXPECT_EQ(access.NewDataFlag, 32768);
  usb.SetWord(table[reg::XGYRO_OUT].RegAddress, 0x0000);
  usb.SetWord(table[reg::STATUS].RegAddress, 0x8000);
  access.ReadRegister(reg::XGYRO_OUT);
  access.ReadRegister(reg::STATUS);
  EXPECT_EQ(access.NewDataFlag, 0);
}

TEST_F(RegisterAccessTest, InterfaceTypeChoosesTheTransportAtEveryCall) {
  parallel.SetWord(16, 0x0004);
  usb.SetWord(16, 0x0008);
  struct Case {
    int16_t interfaceType;
    int32_t raw;
    size_t parallelReads, usbReads;
  };
  const Case cases[] = {{1, 4, 1, 0}, {2, 8, 0, 1}, {0, 0, 0, 0}, {3, 0, 0, 0}, {-1, 0, 0, 0}};
  for (const Case& c : cases) {
    selection.InterfaceType = c.interfaceType;
    parallel.reads.clear();
    usb.reads.clear();
    access.ReadRegister(reg::XTEMP_OUT);
    EXPECT_EQ(access.RawValue, c.raw) << c.interfaceType;
    EXPECT_EQ(access.ScaledValue, static_cast<float>(c.raw * double{0.1453f} + 25.0))
        << c.interfaceType;
    EXPECT_EQ(parallel.reads.size(), c.parallelReads) << c.interfaceType;
    EXPECT_EQ(usb.reads.size(), c.usbReads) << c.interfaceType;
  }
  // Selected but not wired: nothing is sent and the read gives 0.
  selection.InterfaceType = 2;
  access.SetUsbTransport(nullptr);
  access.ReadRegister(reg::XTEMP_OUT);
  EXPECT_EQ(access.RawValue, 0);
  EXPECT_EQ(access.ScaledValue, 25.0f);
}

TEST_F(RegisterAccessTest, ReadRawWordMasksTheAddress) {
  usb.SetWord(0x3E, 0x1234);
  int16_t address = static_cast<int16_t>(0x3E | 0x180);
  EXPECT_EQ(access.ReadRawWord(address), 0x1234);
  EXPECT_EQ(address, 0x3E);
  address = -1;
  access.ReadRawWord(address);
  EXPECT_EQ(address, 0x7F);
  EXPECT_EQ(usb.reads, (std::vector<int16_t>{0x3E, 0x7F}));
}

TEST_F(RegisterAccessTest, WriteRegisterSendsHighThenLowByteFramesAndWaits) {
  struct Case {
    int16_t index;
    int32_t value;
    int32_t frameA, frameB;
  };
  const Case cases[] = {
      {reg::COMMAND, 8, 0xBF00, 0xBE08},
      {reg::MSC_CTRL, 0x0104, 0xB501, 0xB404},
      {reg::ENDURANCE, 0xABCD, 0x81AB, 0x80CD},
      {reg::SMPL_PRD, 0x12345, 0xB723, 0xB645},   // only bits 0-15 are written
      {reg::XGYRO_OFF, -1, 0x9BFF, 0x9AFF},       // negative: two's complement bits
      {reg::XACCL_OFF, -2048, 0xA1F8, 0xA000},
      {reg::STATUS, 0, 0xBD00, 0xBC00},           // no writable check here
  };
  for (int16_t interfaceType : {int16_t{1}, int16_t{2}}) {
    selection.InterfaceType = interfaceType;
    RecordingTransport& used = interfaceType == 1 ? parallel : usb;
    RecordingTransport& other = interfaceType == 1 ? usb : parallel;
    other.writes.clear();
    for (const Case& c : cases) {
      used.writes.clear();
      clock.ClearWaits();
      access.WriteRegister(c.index, c.value);
      ASSERT_EQ(used.writes.size(), 1u);
      EXPECT_EQ(used.writes[0].first, c.frameA) << table[c.index].RegName;
      EXPECT_EQ(used.writes[0].second, c.frameB) << table[c.index].RegName;
      EXPECT_EQ(clock.Waits(), std::vector<Nanoseconds>{std::chrono::microseconds(100)});
    }
    EXPECT_TRUE(other.writes.empty());
  }
  // No interface: nothing is sent, the wait still happens.
  selection.InterfaceType = 0;
  parallel.writes.clear();
  usb.writes.clear();
  clock.ClearWaits();
  access.WriteRegister(reg::COMMAND, 8);
  EXPECT_TRUE(parallel.writes.empty());
  EXPECT_TRUE(usb.writes.empty());
  EXPECT_EQ(clock.Waits().size(), 1u);
  EXPECT_TRUE(usb.reads.empty());  // nothing is read back
}

TEST_F(RegisterAccessTest, WriteRegisterIgnoresIndexesOutsideTheTable) {
  for (int16_t index : {int16_t{-1}, int16_t{297}, int16_t{32767}}) access.WriteRegister(index, 1);
  EXPECT_TRUE(usb.writes.empty());
}

TEST_F(RegisterAccessTest, WriteBytePairMasksItsArguments) {
  int16_t addressA = 0x1FF, byteA = 0x1AB, addressB = -1, byteB = -1;
  access.WriteBytePair(addressA, byteA, addressB, byteB);
  EXPECT_EQ(addressA, 0x7F);
  EXPECT_EQ(byteA, 0xAB);
  EXPECT_EQ(addressB, 0x7F);
  EXPECT_EQ(byteB, 0xFF);
  ASSERT_EQ(usb.writes.size(), 1u);
  EXPECT_EQ(usb.writes[0], std::make_pair(0xFFAB, 0xFFFF));
  EXPECT_TRUE(clock.Waits().empty());
}

TEST_F(RegisterAccessTest, RefreshControlShadowsLoadsTheThreeControlRegisters) {
  usb.SetWord(table[reg::GPIO_CTRL].RegAddress, 0xFC03);
  usb.SetWord(table[reg::ALM_CTRL].RegAddress, 0x8517);
  usb.SetWord(table[reg::MSC_CTRL].RegAddress, 0x0106);
  access.RefreshControlShadows();
  EXPECT_EQ(access.GpioCtrlShadow, 0x003);  // 10 bits
  EXPECT_EQ(access.AlmCtrlShadow, 0x8517);
  EXPECT_EQ(access.MscCtrlShadow, 0x106);
  EXPECT_EQ(usb.reads, (std::vector<int16_t>{50, 46, 52}));
}

}  // namespace
}  // namespace pemra
