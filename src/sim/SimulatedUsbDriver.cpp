#include "sim/SimulatedUsbDriver.h"

#include <algorithm>
#include <cstring>

namespace pemra::sim {

namespace {

constexpr std::string_view kDevicePrefix = "Ezusb-";

std::vector<uint8_t> StringDescriptor(std::string_view text) {
  std::vector<uint8_t> d;
  d.push_back(uint8_t(2 + 2 * text.size()));
  d.push_back(0x03);
  for (char ch : text) {
    d.push_back(uint8_t(ch));
    d.push_back(0);
  }
  return d;
}

}  // namespace

SimulatedUsbDriver::SimulatedUsbDriver(SpiSlave& slave, Clock& clock,
                                       const std::array<AdapterOptions, kAdapterSlots>& slots)
    : slave_(slave), clock_(clock) {
  for (int i = 0; i < kAdapterSlots; ++i) SetAdapter(i, slots[size_t(i)]);
}

void SimulatedUsbDriver::SetAdapter(int slot, const AdapterOptions& options) {
  if (slot < 0 || slot >= kAdapterSlots) return;
  Slot& s = slots_[size_t(slot)];
  s.options = options;
  s.firmware = AdapterFirmware(&slave_);
  ++s.generation;
}

bool SimulatedUsbDriver::Fail(const std::string& reason) {
  lastError_ = reason;
  return false;
}

// ---- files ----

UsbDriver::Handle SimulatedUsbDriver::Open(std::string_view deviceName) {
  if (deviceName.size() != kDevicePrefix.size() + 1 || !deviceName.starts_with(kDevicePrefix) ||
      deviceName.back() < '0' || deviceName.back() >= char('0' + kAdapterSlots)) {
    lastError_ = std::string(deviceName) + ": no such device";
    return kNoHandle;
  }
  const int slot = deviceName.back() - '0';
  const Slot& s = slots_[size_t(slot)];
  if (!s.options.present || Unplugged()) {
    lastError_ = std::string(deviceName) + ": no such device";
    return kNoHandle;
  }
  if (s.failOpen) {
    lastError_ = std::string(deviceName) + ": access denied (injected fault)";
    return kNoHandle;
  }
  const Handle h = nextHandle_++;
  handles_[h] = OpenFile{slot, s.generation};
  return h;
}

void SimulatedUsbDriver::Close(Handle handle) { handles_.erase(handle); }

SimulatedUsbDriver::Slot* SimulatedUsbDriver::SlotOf(Handle handle) {
  const auto it = handles_.find(handle);
  if (it == handles_.end()) {
    lastError_ = "invalid handle";
    return nullptr;
  }
  Slot& s = slots_[size_t(it->second.slot)];
  if (!s.options.present || s.generation != it->second.generation || Unplugged()) {
    lastError_ = "no device (adapter removed)";
    return nullptr;
  }
  return &s;
}

// ---- descriptors ----

bool SimulatedUsbDriver::GetDeviceDescriptor(Handle handle, std::array<uint8_t, 18>& d) {
  const Slot* s = SlotOf(handle);
  if (s == nullptr) return false;
  const uint16_t bcdUsb = s->options.highSpeed ? 0x0200 : 0x0110;
  d = {18,   0x01, uint8_t(bcdUsb & 0xFF), uint8_t(bcdUsb >> 8),
       0xFF, 0xFF, 0xFF, 64,
       uint8_t(kAdapterVendorId & 0xFF), uint8_t(kAdapterVendorId >> 8),
       uint8_t(s->options.productId & 0xFF), uint8_t(s->options.productId >> 8),
       0x01, 0x00,  // device release 0.01
       1,    2,    0,    1};
  return true;
}

bool SimulatedUsbDriver::GetStringDescriptor(Handle handle, uint8_t index, size_t maxLength,
                                             std::vector<uint8_t>& descriptor) {
  if (SlotOf(handle) == nullptr) return false;
  std::vector<uint8_t> full;
  switch (index) {
    case 0:
      full = {4, 0x03, 0x09, 0x04};  // language: English (United States)
      break;
    case 1:
      full = StringDescriptor(kManufacturerText);
      break;
    case 2:
      full = StringDescriptor(kProductText);
      break;
    default:
      return Fail("pipe error: no string descriptor " + std::to_string(index));
  }
  full.resize(std::min(full.size(), maxLength));
  descriptor = std::move(full);
  return true;
}

bool SimulatedUsbDriver::GetPipeInfo(Handle handle, std::vector<UsbPipeInfo>& pipes) {
  const Slot* s = SlotOf(handle);
  if (s == nullptr) return false;
  const uint16_t size = s->options.highSpeed ? 512 : 64;
  pipes.clear();
  for (uint8_t ep : kPipeEndpoints) pipes.push_back(UsbPipeInfo{size, ep});
  return true;
}

// ---- bulk transfers ----

bool SimulatedUsbDriver::InjectedFault() {
  const uint64_t number = ++transferCount_;
  bool fail = failAt_.erase(number) > 0;
  if (plugLeft_) {
    if (*plugLeft_ == 0) fail = true;
    else --*plugLeft_;
  }
  return fail;
}

void SimulatedUsbDriver::FailNthTransfer(uint64_t n) {
  if (n > 0) failAt_.insert(transferCount_ + n);
}

void SimulatedUsbDriver::UnplugAfter(uint64_t n) { plugLeft_ = n; }

void SimulatedUsbDriver::Replug() { plugLeft_.reset(); }

void SimulatedUsbDriver::FailOpen(int slot, bool fail) {
  if (slot >= 0 && slot < kAdapterSlots) slots_[size_t(slot)].failOpen = fail;
}

void SimulatedUsbDriver::Cost(const Slot& slot, size_t words) {
  if (!timingModel_) return;
  Nanoseconds cost = slot.options.highSpeed ? kHighSpeedInterval : kFullSpeedInterval;
  cost += Nanoseconds(words * (kSpiWordTime + std::chrono::microseconds(slot.firmware.Delay())));
  // A bulk transfer blocks in the kernel until the adapter answers: the thread sleeps.
  clock_.Sleep(cost);
}

void SimulatedUsbDriver::Record(int slot, int pipe, bool in, bool ok, const uint8_t* data,
                                size_t length) {
  if (recordLimit_ == 0) return;
  Transfer t;
  t.slot = slot;
  t.pipe = pipe;
  t.in = in;
  t.ok = ok;
  if (data != nullptr && length > 0) t.bytes.assign(data, data + length);
  transfers_.push_back(std::move(t));
  while (transfers_.size() > recordLimit_) transfers_.pop_front();
}

bool SimulatedUsbDriver::BulkWrite(Handle handle, int pipe, const uint8_t* data, size_t length,
                                   size_t& transferred) {
  transferred = 0;
  Slot* s = SlotOf(handle);
  const bool fault = InjectedFault();
  const int slot = s ? handles_[handle].slot : -1;
  auto fail = [&](const std::string& reason) {
    Record(slot, pipe, false, false, data, length);
    return Fail(reason);
  };
  if (s == nullptr) return fail(lastError_);
  if (fault) return fail("pipe error (injected fault)");
  if (pipe < 0 || pipe >= int(kPipeEndpoints.size()) || (kPipeEndpoints[size_t(pipe)] & 0x80)) {
    return fail("invalid pipe " + std::to_string(pipe) + " for a bulk OUT");
  }
  if (data == nullptr && length > 0) return fail("no data buffer");
  // Pipe 2 is an OUT pipe the firmware does not use: it takes the bytes and ignores them.
  if (pipe == 0) {
    const bool exchange = length >= 3 && (data[0] == firmware::ExchangePos ||
                                          data[0] == firmware::ExchangeNeg);
    Cost(*s, exchange ? data[2] : 0);
    s->firmware.Receive(data, length);
  } else {
    Cost(*s, 0);
  }
  transferred = length;
  Record(slot, pipe, false, true, data, length);
  return true;
}

bool SimulatedUsbDriver::BulkRead(Handle handle, int pipe, uint8_t* data, size_t length,
                                  size_t& transferred) {
  transferred = 0;
  Slot* s = SlotOf(handle);
  const bool fault = InjectedFault();
  const int slot = s ? handles_[handle].slot : -1;
  auto fail = [&](const std::string& reason) {
    Record(slot, pipe, true, false, nullptr, 0);
    return Fail(reason);
  };
  if (s == nullptr) return fail(lastError_);
  if (fault) return fail("pipe error (injected fault)");
  if (pipe < 0 || pipe >= int(kPipeEndpoints.size()) || !(kPipeEndpoints[size_t(pipe)] & 0x80)) {
    return fail("invalid pipe " + std::to_string(pipe) + " for a bulk IN");
  }
  Cost(*s, 0);
  if (pipe != 1 || !s->firmware.HasReply()) return fail("timeout");
  const std::vector<uint8_t> reply = s->firmware.TakeReply();
  if (reply.size() > length) return fail("overflow: the reply is longer than the buffer");
  if (data == nullptr && !reply.empty()) return fail("no data buffer");
  if (!reply.empty()) std::memcpy(data, reply.data(), reply.size());
  transferred = reply.size();
  Record(slot, pipe, true, true, reply.data(), reply.size());
  return true;
}

}  // namespace pemra::sim
