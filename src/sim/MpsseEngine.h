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
//
// GPIOL1 (ADBUS5) may be wired to the sensor's DI/O1, its data-ready output; unwired, the
// pin's pull-up holds it high. "Wait on I/O high" (0x88) and "wait on I/O low" (0x89), which
// every chip of the family has, stop the engine until GPIOL1 is at that level; the commands
// behind them stay queued, and only a reset of the bit mode or a purge ends a wait for a
// level that never comes. The chip has a timeline of its own: its work starts at the host's
// time when it was idle, advances by the bus time it clocks, and continues from the moment
// the line reaches the level a wait asks for, which on a host that looks late lies in the
// past: the queued frames then reach the sensor as they would have at that moment, so queued
// waits complete at the sensor's data-ready edges whatever the host's scheduling. Work never
// runs ahead of the host's clock: a wait for an edge still to come holds until the host's
// time passes it (Advance).

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
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
  void PurgeCommands() {
    pending_.clear();
    waiting_ = false;
    waitingUntil_.reset();
  }
  void Purge();

  // The host's work on the lines starts and ends at these clock times (see SpiWire).
  void Resume(Nanoseconds now);
  void Pause(Nanoseconds now) { wire_.Pause(now); }
  // The host's clock reads `now`: queued commands behind a wait whose level has come by then
  // run.
  void Advance(Nanoseconds now);
  // GPIOL1 wired to the sensor's data-ready line (DI/O1) or left open.
  void WireGpiol1(bool wired) { gpiol1Wired_ = wired; }
  bool Gpiol1Wired() const { return gpiol1Wired_; }
  // The engine stands at a wait (commands queued behind it), and the time the line reaches
  // its level (none: not before a change of the sensor's registers, or never).
  bool Waiting() const { return waiting_; }
  std::optional<Nanoseconds> WaitingUntil() const { return waitingUntil_; }

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
  // Runs the commands queued as far as they can go.
  void Run();
  // Runs the command at the front of pending_; false when it is not complete yet or it is a
  // wait whose level has not come.
  bool Step();
  // A wait for GPIOL1 at `high`: true when the level is there (the chip then continues at
  // the moment it came).
  bool WaitFor(bool high);
  // GPIOL1's level at `at`, and the earliest time from `at` on at which it is at `high`.
  bool Gpiol1At(Nanoseconds at);
  std::optional<Nanoseconds> Gpiol1Reaches(bool high, Nanoseconds at);
  Nanoseconds ChipNow() const { return chipBase_ + (wire_.BusyTotal() - busMark_); }
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
  bool gpiol1Wired_ = false;
  Nanoseconds hostNow_{0};
  Nanoseconds chipBase_{0};  // the chip's time when the bus time busMark_ had been clocked
  Nanoseconds busMark_{0};
  bool behind_ = false;      // the chip's work runs at a time before the host's
  bool waiting_ = false;
  std::optional<Nanoseconds> waitingUntil_;
};

}  // namespace pemra::sim
