#pragma once
// The sensor's SPI pins: turns frames into register reads and writes, the only way in.
// The bit-banged port drives it edge by edge (chip select, clock, data); the USB adapter,
// whose firmware clocks whole words, hands it one 16-bit frame at a time. SPI mode: chip
// select active low, clock idle high, data changed on the falling edge and taken on the
// rising edge, most significant bit first.

#include <cstdint>
#include <vector>

#include "sim/SimulatedSensor.h"

namespace pemra::sim {

class SpiSlave {
 public:
  explicit SpiSlave(SimulatedSensor& sensor) : sensor_(sensor) {}

  // ---- word level ----
  // One complete frame: returns the word shifted out during it. With `fastClock` (the
  // adapter) and the sensor in low-power sampling, the word arrives shifted left by one bit.
  uint16_t Transfer(uint16_t mosi, bool fastClock = false);

  // ---- bit level ----
  void ChipSelectFalling();  // starts a frame
  void ChipSelectRising();   // ends it: 16 clocks deliver the frame, any other count is an error
  void ClockFalling();       // shifts out the next answer bit
  void ClockRising(bool din);  // takes the next data bit
  // The frame under way breaks the serial timing limits: the word taken is the one sent
  // shifted left by one bit, and the answer bits still to come are shifted the same way.
  void ShiftByOne() { shiftedByOne_ = true; }
  // Level of the sensor's data output: the bit last shifted out, high while deselected.
  bool Dout() const { return dout_; }
  bool Selected() const { return selected_; }

  // The words the sensor took, in order, while recording (for tests; at most 4096 kept).
  void RecordFrames(bool on) {
    recording_ = on;
    taken_.clear();
  }
  const std::vector<uint16_t>& FramesTaken() const { return taken_; }
  // Frames delivered to the sensor and frames discarded for a wrong clock count.
  uint64_t FramesDelivered() const { return delivered_; }
  uint64_t FramesDiscarded() const { return discarded_; }
  SimulatedSensor& Sensor() { return sensor_; }

 private:
  SimulatedSensor& sensor_;
  bool selected_ = false;
  bool dout_ = true;
  uint16_t out_ = 0;
  uint16_t in_ = 0;
  int shifted_ = 0;  // answer bits shifted out in this frame
  int clocks_ = 0;   // rising edges in this frame
  bool shiftedByOne_ = false;
  bool recording_ = false;
  std::vector<uint16_t> taken_;
  uint64_t delivered_ = 0;
  uint64_t discarded_ = 0;
};

}  // namespace pemra::sim
