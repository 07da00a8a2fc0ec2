// The adapter's byte messages and settings, against a driver that records every transfer and
// answers like the adapter's firmware. Failures are tested on the simulated rig.

#include <gtest/gtest.h>

#include <functional>

#include "Fakes.h"
#include "core/Message.h"
#include "interfaces/UsbAdapters.h"
#include "interfaces/UsbSpi.h"

namespace pemra {
namespace {

using test::FakeAdapter;
using test::FakeUsbDriver;
using Bytes = std::vector<uint8_t>;

class UsbSpiTest : public ::testing::Test {
 protected:
  UsbSpiTest() {
    driver.slots[0] = FakeAdapter{};
    adapters.FindAdapters();
    driver.transfers.clear();
  }
  FakeUsbDriver driver;
  RecordingMessageSink messages;
  RecordingTraceSink trace;
  UsbAdapters adapters{driver, messages, &trace};
  UsbSpi spi{adapters};
};

TEST_F(UsbSpiTest, ExchangeMessageAndReplyWords) {
  ASSERT_TRUE(adapters.UsbSelected);
  spi.OutWords[1] = 0x3E00;
  spi.OutWords[2] = 0x3E00;
  driver.answerWords = {0x0000, 0x1234};
  trace.lines.clear();
  spi.UsbSpiExchange(2);
  ASSERT_EQ(driver.transfers.size(), 2u);
  EXPECT_EQ(driver.transfers[0].pipe, 0);
  EXPECT_EQ(driver.transfers[0].bytes, (Bytes{0x0D, 0x01, 0x02, 0x3E, 0x00, 0x3E, 0x00}));
  EXPECT_TRUE(driver.transfers[1].in);
  EXPECT_EQ(driver.transfers[1].pipe, 1);
  EXPECT_EQ(driver.transfers[1].requested, 4u);
  EXPECT_EQ(spi.InWords[1], 0x0000);
  EXPECT_EQ(spi.InWords[2], 0x1234);
  EXPECT_EQ(spi.WordCount, 2);
  EXPECT_TRUE(driver.openSlots.empty());  // opened and closed around the exchange
  EXPECT_EQ(trace.lines,
            (std::vector<std::string>{"usb > pipe 0: 0D 01 02 3E 00 3E 00", "usb < pipe 1: 00 00 12 34",
                                      "spi > 3E00 < 0000", "spi > 3E00 < 1234"}));
}

TEST_F(UsbSpiTest, ExchangeHeaderFromPolarityChannelAndCount) {
  struct Case {
    bool polarityPos;
    uint8_t channel;
    uint8_t sentChannel;
    uint8_t n;
    uint8_t sentCount;
  };
  const std::vector<Case> cases = {
      {true, 1, 1, 1, 1},  {false, 1, 1, 1, 1}, {true, 0, 1, 1, 1},   {true, 9, 5, 1, 1},
      {true, 5, 5, 16, 16}, {true, 3, 3, 0, 0}, {true, 2, 2, 40, 16},
  };
  for (const auto& c : cases) {
    driver.transfers.clear();
    spi.SpiPolarityPos = c.polarityPos;
    spi.CselChannel = c.channel;
    for (size_t i = 1; i <= 16; ++i) spi.OutWords[i] = static_cast<uint16_t>(0xFF00 + i);
    spi.UsbSpiExchange(c.n);
    ASSERT_EQ(driver.transfers.size(), 2u);
    const Bytes& sent = driver.transfers[0].bytes;
    ASSERT_EQ(sent.size(), 3u + 2u * c.sentCount);
    EXPECT_EQ(sent[0], c.polarityPos ? 0x0D : 0x0E);
    EXPECT_EQ(sent[1], c.sentChannel);
    EXPECT_EQ(sent[2], c.sentCount);
    EXPECT_EQ(spi.CselChannel, c.sentChannel);  // the clamped channel is kept
    for (size_t i = 1; i <= c.sentCount; ++i) {  // high byte first
      EXPECT_EQ(sent[2 * i + 1], 0xFF);
      EXPECT_EQ(sent[2 * i + 2], i);
    }
    EXPECT_EQ(driver.transfers[1].requested, 2u * c.sentCount);
  }
}

TEST_F(UsbSpiTest, SettingsMessages) {
  uint8_t delay = 0;
  spi.SetSpiDelay(delay);
  EXPECT_EQ(delay, 1);
  EXPECT_EQ(spi.UsbSpiDelay, 1);
  EXPECT_EQ(adapters.UsbSpiDelay, 1);  // one value shared with the board information
  uint8_t bits = 0x50;
  spi.SetSpiBits(bits);
  EXPECT_EQ(spi.StaticBits, 0x50);
  spi.ReadSpiSetup();  // the adapter answers 0x19, 0xFF
  EXPECT_EQ(spi.UsbSpiDelay, 25);
  EXPECT_EQ(spi.StaticBits, 0x78);
  const auto out = driver.OutTransfers();
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].bytes, (Bytes{0x0B, 0x01}));
  EXPECT_EQ(out[1].bytes, (Bytes{0x0C, 0x50}));
  EXPECT_EQ(out[2].bytes, (Bytes{0x01}));
  EXPECT_EQ(driver.transfers.size(), 4u);  // the setup reply is the only read
  EXPECT_TRUE(messages.messages.empty());
  EXPECT_TRUE(adapters.UsbSelected);
}

TEST_F(UsbSpiTest, NothingIsSentOrChangedWhileNoAdapterIsSelected) {
  struct Case {
    const char* name;
    std::function<void(UsbSpi&)> operation;
  };
  const std::vector<Case> cases = {
      {"setup", [](UsbSpi& s) { s.ReadSpiSetup(); }},
      {"delay", [](UsbSpi& s) {
         uint8_t delay = 0;
         s.SetSpiDelay(delay);
         EXPECT_EQ(delay, 0);  // not raised: the operation does nothing at all
       }},
      {"bits", [](UsbSpi& s) {
         uint8_t bits = 0x08;
         s.SetSpiBits(bits);
       }},
      {"exchange", [](UsbSpi& s) { s.UsbSpiExchange(2); }},
  };
  for (const auto& c : cases) {
    adapters.UsbSelected = false;  // as after a failure or the "None" choice
    driver.transfers.clear();
    messages.messages.clear();
    spi.UsbSpiDelay = 10;
    spi.StaticBits = 0x78;
    spi.CselChannel = 9;
    spi.WordCount = 7;
    spi.InWords[1] = 0x1111;
    spi.InWords[2] = 0x2222;
    const int opens = driver.opens;
    c.operation(spi);
    EXPECT_EQ(driver.opens, opens) << c.name;
    EXPECT_TRUE(driver.transfers.empty()) << c.name;
    EXPECT_TRUE(messages.messages.empty()) << c.name;
    EXPECT_EQ(spi.UsbSpiDelay, 10) << c.name;
    EXPECT_EQ(spi.StaticBits, 0x78) << c.name;
    EXPECT_EQ(spi.CselChannel, 9) << c.name;
    EXPECT_EQ(spi.WordCount, 7) << c.name;
    EXPECT_EQ(spi.InWords[1], 0x1111) << c.name;
    EXPECT_EQ(spi.InWords[2], 0x2222) << c.name;
  }
}

TEST_F(UsbSpiTest, ShortReplyToAnExchangeIsAFailure) {
  // Three of the four reply bytes: the second word is not known, so nothing is taken.
  spi.OutWords[1] = 0x3E00;
  spi.OutWords[2] = 0x3E00;
  spi.InWords[2] = 0x5555;
  driver.answerWords = {0x0000, 0x1234};
  driver.shortReplies = true;
  spi.UsbSpiExchange(2);
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0].text, "Error Reading SPI");
  EXPECT_FALSE(adapters.UsbSelected);
  EXPECT_EQ(spi.InWords[2], 0x5555);
  EXPECT_TRUE(driver.openSlots.empty());
}

}  // namespace
}  // namespace pemra
