#pragma once
// The lines between an SPI master that clocks bit by bit (the FTDI engine, a spidev
// controller, the bit-banged port) and the sensor's pins: chip select, clock edges in the
// order the master makes them, data out and in, on a timeline of their own. The sensor takes
// data on the rising edge and shifts on the falling one (mode 3), so a master in another
// mode, or with its clock idling low, gets the words it would get from the real part.
//
// The sensor's serial timing limits hold on this timeline: the clock (rising edge to rising
// edge, or a master's declared bit time) at most 2 MHz and chip select high at least 10 us
// between frames; in low-power sampling (SMPL_PRD above 0x09) 300 kHz and 75 us. A frame that
// breaks one is received shifted left by one bit, and its answer comes out shifted the same way.
//
// The timeline advances by the clock edges, by waits the master makes on the lines, and, between
// two pieces of work of the host (Resume .. Pause), by the time that passed on the host's clock.

#include <cstdint>

#include "core/Clock.h"
#include "sim/SpiSlave.h"

namespace pemra::sim {

// The sensor's serial timing limits in one sampling mode.
struct SerialLimits {
  uint32_t maxHz;
  Nanoseconds minStall;  // chip select high between frames
};
inline constexpr SerialLimits kNormalSerialLimits{2'000'000, std::chrono::microseconds(10)};
inline constexpr SerialLimits kLowPowerSerialLimits{300'000, std::chrono::microseconds(75)};
inline constexpr uint32_t kSensorMaxClockHz = kNormalSerialLimits.maxHz;

// How one bit cycle is clocked by a master in one of the four SPI modes.
struct BitTiming {
  bool idleHigh = true;        // the clock's level between bits
  bool writeOnFirst = true;    // data out changes on the cycle's first edge (else before it)
  bool readOnFirst = false;    // data in is taken on the first edge (else on the second)
  uint32_t hz = kSensorMaxClockHz;
  // The SPI mode (CPOL bit 1, CPHA bit 0) as a master in that mode clocks it.
  static BitTiming Mode(uint8_t mode, uint32_t hz);
};

class SpiWire {
 public:
  // `slave` null: nothing is connected (data in reads high).
  explicit SpiWire(SpiSlave* slave) : slave_(slave) {}

  // The host starts a piece of work at `now` on its clock: the time since the last Pause
  // passed on the lines with nothing changing. Pause marks the end of that work.
  void Resume(Nanoseconds now);
  void Pause(Nanoseconds now);
  // Time passing on the lines with nothing changing.
  void Wait(Nanoseconds time);

  // Chip select driven low (true) or high.
  void Select(bool selected);
  bool Selected() const { return selected_; }
  // One clock edge, `halfPeriod` after the previous one (0: a level change whose speed only
  // the edges around it tell). At an edge both sides first take what the lines hold, then
  // change their outputs.
  void Edge(bool rising, Nanoseconds halfPeriod = Nanoseconds(0));
  // The sensor's data output as the master sees it.
  bool DataIn() const { return slave_ != nullptr ? slave_->Dout() : true; }
  // Level of the master's data out (kept between cycles).
  bool DataOut() const { return dataOut_; }
  void SetDataOut(bool level) { dataOut_ = level; }

  // One bit cycle of a master in an SPI mode: `out` out, returns the bit read in.
  bool ClockBit(bool out, const BitTiming& timing);

  // Bus time clocked since the last call (clock edges and waits, not host gaps).
  Nanoseconds TakeBusyTime();
  // All bus time clocked so far (never reset).
  Nanoseconds BusyTotal() const { return Nanoseconds(busyTotalNs_); }
  SpiSlave* Slave() const { return slave_; }
  // Frames received outside the timing limits, since the start.
  uint64_t FramesOutsideLimits() const { return outside_; }

 private:
  void Corrupt();

  SpiSlave* slave_;
  bool selected_ = false;
  bool dataOut_ = false;
  bool corrupted_ = false;
  SerialLimits limits_ = kNormalSerialLimits;
  int64_t nowNs_ = 0;                  // the lines' own timeline
  int64_t deselectedNs_ = INT64_MIN / 2;  // chip select last went high (long ago at first)
  int64_t risingNs_ = -1;              // last rising edge in this frame (-1: none yet)
  int64_t pausedAt_ = -1;              // host clock at the last Pause (-1: none)
  int64_t busyNs_ = 0;
  int64_t busyTotalNs_ = 0;
  uint64_t outside_ = 0;
};

}  // namespace pemra::sim
