#include "interfaces/UsbSpi.h"

#include <algorithm>

#include "interfaces/TraceText.h"

namespace pemra {

namespace {

constexpr int kCommandPipe = 0;
constexpr int kReplyPipe = 1;

constexpr uint8_t kReadSetup = 0x01;
constexpr uint8_t kSetDelay = 0x0B;
constexpr uint8_t kSetBits = 0x0C;
constexpr uint8_t kExchangePos = 0x0D;
constexpr uint8_t kExchangeNeg = 0x0E;

constexpr uint8_t kStaticBitsMask = 0x78;
constexpr uint8_t kMaxWords = 16;
constexpr uint8_t kMaxChannel = 5;

void Fail(UsbAdapters& adapters, const char* text) {
  adapters.Messages().Show(Message{text, "", MessageIcon::None});
  adapters.UsbSelected = false;
}

}  // namespace

UsbSpi::UsbSpi(UsbAdapters& adapters) : UsbSpiDelay(adapters.UsbSpiDelay), adapters_(adapters) {}

void UsbSpi::ReadSpiSetup() {
  if (!adapters_.UsbSelected) return;
  UsbSpiDelay = 0;
  const UsbDriver::Handle handle = adapters_.OpenAdapter(adapters_.SelectedAdapter.DeviceName);
  uint8_t command[1] = {kReadSetup};
  size_t length = 1;
  // The reply is asked for even when the command failed.
  if (adapters_.BulkTransfer(handle, kCommandPipe, command, length) != 1) {
    Fail(adapters_, "Error Setting up SPI");
  }
  uint8_t reply[2] = {0, 0};
  length = 2;
  if (adapters_.BulkTransfer(handle, kReplyPipe, reply, length) == 1 && length == 2) {
    UsbSpiDelay = reply[0];
    StaticBits = static_cast<uint8_t>(reply[1] & kStaticBitsMask);
  } else {
    Fail(adapters_, "Error Reading SPI");
  }
  adapters_.CloseAdapter(handle);
}

void UsbSpi::SetSpiDelay(uint8_t& delay) {
  if (!adapters_.UsbSelected) return;
  if (delay == 0) delay = 1;
  UsbSpiDelay = delay;
  const UsbDriver::Handle handle = adapters_.OpenAdapter(adapters_.SelectedAdapter.DeviceName);
  uint8_t command[2] = {kSetDelay, delay};
  size_t length = 2;
  if (adapters_.BulkTransfer(handle, kCommandPipe, command, length) != 1) {
    Fail(adapters_, "Error Setting up SPI");
  }
  adapters_.CloseAdapter(handle);
}

void UsbSpi::SetSpiBits(uint8_t& bits) {
  if (!adapters_.UsbSelected) return;
  const UsbDriver::Handle handle = adapters_.OpenAdapter(adapters_.SelectedAdapter.DeviceName);
  uint8_t command[2] = {kSetBits, bits};
  size_t length = 2;
  const bool sent = adapters_.BulkTransfer(handle, kCommandPipe, command, length) == 1;
  StaticBits = bits;
  if (!sent) Fail(adapters_, "Error Setting SPI Bits");
  adapters_.CloseAdapter(handle);
}

void UsbSpi::UsbSpiExchange(uint8_t n) {
  if (!adapters_.UsbSelected) return;
  if (CselChannel == 0) CselChannel = 1;
  if (CselChannel > kMaxChannel) CselChannel = kMaxChannel;
  // OutWords and InWords hold sixteen words; a longer request would run past them.
  if (n > kMaxWords) n = kMaxWords;
  WordCount = n;
  const UsbDriver::Handle handle = adapters_.OpenAdapter(adapters_.SelectedAdapter.DeviceName);

  std::array<uint8_t, 3 + 2 * kMaxWords> message{};
  message[0] = SpiPolarityPos ? kExchangePos : kExchangeNeg;
  message[1] = CselChannel;
  message[2] = n;
  for (size_t i = 1; i <= n; ++i) {
    message[2 * i + 1] = static_cast<uint8_t>(OutWords[i] >> 8);
    message[2 * i + 2] = static_cast<uint8_t>(OutWords[i] & 0xFF);
  }
  size_t length = 3 + 2 * size_t{n};
  if (adapters_.BulkTransfer(handle, kCommandPipe, message.data(), length) != 1) {
    Fail(adapters_, "Error Writing SPI");
    adapters_.CloseAdapter(handle);
    return;
  }

  std::array<uint8_t, 2 * kMaxWords> reply{};
  length = 2 * size_t{n};
  // A short reply would leave some words unanswered: it fails like no reply.
  if (adapters_.BulkTransfer(handle, kReplyPipe, reply.data(), length) != 1 ||
      length != 2 * size_t{n}) {
    Fail(adapters_, "Error Reading SPI");
    adapters_.CloseAdapter(handle);
    if (TraceSink* trace = adapters_.Trace(); trace != nullptr) {
      for (size_t i = 1; i <= n; ++i) TraceSpiFrame(*trace, OutWords[i], kNoAnswer);
    }
    return;
  }
  for (size_t i = 1; i <= n; ++i) {
    InWords[i] = static_cast<uint16_t>(reply[2 * i - 2] << 8 | reply[2 * i - 1]);
  }
  adapters_.CloseAdapter(handle);
  if (TraceSink* trace = adapters_.Trace(); trace != nullptr) {
    for (size_t i = 1; i <= n; ++i) TraceSpiFrame(*trace, OutWords[i], InWords[i]);
  }
}

int32_t UsbSpi::ReadWord(int16_t address) {
  const auto frame = static_cast<uint16_t>((address & 0x7F) << 8);
  OutWords[1] = frame;
  OutWords[2] = frame;
  CselChannel = 1;
  // Without a usable adapter a read sends nothing and gives 0, like a read with no
  // interface: the words of an earlier exchange must never pass for this register's.
  if (!adapters_.UsbSelected) return 0;
  UsbSpiExchange(2);
  if (!adapters_.UsbSelected) return 0;  // this exchange failed
  return InWords[2];
}

bool UsbSpi::ReadWords(std::span<const int16_t> addresses, std::span<int32_t> words) {
  std::fill(words.begin(), words.end(), 0);
  if (words.size() != addresses.size()) return false;
  constexpr size_t kPerExchange = kMaxWords - 1;  // one word is the trailing frame
  for (size_t first = 0; first < addresses.size(); first += kPerExchange) {
    const size_t n = std::min(kPerExchange, addresses.size() - first);
    for (size_t i = 0; i < n; ++i) {
      OutWords[i + 1] = static_cast<uint16_t>((addresses[first + i] & 0x7F) << 8);
    }
    OutWords[n + 1] = 0x0000;
    CselChannel = 1;
    if (!adapters_.UsbSelected) break;
    UsbSpiExchange(static_cast<uint8_t>(n + 1));
    if (!adapters_.UsbSelected) break;  // this exchange failed
    for (size_t i = 0; i < n; ++i) words[first + i] = InWords[i + 2];
  }
  if (adapters_.UsbSelected) return true;
  // Words of an exchange before the failure must not pass for a complete set.
  std::fill(words.begin(), words.end(), 0);
  return false;
}

void UsbSpi::WriteFramePair(int32_t frameA, int32_t frameB) {
  OutWords[1] = static_cast<uint16_t>(frameA);
  OutWords[2] = static_cast<uint16_t>(frameB);
  CselChannel = 1;
  UsbSpiExchange(2);  // sends nothing while no adapter is usable
}

}  // namespace pemra
