#pragma once
// Small stand-ins for the two back ends, for testing the transports on their own: a port
// that records every access and answers status reads from a script, and an adapter driver
// whose slots, descriptors and replies a test sets up, with failures on request.

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "interfaces/PortIo.h"
#include "interfaces/UsbDriver.h"

namespace pemra::test {

struct PortAccess {
  bool write = false;
  uint16_t address = 0;
  uint8_t value = 0;
  bool operator==(const PortAccess&) const = default;
};

class FakePortIo final : public PortIo {
 public:
  bool EnableAccess(uint16_t baseAddress, std::string& device, std::string& reason) override {
    enabledBase = baseAddress;
    if (!accessGranted) {
      device = "/dev/parport0";
      reason = "Permission denied: the user is not in group lp";
    }
    return accessGranted;
  }
  void Out(uint16_t address, uint8_t value) override {
    accesses.push_back({true, address, value});
  }
  std::vector<ParallelPortEntry> ListPorts() const override { return ports; }
  uint8_t In(uint16_t address) override {
    accesses.push_back({false, address, 0});
    if (statusReads.empty()) return 0xFF;
    const uint8_t value = statusReads.front();
    statusReads.pop_front();
    return value;
  }

  // Values written to one address, in order.
  std::vector<uint8_t> WritesTo(uint16_t address) const {
    std::vector<uint8_t> values;
    for (const auto& a : accesses) {
      if (a.write && a.address == address) values.push_back(a.value);
    }
    return values;
  }

  bool accessGranted = true;
  std::optional<uint16_t> enabledBase;
  std::vector<PortAccess> accesses;
  std::deque<uint8_t> statusReads;  // answers to In(), 0xFF once used up
  std::vector<ParallelPortEntry> ports;  // what ListPorts gives
};

struct FakeAdapter {
  uint16_t vendor = kAdapterVendorId;
  uint16_t product = kProductFifo4;
  std::string descriptor1 = "Maker";
  std::string descriptor2 = "Board";
  bool stringsFail = false;
  uint16_t speedPipeMaxPacket = 512;
  uint8_t revisionMajor = 1;
  uint8_t revisionMinor = 3;
  uint8_t setupDelay = 0x19;
  uint8_t setupBits = 0xFF;
};

// One bulk transfer as the driver saw it.
struct Transfer {
  bool in = false;
  int pipe = 0;
  std::vector<uint8_t> bytes;  // sent, or received
  size_t requested = 0;
};

class FakeUsbDriver final : public UsbDriver {
 public:
  Handle Open(std::string_view deviceName) override {
    ++opens;
    openFailure.clear();
    for (int i = 0; i < kAdapterSlots; ++i) {
      if (slots[static_cast<size_t>(i)] && deviceName == "Ezusb-" + std::to_string(i)) {
        if (failOpen) {
          openFailure = failOpenReason;
          return kNoHandle;
        }
        openSlots.insert(i);
        return i;
      }
    }
    return kNoHandle;
  }
  void Close(Handle handle) override {
    ++closes;
    openSlots.erase(handle);
  }
  bool GetDeviceDescriptor(Handle handle, std::array<uint8_t, 18>& d) override {
    const FakeAdapter* a = Adapter(handle);
    if (a == nullptr) return false;
    d = {};
    d[0] = 18;
    d[1] = 1;
    d[8] = static_cast<uint8_t>(a->vendor);
    d[9] = static_cast<uint8_t>(a->vendor >> 8);
    d[10] = static_cast<uint8_t>(a->product);
    d[11] = static_cast<uint8_t>(a->product >> 8);
    return true;
  }
  bool GetStringDescriptor(Handle handle, uint8_t index, size_t maxLength,
                           std::vector<uint8_t>& out) override {
    const FakeAdapter* a = Adapter(handle);
    if (a == nullptr || a->stringsFail || (index != 1 && index != 2)) return false;
    const std::string& text = index == 1 ? a->descriptor1 : a->descriptor2;
    std::vector<uint8_t> full = {static_cast<uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) {
      full.push_back(static_cast<uint8_t>(c));
      full.push_back(0);
    }
    if (full.size() > maxLength) full.resize(maxLength);
    out = full;
    return true;
  }
  bool GetPipeInfo(Handle handle, std::vector<UsbPipeInfo>& pipes) override {
    const FakeAdapter* a = Adapter(handle);
    if (a == nullptr) return false;
    const uint16_t packet = a->speedPipeMaxPacket;
    pipes = {{packet, 0x02}, {packet, 0x86}, {packet, 0x04}, {packet, 0x88}};
    return true;
  }
  bool BulkWrite(Handle handle, int pipe, const uint8_t* data, size_t length,
                 size_t& transferred) override {
    transferred = 0;
    transfers.push_back({false, pipe, std::vector<uint8_t>(data, data + length), length});
    if (Fails(handle)) return false;
    transferred = length;
    // The firmware's replies.
    const FakeAdapter* a = Adapter(handle);
    if (length >= 1 && data[0] == 0x00) replies.push_back({a->revisionMajor, a->revisionMinor});
    if (length >= 1 && data[0] == 0x01) replies.push_back({a->setupDelay, a->setupBits});
    if (length >= 3 && (data[0] == 0x0D || data[0] == 0x0E)) {
      std::vector<uint8_t> reply;
      for (size_t i = 0; i < data[2]; ++i) {
        uint16_t word = 0;
        if (!answerWords.empty()) {
          word = answerWords.front();
          answerWords.pop_front();
        }
        reply.push_back(static_cast<uint8_t>(word >> 8));
        reply.push_back(static_cast<uint8_t>(word));
      }
      replies.push_back(reply);
    }
    return true;
  }
  bool BulkRead(Handle handle, int pipe, uint8_t* data, size_t length,
                size_t& transferred) override {
    transferred = 0;
    transfers.push_back({true, pipe, {}, length});
    if (Fails(handle) || replies.empty()) return false;
    std::vector<uint8_t> reply = replies.front();
    replies.pop_front();
    if (shortReplies && !reply.empty()) reply.pop_back();
    transferred = std::min(length, reply.size());
    std::copy_n(reply.begin(), transferred, data);
    transfers.back().bytes.assign(data, data + transferred);
    return true;
  }
  std::string LastError() const override { return "LIBUSB_ERROR_TIMEOUT"; }
  std::string OpenFailureReason() const override { return openFailure; }

  std::vector<Transfer> OutTransfers() const {
    std::vector<Transfer> out;
    for (const auto& t : transfers) {
      if (!t.in) out.push_back(t);
    }
    return out;
  }

  std::array<std::optional<FakeAdapter>, kAdapterSlots> slots;
  bool failOpen = false;
  std::string failOpenReason;  // what OpenFailureReason tells when an open fails
  std::string openFailure;
  std::set<size_t> failTransfers;  // 0-based numbers of the transfers that fail
  bool shortReplies = false;
  std::deque<uint16_t> answerWords;  // words the sensor clocks out, in order
  std::deque<std::vector<uint8_t>> replies;
  std::vector<Transfer> transfers;
  std::set<int> openSlots;
  int opens = 0;
  int closes = 0;

 private:
  const FakeAdapter* Adapter(Handle handle) const {
    if (handle < 0 || handle >= kAdapterSlots || !slots[static_cast<size_t>(handle)]) {
      return nullptr;
    }
    return &*slots[static_cast<size_t>(handle)];
  }
  bool Fails(Handle handle) const {
    return Adapter(handle) == nullptr || failTransfers.count(transfers.size() - 1) > 0;
  }
};

}  // namespace pemra::test
