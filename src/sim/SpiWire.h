#pragma once
// The lines between an SPI master that clocks bit by bit (the FTDI engine, a spidev
// controller) and the sensor's pins: chip select, clock edges in the order the master makes
// them, data out and in. The sensor takes data on the rising edge and shifts on the falling
// one (mode 3), so a master in another mode, or with its clock idling low, gets the words
// it would get from the real part. A clock above the sensor's 2 MHz reaches it as no clean
// edges at all: the frame is lost (STATUS bit 3) and its data line reads high.

#include <cstdint>

#include "core/Clock.h"
#include "sim/SpiSlave.h"

namespace pemra::sim {

inline constexpr uint32_t kSensorMaxClockHz = 2'000'000;

// How one bit cycle is clocked, seen from the master.
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

  // Chip select driven low (true) or high.
  void Select(bool selected);
  bool Selected() const { return selected_; }
  // One bit out; returns the bit read in. Counts the time the cycle takes.
  bool ClockBit(bool out, const BitTiming& timing);
  // Level of the master's data out (kept between cycles).
  bool DataOut() const { return dataOut_; }
  void SetDataOut(bool level) { dataOut_ = level; }

  // Bus time clocked since the last call.
  Nanoseconds TakeBusyTime();

 private:
  void Edge(bool rising, bool masterSamples, bool masterWrites, bool out, bool& in, bool clean);

  SpiSlave* slave_;
  bool selected_ = false;
  bool dataOut_ = false;
  double busyNs_ = 0;
};

}  // namespace pemra::sim
