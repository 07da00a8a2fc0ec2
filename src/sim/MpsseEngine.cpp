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
constexpr uint8_t kPinGpiol1 = 0x20;  // ADBUS5
constexpr int kDataReadyLine = 0;     // the sensor's DI/O1
constexpr uint32_t kHBaseHz = 60'000'000;
constexpr uint32_t kDBaseHz = 12'000'000;

// A data-shifting command: no TMS, no bit 7, and it writes or reads.
bool IsShift(uint8_t command) {
  return (command & 0xC0) == 0 && (command & (kShiftWrite | kShiftRead)) != 0;
}

// The commands only the H series knows.
bool HSeriesOnly(uint8_t command) {
  return (command >= 0x8A && command <= 0x8F) || (command >= 0x94 && command <= 0x97) ||
         (command >= 0x9C && command <= 0x9E);
}

}  // namespace

void MpsseEngine::SetMpsse(bool on) {
  mpsse_ = on;
  pending_.clear();
  waiting_ = false;
  waitingUntil_.reset();
}

void MpsseEngine::Resume(Nanoseconds now) {
  wire_.Resume(now);
  hostNow_ = std::max(hostNow_, now);
  // What the chip had queued ran as its waits came due, before anything written from now on.
  if (waiting_) Run();
  if (pending_.empty()) {
    // Idle, the chip takes up new work at the host's time.
    chipBase_ = now;
    busMark_ = wire_.BusyTotal();
    behind_ = false;
  }
}

void MpsseEngine::Advance(Nanoseconds now) {
  hostNow_ = std::max(hostNow_, now);
  if (waiting_) Run();
}

void MpsseEngine::Run() {
  SimulatedSensor* sensor = wire_.Slave() != nullptr ? &wire_.Slave()->Sensor() : nullptr;
  while (!pending_.empty()) {
    if (sensor != nullptr && behind_) sensor->SetWorkTime(std::min(ChipNow(), hostNow_));
    if (!Step()) break;
  }
  if (sensor != nullptr) sensor->SetWorkTime(std::nullopt);
}

bool MpsseEngine::Gpiol1At(Nanoseconds at) {
  if (lowDirection_ & kPinGpiol1) return (lowValue_ & kPinGpiol1) != 0;
  if (!gpiol1Wired_ || wire_.Slave() == nullptr) return true;  // the pull-up
  return wire_.Slave()->Sensor().LineLevelAt(kDataReadyLine, at);
}

std::optional<Nanoseconds> MpsseEngine::Gpiol1Reaches(bool high, Nanoseconds at) {
  if ((lowDirection_ & kPinGpiol1) || !gpiol1Wired_ || wire_.Slave() == nullptr) {
    if (Gpiol1At(at) == high) return at;
    return std::nullopt;
  }
  return wire_.Slave()->Sensor().LineReaches(kDataReadyLine, high, at);
}

bool MpsseEngine::WaitFor(bool high) {
  const Nanoseconds chip = ChipNow();
  const std::optional<Nanoseconds> at = Gpiol1Reaches(high, chip);
  waiting_ = true;
  waitingUntil_ = at;
  if (!at) return false;
  if (*at > chip) {
    if (*at > hostNow_) return false;  // an edge still to come
    // The edge came while the host was away: the chip went on at that moment.
    chipBase_ = *at;
    busMark_ = wire_.BusyTotal();
    behind_ = true;
  }
  waiting_ = false;
  waitingUntil_.reset();
  return true;
}

void MpsseEngine::Purge() {
  PurgeAnswers();
  PurgeCommands();
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
  const uint32_t base = !HSeries() ? kDBaseHz : divideBy5_ ? kHBaseHz / 5 : kHBaseHz;
  return base / ((uint32_t{divisor_} + 1) * 2);
}

Nanoseconds MpsseEngine::HalfPeriod() const {
  return Nanoseconds(500'000'000LL / ClockHz());
}

void MpsseEngine::Write(const uint8_t* data, size_t length) {
  if (!mpsse_ || data == nullptr) return;
  pending_.insert(pending_.end(), data, data + length);
  Run();
}

void MpsseEngine::SetLow(uint8_t value, uint8_t direction) {
  const bool skBefore = SkLevel();
  lowValue_ = value;
  lowDirection_ = direction;
  if (direction & kPinDo) wire_.SetDataOut((value & kPinDo) != 0);
  // An undriven chip-select line is pulled up: the sensor is not selected. When chip select
  // and SK change in one command, the select comes first and the release last.
  const bool select = (direction & kPinCs) != 0 && (value & kPinCs) == 0;
  if (select) wire_.Select(true);
  if (SkLevel() != skBefore) wire_.Edge(SkLevel());
  if (!select) wire_.Select(false);
}

std::vector<uint8_t> MpsseEngine::Shift(uint8_t command, const uint8_t* out, size_t bits) {
  const bool writes = (command & kShiftWrite) != 0;
  const bool reads = (command & kShiftRead) != 0;
  const bool lsbFirst = (command & kShiftLsbFirst) != 0;
  const bool writeOnRising = (command & kShiftWriteNegative) == 0;
  const bool readOnRising = (command & kShiftReadNegative) == 0;
  const bool idleHigh = SkLevel();
  const bool skDriven = (lowDirection_ & kPinSk) != 0;
  const bool doDriven = (lowDirection_ & kPinDo) != 0;
  const Nanoseconds half = HalfPeriod();
  const auto bitOf = [&](size_t i) {
    const int k = static_cast<int>(i % 8);
    return ((out[i / 8] >> (lsbFirst ? k : 7 - k)) & 1) != 0;
  };

  std::vector<uint8_t> in((bits + 7) / 8, 0);
  size_t next = 0;  // the bit DO holds
  if (writes && doDriven) wire_.SetDataOut(bitOf(0));
  for (size_t i = 0; i < bits; ++i) {
    bool got = true;
    for (int e = 0; e < 2; ++e) {
      const bool rising = (e == 0) != idleHigh;  // idling high, the falling edge comes first
      if (reads && rising == readOnRising) got = loopback_ ? wire_.DataOut() : wire_.DataIn();
      if (skDriven) {
        wire_.Edge(rising, half);
      } else {
        wire_.Wait(half);  // no edge reaches the sensor
      }
      if (writes && doDriven && rising == writeOnRising) {
        next = std::min(next + 1, bits - 1);
        wire_.SetDataOut(bitOf(next));
      }
    }
    const int k = static_cast<int>(i % 8);
    if (got) in[i / 8] = static_cast<uint8_t>(in[i / 8] | 1 << (lsbFirst ? k : 7 - k));
  }
  // Bit reads of fewer than 8 bits: most significant first fills the byte from the top,
  // least significant first from the bottom.
  return in;
}

void MpsseEngine::IdleClocks(uint32_t bits) {
  const bool idleHigh = SkLevel();
  const Nanoseconds half = HalfPeriod();
  for (uint32_t i = 0; i < bits; ++i) {
    for (int e = 0; e < 2; ++e) {
      if ((lowDirection_ & kPinSk) != 0) {
        wire_.Edge((e == 0) != idleHigh, half);
      } else {
        wire_.Wait(half);
      }
    }
  }
}

bool MpsseEngine::Known(uint8_t command) const {
  if (HSeriesOnly(command) && !HSeries()) return false;
  switch (command) {
    case 0x80: case 0x81: case 0x82: case 0x83: case 0x84: case 0x85: case 0x86: case 0x87:
    case 0x88: case 0x89: case 0x8A: case 0x8B: case 0x8C: case 0x8D: case 0x8E: case 0x8F: case 0x96: case 0x97:
      return true;
    default:
      return IsShift(command);
  }
}

bool MpsseEngine::Step() {
  const std::vector<uint8_t>& p = pending_;
  const uint8_t command = p[0];
  size_t length = 1;
  const auto need = [&](size_t n) { return p.size() >= n; };

  if (!Known(command)) {
    ++badCommands_;
    answers_.push_back(0xFA);
    answers_.push_back(command);
  } else if (IsShift(command)) {
    const bool writes = (command & kShiftWrite) != 0;
    const bool reads = (command & kShiftRead) != 0;
    if ((command & kShiftBits) != 0) {
      if (!need(2)) return false;
      const size_t bits = (p[1] & 0x07) + 1;
      length = writes ? 3 : 2;
      if (!need(length)) return false;
      const uint8_t zero = 0;
      const std::vector<uint8_t> in = Shift(command, writes ? &p[2] : &zero, bits);
      if (reads) answers_.push_back(in[0]);
    } else {
      if (!need(3)) return false;
      const size_t count = size_t(p[1] | p[2] << 8) + 1;
      length = 3 + (writes ? count : 0);
      if (!need(length)) return false;
      const std::vector<uint8_t> zeros(writes ? 0 : count, 0);
      const std::vector<uint8_t> in = Shift(command, writes ? &p[3] : zeros.data(), count * 8);
      if (reads) answers_.insert(answers_.end(), in.begin(), in.end());
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
      case 0x81: {  // read the low byte: DI as the sensor drives it, GPIOL1 at the chip's time
        uint8_t value = static_cast<uint8_t>((lowValue_ & ~kPinDi) | (wire_.DataIn() ? kPinDi : 0));
        if ((lowDirection_ & kPinGpiol1) == 0) {
          value = static_cast<uint8_t>((value & ~kPinGpiol1) | (Gpiol1At(ChipNow()) ? kPinGpiol1 : 0));
        }
        answers_.push_back(value);
        break;
      }
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
      case 0x88:  // wait on I/O high
      case 0x89:  // wait on I/O low
        if (!WaitFor(command == 0x88)) return false;
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
        break;
    }
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
  return true;
}

}  // namespace pemra::sim
