#include "sim/MpsseEngine.h"

#include <algorithm>

namespace pemra::sim {

namespace {

constexpr uint8_t kShiftWriteNegative = 0x01;
constexpr uint8_t kShiftBits = 0x02;
constexpr uint8_t kShiftReadNegative = 0x04;
constexpr uint8_t kShiftLsbFirst = 0x08;
constexpr uint8_t kShiftWrite = 0x10;
constexpr uint8_t kShiftRead = 0x20;
constexpr uint8_t kPinSk = 0x01;
constexpr uint8_t kPinDo = 0x02;
constexpr uint8_t kPinDi = 0x04;
constexpr uint8_t kPinCs = 0x08;
constexpr uint32_t kBaseHz = 60'000'000;

// A data-shifting command: no TMS, no bit 7, and it writes or reads.
bool IsShift(uint8_t command) {
  return (command & 0xC0) == 0 && (command & (kShiftWrite | kShiftRead)) != 0;
}

}  // namespace

void MpsseEngine::SetMpsse(bool on) {
  mpsse_ = on;
  pending_.clear();
}

void MpsseEngine::Purge() {
  answers_.clear();
  pending_.clear();
}

size_t MpsseEngine::Read(uint8_t* data, size_t length) {
  const size_t n = std::min(length, answers_.size());
  for (size_t i = 0; i < n; ++i) {
    data[i] = answers_.front();
    answers_.pop_front();
  }
  return n;
}

uint32_t MpsseEngine::ClockHz() const {
  const uint32_t base = divideBy5_ ? kBaseHz / 5 : kBaseHz;
  return base / ((uint32_t{divisor_} + 1) * 2);
}

void MpsseEngine::Write(const uint8_t* data, size_t length) {
  if (!mpsse_ || data == nullptr) return;
  pending_.insert(pending_.end(), data, data + length);
  while (!pending_.empty() && Step()) {
  }
}

void MpsseEngine::SetLow(uint8_t value, uint8_t direction) {
  lowValue_ = value;
  lowDirection_ = direction;
  if (direction & kPinDo) wire_.SetDataOut((value & kPinDo) != 0);
  // An undriven chip-select line is pulled up: the sensor is not selected.
  wire_.Select((direction & kPinCs) != 0 && (value & kPinCs) == 0);
}

uint8_t MpsseEngine::Shift(uint8_t command, uint8_t out, int bits) {
  const bool idleHigh = (lowDirection_ & kPinSk) == 0 || SkLevel();
  BitTiming timing;
  timing.idleHigh = idleHigh;
  // The falling edge comes first when the clock idles high.
  timing.writeOnFirst = ((command & kShiftWriteNegative) != 0) == idleHigh;
  timing.readOnFirst = ((command & kShiftReadNegative) != 0) == idleHigh;
  // A clock line that is not driven reaches the sensor as no edges.
  timing.hz = (lowDirection_ & kPinSk) != 0 ? ClockHz() : kSensorMaxClockHz + 1;
  const bool lsbFirst = (command & kShiftLsbFirst) != 0;
  const bool writes = (command & kShiftWrite) != 0;
  uint8_t in = 0;
  for (int i = 0; i < bits; ++i) {
    const int bit = lsbFirst ? i : 7 - i;
    const bool level = writes ? ((out >> bit) & 1) != 0 : wire_.DataOut();
    bool got = wire_.ClockBit(level, timing);
    if (loopback_) got = wire_.DataOut();
    if (lsbFirst) {
      in = static_cast<uint8_t>(in | (got ? 1 << i : 0));
    } else {
      in = static_cast<uint8_t>((in << 1) | (got ? 1 : 0));
    }
  }
  if (!lsbFirst && bits < 8) in = static_cast<uint8_t>(in << (8 - bits));
  return in;
}

void MpsseEngine::IdleClocks(uint32_t bits) {
  BitTiming timing;
  timing.idleHigh = (lowDirection_ & kPinSk) == 0 || SkLevel();
  timing.hz = (lowDirection_ & kPinSk) != 0 ? ClockHz() : kSensorMaxClockHz + 1;
  for (uint32_t i = 0; i < bits; ++i) wire_.ClockBit(wire_.DataOut(), timing);
}

bool MpsseEngine::Step() {
  const std::vector<uint8_t>& p = pending_;
  const uint8_t command = p[0];
  size_t length = 1;
  const auto need = [&](size_t n) { return p.size() >= n; };

  if (IsShift(command)) {
    const bool writes = (command & kShiftWrite) != 0;
    const bool reads = (command & kShiftRead) != 0;
    if ((command & kShiftBits) != 0) {
      if (!need(2)) return false;
      const int bits = (p[1] & 0x07) + 1;
      length = writes ? 3 : 2;
      if (!need(length)) return false;
      const uint8_t in = Shift(command, writes ? p[2] : 0, bits);
      if (reads) answers_.push_back(in);
    } else {
      if (!need(3)) return false;
      const size_t count = size_t(p[1] | p[2] << 8) + 1;
      length = 3 + (writes ? count : 0);
      if (!need(length)) return false;
      for (size_t i = 0; i < count; ++i) {
        const uint8_t in = Shift(command, writes ? p[3 + i] : 0, 8);
        if (reads) answers_.push_back(in);
      }
    }
  } else {
    switch (command) {
      case 0x80:  // low byte: value, direction
        if (!need(3)) return false;
        SetLow(p[1], p[2]);
        length = 3;
        break;
      case 0x82:  // high byte: nothing is wired there
        if (!need(3)) return false;
        length = 3;
        break;
      case 0x81:  // read the low byte (DI as the idle sensor leaves it: high)
        answers_.push_back(static_cast<uint8_t>(lowValue_ | kPinDi));
        break;
      case 0x83:
        answers_.push_back(0xFF);
        break;
      case 0x84:
      case 0x85:
        loopback_ = command == 0x84;
        break;
      case 0x86:
        if (!need(3)) return false;
        divisor_ = static_cast<uint16_t>(p[1] | p[2] << 8);
        length = 3;
        break;
      case 0x87:  // send immediate: answers go out as they are made here
        break;
      case 0x8A:
      case 0x8B:
        divideBy5_ = command == 0x8B;
        break;
      case 0x8C:
      case 0x8D:
      case 0x96:
      case 0x97:  // three-phase and adaptive clocking: accepted, not modelled
        break;
      case 0x8E:  // n + 1 clocks
        if (!need(2)) return false;
        IdleClocks(uint32_t{p[1]} + 1);
        length = 2;
        break;
      case 0x8F:  // (n + 1) x 8 clocks
        if (!need(3)) return false;
        IdleClocks((uint32_t(p[1] | p[2] << 8) + 1) * 8);
        length = 3;
        break;
      default:
        ++badCommands_;
        answers_.push_back(0xFA);
        answers_.push_back(command);
        break;
    }
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
  return true;
}

}  // namespace pemra::sim
