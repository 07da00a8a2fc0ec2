// Adapter discovery, board information and selection against a driver whose slots the
// test fills.

#include <gtest/gtest.h>

#include "Fakes.h"
#include "core/Message.h"
#include "interfaces/UsbAdapters.h"

namespace pemra {
namespace {

using test::FakeAdapter;
using test::FakeUsbDriver;

const std::string kNoBuffers = "No USB Buffers Found, Please Verify Setup and Restart";
const std::string kNoValidBuffers = "No Valid USB Buffers Found, Please Verify Setup and Restart";
const std::string kBoardInfoError = "Error getting Board Info";

std::vector<std::string> Texts(const RecordingMessageSink& sink) {
  std::vector<std::string> texts;
  for (const auto& m : sink.messages) texts.push_back(m.text);
  return texts;
}

class UsbAdaptersTest : public ::testing::Test {
 protected:
  FakeUsbDriver driver;
  RecordingMessageSink messages;
  RecordingTraceSink trace;
  UsbAdapters adapters{driver, messages, &trace};
};

TEST_F(UsbAdaptersTest, ScanRecognisesBoardsByVendorAndProduct) {
  struct Case {
    const char* name;
    std::optional<FakeAdapter> adapter;
    bool counted;
    std::string boardType;
  };
  FakeAdapter otherVendor;
  otherVendor.vendor = 0x1234;
  FakeAdapter unknownProduct;
  unknownProduct.product = 0xC4B0;
  FakeAdapter mcp;
  mcp.product = kProductMcp;
  const std::vector<Case> cases = {
      {"empty slot", std::nullopt, false, "None"},
      {"other vendor", otherVendor, false, "None"},
      {"unknown product", unknownProduct, false, "None"},
      {"FIFO4", FakeAdapter{}, true, "FIFO4"},
      {"MCP", mcp, true, "MCP"},
  };
  for (const auto& c : cases) {
    FakeUsbDriver d;
    d.slots[2] = c.adapter;
    RecordingMessageSink m;
    UsbAdapters a{d, m};
    a.ScanAdapters();
    EXPECT_EQ(a.AdapterCount, c.counted ? 1 : 0) << c.name;
    EXPECT_EQ(a.AdapterSlots[2].Present, c.counted) << c.name;
    EXPECT_EQ(a.AdapterSlots[2].DeviceName, c.counted ? "Ezusb-2" : "") << c.name;
    if (c.adapter && c.adapter->vendor == kAdapterVendorId) {
      EXPECT_EQ(a.AdapterSlots[2].BoardType, c.boardType) << c.name;
    }
    EXPECT_EQ(d.opens, 4) << c.name;  // every slot is tried
    EXPECT_EQ(d.closes, c.adapter ? 1 : 0) << c.name;  // every opened slot is closed again
    EXPECT_TRUE(d.openSlots.empty()) << c.name;
    EXPECT_TRUE(m.messages.empty()) << c.name;
  }
}

TEST_F(UsbAdaptersTest, BoardInfoFillsDescriptorsRevisionAndSpeed) {
  struct Case {
    uint16_t packet;
    std::string speed;
    uint8_t delay;
  };
  for (const Case& c : {Case{512, "2", 10}, Case{64, "1.1", 35}, Case{8, "1.1", 35}}) {
    FakeUsbDriver d;
    FakeAdapter adapter;
    adapter.speedPipeMaxPacket = c.packet;
    adapter.revisionMajor = 2;
    adapter.revisionMinor = 5;
    d.slots[0] = adapter;
    RecordingMessageSink m;
    UsbAdapters a{d, m};
    a.ScanAdapters();
    const AdapterSlot& slot = a.AdapterSlots[0];
    EXPECT_TRUE(slot.Present);
    EXPECT_EQ(slot.Descriptor1Text, "Maker");
    EXPECT_EQ(slot.Descriptor2Text, "Board");
    EXPECT_FLOAT_EQ(slot.FirmwareRevision, 2.5f);
    EXPECT_EQ(slot.UsbSpeed, c.speed) << c.packet;
    EXPECT_EQ(a.UsbSpiDelay, c.delay) << c.packet;
    // The revision exchange: command 0x00 on pipe 0, two bytes back on pipe 1.
    ASSERT_EQ(d.transfers.size(), 2u);
    EXPECT_EQ(d.transfers[0].bytes, std::vector<uint8_t>{0x00});
    EXPECT_EQ(d.transfers[0].pipe, 0);
    EXPECT_TRUE(d.transfers[1].in);
    EXPECT_EQ(d.transfers[1].pipe, 1);
    EXPECT_EQ(d.transfers[1].requested, 2u);
  }
}

TEST_F(UsbAdaptersTest, BoardInfoFailuresLeaveTheSlotCountedButNotPresent) {
  struct Case {
    const char* name;
    bool stringsFail;
    std::set<size_t> failTransfers;
    uint16_t packet;
    bool shortReplies;
  };
  const std::vector<Case> cases = {
      {"string descriptors", true, {}, 512, false},
      {"revision command", false, {0}, 512, false},
      {"revision reply", false, {1}, 512, false},
      {"short revision reply", false, {}, 512, true},
      {"no speed pipe", false, {}, 0, false},
  };
  for (const auto& c : cases) {
    FakeUsbDriver d;
    FakeAdapter adapter;
    adapter.stringsFail = c.stringsFail;
    adapter.speedPipeMaxPacket = c.packet;
    d.slots[0] = adapter;
    d.failTransfers = c.failTransfers;
    d.shortReplies = c.shortReplies;
    RecordingMessageSink m;
    UsbAdapters a{d, m};
    a.FindAdapters();
    EXPECT_EQ(a.AdapterCount, 1) << c.name;
    EXPECT_FALSE(a.AdapterSlots[0].Present) << c.name;
    EXPECT_FALSE(a.UsbSelected) << c.name;
    EXPECT_EQ(a.SelectedAdapterIndex, -1) << c.name;
    EXPECT_EQ(Texts(m), (std::vector<std::string>{kBoardInfoError, kNoValidBuffers})) << c.name;
    EXPECT_TRUE(d.openSlots.empty()) << c.name;
  }
}

TEST_F(UsbAdaptersTest, FindSelectsTheLowestPresentSlot) {
  driver.slots[1] = FakeAdapter{};
  FakeAdapter second;
  second.descriptor1 = "Second";
  driver.slots[3] = second;
  adapters.FindAdapters();
  EXPECT_EQ(adapters.AdapterCount, 2);
  EXPECT_TRUE(adapters.AdapterSlots[1].Present);
  EXPECT_TRUE(adapters.AdapterSlots[3].Present);
  EXPECT_EQ(adapters.AdapterSlots[3].Descriptor1Text, "Second");
  EXPECT_TRUE(adapters.UsbSelected);
  EXPECT_EQ(adapters.SelectedAdapterIndex, 1);
  EXPECT_EQ(adapters.SelectedAdapter.DeviceName, "Ezusb-1");
  EXPECT_TRUE(messages.messages.empty());

  // A later search with the adapters gone forgets the selection and the slots.
  driver.slots = {};
  adapters.FindAdapters();
  EXPECT_FALSE(adapters.UsbSelected);
  EXPECT_EQ(adapters.SelectedAdapterIndex, -1);
  EXPECT_EQ(adapters.AdapterCount, 0);
  EXPECT_FALSE(adapters.AdapterSlots[1].Present);
  EXPECT_EQ(adapters.AdapterSlots[1].DeviceName, "");
  EXPECT_EQ(Texts(messages), std::vector<std::string>{kNoBuffers});
}

TEST_F(UsbAdaptersTest, AnAdapterThatCannotBeOpenedIsNamedWhenNoneIsFound) {
  driver.slots[2] = FakeAdapter{};
  driver.slots[3] = FakeAdapter{};
  driver.failOpen = true;
  driver.failOpenReason = "LIBUSB_ERROR_ACCESS: no permission";
  adapters.FindAdapters();
  EXPECT_FALSE(adapters.UsbSelected);
  EXPECT_EQ(Texts(messages), std::vector<std::string>{kNoBuffers +
                                                      "\nEzusb-2: LIBUSB_ERROR_ACCESS: no permission"});
  // An empty slot has no reason: the message stays as it is.
  driver.failOpenReason.clear();
  messages.messages.clear();
  adapters.FindAdapters();
  EXPECT_EQ(Texts(messages), std::vector<std::string>{kNoBuffers});
}

TEST_F(UsbAdaptersTest, StringDescriptorText) {
  FakeAdapter adapter;
  adapter.descriptor1 = "";
  adapter.descriptor2 = "Caf\xE9";  // one code unit above 0x7F
  driver.slots[0] = adapter;
  const auto handle = adapters.OpenAdapter("Ezusb-0");
  EXPECT_EQ(adapters.GetStringDescriptor(handle, 1), "");  // bLength 2: empty, not "None"
  EXPECT_EQ(adapters.GetStringDescriptor(handle, 2), "Caf\xC3\xA9");
  EXPECT_EQ(adapters.GetStringDescriptor(handle, 7), "None");
  EXPECT_EQ(adapters.GetStringDescriptor(UsbDriver::kNoHandle, 1), "None");
  adapters.CloseAdapter(handle);
}

TEST_F(UsbAdaptersTest, BulkTransferFollowsThePipeDirectionAndReportsFailures) {
  driver.slots[0] = FakeAdapter{};
  const auto handle = adapters.OpenAdapter("Ezusb-0");
  uint8_t command[1] = {0x00};
  size_t length = 1;
  EXPECT_EQ(adapters.BulkTransfer(handle, 0, command, length), 1);
  uint8_t reply[4] = {};
  length = 4;
  EXPECT_EQ(adapters.BulkTransfer(handle, 1, reply, length), 1);
  EXPECT_EQ(length, 2u);  // the count actually moved
  EXPECT_EQ(reply[0], 1);
  EXPECT_EQ(reply[1], 3);
  length = 4;
  EXPECT_NE(adapters.BulkTransfer(handle, 1, reply, length), 1);  // nothing queued
  EXPECT_EQ(length, 0u);
  length = 1;
  EXPECT_NE(adapters.BulkTransfer(handle, 17, command, length), 1);
  length = 1;
  EXPECT_EQ(adapters.BulkTransfer(UsbDriver::kNoHandle, 0, command, length), -2);
  EXPECT_EQ(adapters.PipeMaxPacketSize(handle, 3), 512);
  EXPECT_EQ(adapters.PipeMaxPacketSize(handle, 16), 0);
  EXPECT_EQ(adapters.PipeMaxPacketSize(UsbDriver::kNoHandle, 3), 0);
  adapters.CloseAdapter(handle);

  ASSERT_GE(trace.lines.size(), 3u);
  EXPECT_EQ(trace.lines[0], "usb > pipe 0: 00");
  EXPECT_EQ(trace.lines[1], "usb < pipe 1: 01 03");
  EXPECT_EQ(trace.lines[2], "usb < pipe 1: (failed: LIBUSB_ERROR_TIMEOUT)");
}

}  // namespace
}  // namespace pemra
