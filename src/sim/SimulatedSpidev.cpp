#include "sim/SimulatedSpidev.h"

#include <algorithm>
#include <cstring>

namespace pemra::sim {

namespace {

constexpr uint8_t kModeClockBits = 0x03;  // CPOL, CPHA
constexpr uint8_t kModeCsHigh = 0x04;
constexpr uint8_t kModeLsbFirst = 0x08;
constexpr uint8_t kModeKnown = 0x0F;  // the bits this controller offers

}  // namespace

SpidevNode::SpidevNode(SpiSlave* slave, const SpidevNodeOptions& options)
    : options_(options), wire_(slave) {}

bool SpidevNode::SetMode(uint8_t mode) {
  if ((mode & ~kModeKnown) != 0) return false;
  mode_ = mode;
  return true;
}

bool SpidevNode::SetBitsPerWord(uint8_t bits) {
  if (bits != 8 && !(bits == 16 && options_.sixteenBitWords)) return false;
  bits_ = bits;
  return true;
}

bool SpidevNode::SetMaxSpeed(uint32_t hz) {
  if (hz == 0) return false;
  speed_ = hz;
  return true;
}

bool SpidevNode::Run(std::span<const SpiTransfer> transfers, Nanoseconds now, Nanoseconds& busy,
                     std::string& error) {
  busy = Nanoseconds(0);
  // The whole message is checked before anything is clocked, as the kernel does.
  uint64_t buffered = 0;
  for (const SpiTransfer& t : transfers) {
    const uint8_t bits = t.bitsPerWord != 0 ? t.bitsPerWord : bits_;
    if ((bits != 8 && !(bits == 16 && options_.sixteenBitWords)) || t.length % (bits / 8) != 0) {
      error = "Invalid argument";
      return false;
    }
    const uint32_t align = std::max<uint32_t>(1, options_.transferAlignment);
    buffered += (uint64_t{t.length} + align - 1) / align * align;
  }
  if (buffered > kSpidevBufferSize) {
    error = "Message too long";
    return false;
  }
  wire_.Resume(now);
  const bool lsbFirst = (mode_ & kModeLsbFirst) != 0;
  // With the select active high the sensor's (active-low) select never goes low.
  const bool reachesSensor = (mode_ & kModeCsHigh) == 0;
  for (size_t k = 0; k < transfers.size(); ++k) {
    const SpiTransfer& t = transfers[k];
    const uint8_t bits = t.bitsPerWord != 0 ? t.bitsPerWord : bits_;
    const uint32_t hz = std::min(t.speedHz != 0 ? t.speedHz : speed_, speed_);
    const BitTiming timing = BitTiming::Mode(mode_ & kModeClockBits, hz);
    const size_t bytesPerWord = bits / 8;
    wire_.Select(reachesSensor);
    for (size_t at = 0; at < t.length; at += bytesPerWord) {
      uint16_t out = 0;
      if (t.tx != nullptr) {
        if (bytesPerWord == 2) {
          std::memcpy(&out, t.tx + at, 2);  // the machine's byte order
        } else {
          out = t.tx[at];
        }
      }
      uint16_t in = 0;
      for (int i = 0; i < bits; ++i) {
        const int bit = lsbFirst ? i : bits - 1 - i;
        if (wire_.ClockBit(((out >> bit) & 1) != 0, timing)) in = uint16_t(in | 1u << bit);
      }
      if (t.rx != nullptr) {
        if (bytesPerWord == 2) {
          std::memcpy(t.rx + at, &in, 2);
        } else {
          t.rx[at] = static_cast<uint8_t>(in);
        }
      }
    }
    wire_.Wait(std::chrono::microseconds(t.delayUsecs));
    if (t.csChange && k + 1 < transfers.size()) {
      wire_.Select(false);
      wire_.Wait(kSpiCoreCsChangeDelay);
    }
  }
  wire_.Select(false);
  busy = wire_.TakeBusyTime();
  return true;
}

SimulatedSpidevDriver::SimulatedSpidevDriver(SpiSlave& slave, Clock& clock,
                                             const std::vector<SpidevNodeOptions>& nodes)
    : clock_(clock) {
  for (const SpidevNodeOptions& options : nodes) nodes_.emplace_back(&slave, options);
}

bool SimulatedSpidevDriver::Fail(std::string reason) {
  lastError_ = std::move(reason);
  return false;
}

bool SimulatedSpidevDriver::List(std::vector<std::string>& paths) {
  paths.clear();
  if (Gone()) return true;
  for (const SpidevNode& node : nodes_) paths.push_back(node.Options().path);
  std::sort(paths.begin(), paths.end());
  return true;
}

SpidevDriver::Handle SimulatedSpidevDriver::Open(const std::string& path) {
  const auto at = std::find_if(nodes_.begin(), nodes_.end(),
                               [&](const SpidevNode& n) { return n.Options().path == path; });
  if (at == nodes_.end() || Gone()) {
    lastError_ = path + ": No such file or directory";
    return kNoHandle;
  }
  if (!refusedGroup_.empty()) {
    lastError_ = path + ": Permission denied; join group " + refusedGroup_ +
                 " (the group of " + path + ") and log in again";
    return kNoHandle;
  }
  const Handle h = nextHandle_++;
  handles_[h] = static_cast<size_t>(at - nodes_.begin());
  return h;
}

void SimulatedSpidevDriver::Close(Handle handle) { handles_.erase(handle); }

SpidevNode* SimulatedSpidevDriver::NodeOf(Handle handle) {
  const auto it = handles_.find(handle);
  if (it == handles_.end()) {
    lastError_ = "Bad file descriptor";
    return nullptr;
  }
  if (Gone()) {
    lastError_ = "No such device";
    return nullptr;
  }
  return &nodes_[it->second];
}

bool SimulatedSpidevDriver::SetMode(Handle handle, uint8_t mode) {
  SpidevNode* node = NodeOf(handle);
  if (node == nullptr) return false;
  return node->SetMode(mode) || Fail("Invalid argument");
}

bool SimulatedSpidevDriver::SetBitsPerWord(Handle handle, uint8_t bits) {
  SpidevNode* node = NodeOf(handle);
  if (node == nullptr) return false;
  return node->SetBitsPerWord(bits) || Fail("Invalid argument");
}

bool SimulatedSpidevDriver::SetMaxSpeed(Handle handle, uint32_t hz) {
  SpidevNode* node = NodeOf(handle);
  if (node == nullptr) return false;
  return node->SetMaxSpeed(hz) || Fail("Invalid argument");
}

bool SimulatedSpidevDriver::Message(Handle handle, std::span<const SpiTransfer> transfers) {
  SpidevNode* node = NodeOf(handle);  // before the count: a node gone fails as gone
  const bool injected = faults_.Next();
  if (node == nullptr) return false;
  if (injected) return Fail("Input/output error");
  Nanoseconds busy{0};
  std::string error;
  if (!node->Run(transfers, clock_.Now(), busy, error)) return Fail(error);
  if (timingModel_) clock_.Wait(kSpidevCallTime + busy);
  node->Done(clock_.Now());
  return true;
}

}  // namespace pemra::sim
