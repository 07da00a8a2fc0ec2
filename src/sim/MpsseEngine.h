#pragma once
// One FTDI channel's MPSSE engine, as far as an SPI master needs it: the low byte's lines
// (SK 0, DO 1, DI 2, chip select on line 3) wired to the sensor, the clock divisor and base
// clock, loopback, idle clocks, and the byte and bit shifting commands on either edge in
// either bit order, clocked as FTDI's AN_108 describes them: the first bit is put on DO
// before the clock runs, and DO moves on to the next bit at every edge of the write
// polarity, the first included. (With SK idling high and data written on the falling edge,
// a rising-edge slave therefore takes the second bit first.) Changing SK with the low-byte
// command is an edge on the line too.
//
// The chip is known by its bcdDevice: an FT2232D (0x0500) runs from a 12 MHz base clock and
// answers the H-series commands (0x8A-0x8F, 0x94-0x97, 0x9C-0x9E) as unknown ones. A command
// the engine does not know is answered 0xFA and the command. A command split over two writes
// waits for its remaining bytes. Answers queue until read.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "core/Clock.h"
#include "sim/SpiWire.h"

namespace pemra::sim {

inline constexpr uint16_t kBcdFt2232d = 0x0500;
inline constexpr uint16_t kBcdFt2232h = 0x0700;
inline constexpr uint16_t kBcdFt232h = 0x0900;

class MpsseEngine {
 public:
  // `slave` null: nothing on the lines.
  explicit MpsseEngine(SpiSlave* slave, uint16_t bcdDevice = kBcdFt232h)
      : wire_(slave), bcdDevice_(bcdDevice) {}

  // The bit mode: MPSSE on, or reset (the serial mode, in which written bytes are not
  // commands; the engine then ignores them). Entering either clears a command half received.
  void SetMpsse(bool on);
  bool Mpsse() const { return mpsse_; }
  // Bytes written to the channel.
  void Write(const uint8_t* data, size_t length);
  // Answers waiting; Read takes up to `length` of them.
  size_t Available() const { return answers_.size(); }
  size_t Read(uint8_t* data, size_t length);
  // Drops waiting answers (the chip's buffer towards the host) and a half-received command
  // (its buffer from the host).
  void PurgeAnswers() { answers_.clear(); }
  void PurgeCommands() { pending_.clear(); }
  void Purge();

  // The host's work on the lines starts and ends at these clock times (see SpiWire).
  void Resume(Nanoseconds now) { wire_.Resume(now); }
  void Pause(Nanoseconds now) { wire_.Pause(now); }

  // The SPI clock the divisor and base clock give.
  uint32_t ClockHz() const;
  bool HSeries() const { return bcdDevice_ != kBcdFt2232d; }
  uint16_t BcdDevice() const { return bcdDevice_; }
  // Bus time clocked since the last call.
  Nanoseconds TakeBusyTime() { return wire_.TakeBusyTime(); }
  uint64_t BadCommands() const { return badCommands_; }
  uint64_t FramesOutsideLimits() const { return wire_.FramesOutsideLimits(); }
  uint8_t LowValue() const { return lowValue_; }
  uint8_t LowDirection() const { return lowDirection_; }
  bool ChipSelected() const { return wire_.Selected(); }

 private:
  // Runs the command at the front of pending_; false when it is not complete yet.
  bool Step();
  bool Known(uint8_t command) const;
  void SetLow(uint8_t value, uint8_t direction);
  // One shifting command: `bits` bits of `out` (MSB of each byte first unless lsbFirst);
  // what came in, packed the same way.
  std::vector<uint8_t> Shift(uint8_t command, const uint8_t* out, size_t bits);
  void IdleClocks(uint32_t bits);
  bool SkLevel() const { return (lowDirection_ & 0x01) == 0 || (lowValue_ & 0x01) != 0; }
  Nanoseconds HalfPeriod() const;

  SpiWire wire_;
  uint16_t bcdDevice_;
  bool mpsse_ = false;
  std::vector<uint8_t> pending_;
  std::deque<uint8_t> answers_;
  uint8_t lowValue_ = 0;
  uint8_t lowDirection_ = 0;
  uint16_t divisor_ = 0;
  bool divideBy5_ = true;  // the H series starts on its 12 MHz base clock
  bool loopback_ = false;
  uint64_t badCommands_ = 0;
};

}  // namespace pemra::sim
