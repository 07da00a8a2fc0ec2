#pragma once
// What the sensor asks of any SPI master that drives it directly (the FTDI and spidev
// transports): its clock limit, the stall between frames, and the frames of a pipelined
// read.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pemra {

// The sensor's highest serial clock.
inline constexpr uint32_t kSensorMaxClockHz = 2'000'000;
// Chip select stays high at least this long between two frames.
inline constexpr uint32_t kSensorStallMicroseconds = 10;
// Frames of one pipelined read at most; longer reads take several.
inline constexpr size_t kMaxBurstFrames = 64;

// The read frames of the addresses, then one read of address 0 whose frame clocks in the
// answer to the last (n + 1 frames; frame k + 1 answers frame k).
void PipelinedReadFrames(std::span<const int16_t> addresses, std::vector<uint16_t>& frames);

// "2.0 MHz", "0.5 MHz", "457 Hz" below 0.1 MHz.
std::string ClockText(uint32_t hz);

}  // namespace pemra
