#pragma once
// Helpers for the simulator's tests: register access straight through the SPI slave, and the
// exact data-register sequence of one frame on the bit-banged port.

#include <cstdint>
#include <vector>

#include "core/Clock.h"
#include "sim/Rig.h"
#include "sim/SensorRegisters.h"
#include "sim/SpiSlave.h"

namespace pemra::sim::test {

// A read frame, then a zero frame that clocks the word in.
inline uint16_t SpiRead(SpiSlave& slave, uint8_t address) {
  slave.Transfer(uint16_t((address & 0x7F) << 8));
  return slave.Transfer(0x0000);
}

// The two byte writes of a register, high byte (odd address) first.
inline void SpiWrite(SpiSlave& slave, uint8_t address, uint16_t word) {
  slave.Transfer(uint16_t(0x8000 | ((address + 1) & 0x7F) << 8 | (word >> 8)));
  slave.Transfer(uint16_t(0x8000 | (address & 0x7F) << 8 | (word & 0xFF)));
}

// The 67 data-register values that send one frame through the inverting cable: 4, 5, then per
// bit (MSB first) 7, 3 or 7, 1 or 5, 5, then 0.
inline std::vector<uint8_t> PortFrameWrites(uint16_t frame) {
  std::vector<uint8_t> w = {4, 5};
  for (int n = 15; n >= 0; --n) {
    const bool bit = (frame >> n) & 1;
    w.insert(w.end(), {7, uint8_t(bit ? 3 : 7), uint8_t(bit ? 1 : 5), 5});
  }
  w.push_back(0);
  return w;
}

// Chip select stays high this long after each frame, as the program's port transport does.
inline constexpr Nanoseconds kPortStall = std::chrono::microseconds(100);

inline void PortSendFrame(PortIo& port, Clock& clock, uint16_t base, uint16_t frame) {
  for (uint8_t v : PortFrameWrites(frame)) port.Out(base, v);
  clock.Wait(kPortStall);
}

// The zero frame of a port read, collecting the answer from status bit 6 (0 = a 1 bit).
inline uint16_t PortReceiveWord(PortIo& port, Clock& clock, uint16_t base) {
  uint16_t word = 0;
  port.Out(base, 4);
  port.Out(base, 5);
  for (int n = 15; n >= 0; --n) {
    port.Out(base, 7);
    if ((port.In(uint16_t(base + 1)) & 0x40) == 0) word |= uint16_t(1u << n);
    port.Out(base, 5);
  }
  port.Out(base, 0);
  clock.Wait(kPortStall);
  return word;
}

inline uint16_t PortRead(PortIo& port, Clock& clock, uint16_t base, uint8_t address) {
  PortSendFrame(port, clock, base, uint16_t((address & 0x7F) << 8));
  return PortReceiveWord(port, clock, base);
}

inline void PortWrite(PortIo& port, Clock& clock, uint16_t base, uint8_t address, uint16_t word) {
  PortSendFrame(port, clock, base,
                uint16_t(0x8000 | ((address + 1) & 0x7F) << 8 | (word >> 8)));
  PortSendFrame(port, clock, base, uint16_t(0x8000 | (address & 0x7F) << 8 | (word & 0xFF)));
}

// The data bits of an output word, sign-converted at the field width.
inline int32_t Data(uint16_t word, int width, bool isSigned) {
  return isSigned ? SignExtend(word, width) : int32_t(word & ((1u << width) - 1));
}

// A quiet sensor: at rest, no noise.
inline RigOptions QuietOptions() {
  RigOptions o;
  o.noise = false;
  o.motion = MotionProfile::AtRest();
  return o;
}

inline Nanoseconds Ms(double ms) { return Nanoseconds(int64_t(ms * 1e6)); }

}  // namespace pemra::sim::test
