#include "interfaces/ParallelPortSpi.h"

#include <algorithm>

#include "core/Timing.h"
#include "interfaces/TraceText.h"

namespace pemra {

namespace {

// Data-register values (bit 2 DIN, bit 1 SCLK, bit 0 CS, each inverted by the cable) and
// what they mean at the sensor.
constexpr uint8_t kIdle = 0;              // CS high, SCLK high, DIN high
constexpr uint8_t kDeselectedDinLow = 4;  // CS high, SCLK high, DIN low
constexpr uint8_t kClockHighDinLow = 5;   // CS low, SCLK high, DIN low
constexpr uint8_t kClockLowDinLow = 7;    // CS low, SCLK low, DIN low
constexpr uint8_t kClockLowDinHigh = 3;   // CS low, SCLK low, DIN high
constexpr uint8_t kClockHighDinHigh = 1;  // CS low, SCLK high, DIN high

constexpr uint8_t kDoutMask = 0x40;  // status bit 6: inverted DOUT
constexpr float kFrameStallMs = 0.1f;

}  // namespace

ParallelPortSpi::ParallelPortSpi(const Selection& selection, PortIo& io, Clock& clock,
                                 MessageSink& messages, TraceSink* trace)
    : selection_(selection), io_(io), clock_(clock), messages_(messages), trace_(trace) {}

void ParallelPortSpi::ParallelWriteFrame(int32_t frame) {
  if (selection_.InterfaceType != 1) return;
  SendFrame(frame);
  if (trace_ != nullptr) TraceSpiFrame(*trace_, static_cast<uint16_t>(frame), kNoAnswer);
}

int32_t ParallelPortSpi::ParallelReadWord(int16_t& address) {
  address = static_cast<int16_t>(address & 0x7F);
  if (selection_.InterfaceType != 1) return 0;

  // The command frame; the sensor answers during the next frame.
  const auto command = static_cast<uint16_t>(address << 8);
  SendFrame(command);
  if (trace_ != nullptr) TraceSpiFrame(*trace_, command, kNoAnswer);

  // A frame of zero bits (DIN held low) that clocks the answer in, most significant bit
  // first: the sensor puts out each bit after the falling clock edge.
  const uint16_t p = Base();
  const auto status = static_cast<uint16_t>(p + 1);
  int32_t word = 0;
  io_.Out(p, kDeselectedDinLow);
  io_.Out(p, kClockHighDinLow);
  for (int n = 15; n >= 0; --n) {
    io_.Out(p, kClockLowDinLow);
    if ((io_.In(status) & kDoutMask) == 0) word += int32_t{1} << n;
    io_.Out(p, kClockHighDinLow);
  }
  io_.Out(p, kIdle);
  Delay(clock_, kFrameStallMs);
  if (trace_ != nullptr) TraceSpiFrame(*trace_, 0x0000, word);
  return word;
}

void ParallelPortSpi::ParallelPortInit() {
  if (selection_.InterfaceType != 1) return;
  // The status-register write is the initialisation the lines have always had; some back
  // ends cannot carry it out and skip it.
  io_.Out(static_cast<uint16_t>(Base() + 1), 0x40);
  Delay(clock_, kFrameStallMs);
  io_.Out(Base(), kIdle);
}

bool ParallelPortSpi::EnablePortAccess() {
  std::string device;
  std::string reason;
  if (io_.EnableAccess(Base(), device, reason)) {
    PortIoEnabled = true;
    return true;
  }
  PortIoEnabled = false;
  std::string text = "The required I/O drivers could not be installed.";
  text += '\n';
  text += device;
  if (!reason.empty()) {
    if (!device.empty()) text += ": ";
    text += reason;
  }
  messages_.Show(Message{std::move(text), "Error", MessageIcon::None});
  return false;
}

int32_t ParallelPortSpi::ReadWord(int16_t address) { return ParallelReadWord(address); }

void ParallelPortSpi::WriteFramePair(int32_t frameA, int32_t frameB) {
  ParallelWriteFrame(frameA);
  ParallelWriteFrame(frameB);
}

bool ParallelPortSpi::ReadWords(std::span<const int16_t> addresses, std::span<int32_t> words) {
  std::fill(words.begin(), words.end(), 0);
  if (selection_.InterfaceType != 1 || words.size() != addresses.size()) return false;
  for (size_t i = 0; i <= addresses.size(); ++i) {
    const auto frame =
        i < addresses.size() ? static_cast<uint16_t>((addresses[i] & 0x7F) << 8) : uint16_t{0};
    const int32_t answer = ExchangeFrame(frame);
    if (trace_ != nullptr) TraceSpiFrame(*trace_, frame, answer);
    if (i > 0) words[i - 1] = answer;
  }
  return true;
}

uint16_t ParallelPortSpi::Base() const { return static_cast<uint16_t>(selection_.PortAddress); }

void ParallelPortSpi::SendFrame(int32_t frame) {
  const uint16_t p = Base();
  io_.Out(p, kDeselectedDinLow);
  io_.Out(p, kClockHighDinLow);
  for (int n = 15; n >= 0; --n) {
    const bool one = ((frame >> n) & 1) != 0;
    io_.Out(p, kClockLowDinLow);                           // clock low
    io_.Out(p, one ? kClockLowDinHigh : kClockLowDinLow);  // data set while the clock is low
    io_.Out(p, one ? kClockHighDinHigh : kClockHighDinLow);  // rising edge: sensor takes it
    io_.Out(p, kClockHighDinLow);                          // DIN back to low
  }
  io_.Out(p, kIdle);
  Delay(clock_, kFrameStallMs);
}

int32_t ParallelPortSpi::ExchangeFrame(uint16_t frame) {
  const uint16_t p = Base();
  const auto status = static_cast<uint16_t>(p + 1);
  int32_t word = 0;
  io_.Out(p, kDeselectedDinLow);
  io_.Out(p, kClockHighDinLow);
  for (int n = 15; n >= 0; --n) {
    const bool one = ((frame >> n) & 1) != 0;
    io_.Out(p, one ? kClockLowDinHigh : kClockLowDinLow);  // the sensor puts out its next bit
    if ((io_.In(status) & kDoutMask) == 0) word += int32_t{1} << n;
    io_.Out(p, one ? kClockHighDinHigh : kClockHighDinLow);  // rising edge: sensor takes DIN
  }
  io_.Out(p, kIdle);
  Delay(clock_, kFrameStallMs);
  return word;
}

}  // namespace pemra
