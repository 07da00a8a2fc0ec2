#pragma once
// One FTDI channel's MPSSE engine, as far as an SPI master needs it: the low byte's lines
// (SK 0, DO 1, DI 2, chip select on line 3) wired to the sensor, the clock divisor and base
// clock, loopback, and the byte and bit shifting commands on either edge in either bit order.
// A command the engine does not know is answered 0xFA and the command, as the chip does. A
// command split over two writes waits for its remaining bytes. Answers queue until read.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "core/Clock.h"
#include "sim/SpiWire.h"

namespace pemra::sim {

class MpsseEngine {
 public:
  // `slave` null: nothing on the lines.
  explicit MpsseEngine(SpiSlave* slave) : wire_(slave) {}

  // The bit mode: MPSSE on, or reset (the serial mode, in which written bytes are not
  // commands; the engine then ignores them). Entering either clears a command half received.
  void SetMpsse(bool on);
  bool Mpsse() const { return mpsse_; }
  // Bytes written to the channel.
  void Write(const uint8_t* data, size_t length);
  // Answers waiting; Read takes up to `length` of them.
  size_t Available() const { return answers_.size(); }
  size_t Read(uint8_t* data, size_t length);
  // Drops waiting answers and a half-received command.
  void Purge();

  // The SPI clock the divisor and base clock give.
  uint32_t ClockHz() const;
  // Bus time clocked since the last call.
  Nanoseconds TakeBusyTime() { return wire_.TakeBusyTime(); }
  uint64_t BadCommands() const { return badCommands_; }
  uint8_t LowValue() const { return lowValue_; }
  uint8_t LowDirection() const { return lowDirection_; }
  bool ChipSelected() const { return wire_.Selected(); }

 private:
  // Runs the command at the front of pending_; false when it is not complete yet.
  bool Step();
  void SetLow(uint8_t value, uint8_t direction);
  // Clocks `bits` bits of `out` (MSB first unless lsbFirst) and returns what came in.
  uint8_t Shift(uint8_t command, uint8_t out, int bits);
  void IdleClocks(uint32_t bits);
  bool SkLevel() const { return (lowValue_ & 0x01) != 0; }

  SpiWire wire_;
  bool mpsse_ = false;
  std::vector<uint8_t> pending_;
  std::deque<uint8_t> answers_;
  uint8_t lowValue_ = 0;
  uint8_t lowDirection_ = 0;
  uint16_t divisor_ = 0;
  bool divideBy5_ = true;  // the chip starts on its 12 MHz base clock
  bool loopback_ = false;
  uint64_t badCommands_ = 0;
};

}  // namespace pemra::sim
