#pragma once
// SPI over an FTDI board's MPSSE engine (interface 3): the channel found and chosen, its
// set-up (SPI mode 3, 16-bit frames most significant bit first, chip select on the
// channel's fourth line, a clock of at most 2 MHz), and command buffers that carry whole
// exchanges, so a register read or a burst costs one write and one read on the bus.
//
// The channel stays open while it is selected. Any failure shows one message naming the
// board and the library's reason, closes the channel and deselects it; from then on reads
// give 0 and nothing is sent, as with a lost USB adapter, until a new selection.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/Message.h"
#include "core/RegisterAccess.h"
#include "interfaces/FtdiDriver.h"

namespace pemra {

namespace mpsse {
// The commands the transport sends.
inline constexpr uint8_t kSetLowByte = 0x80;        // value, direction of ADBUS0..7
inline constexpr uint8_t kClockBytesOut = 0x11;     // out on the falling edge, MSB first
inline constexpr uint8_t kClockBytesInOut = 0x31;   // and in on the rising edge
inline constexpr uint8_t kLoopbackOff = 0x85;
inline constexpr uint8_t kSetDivisor = 0x86;        // low, high: 60 MHz / ((1 + d) x 2)
inline constexpr uint8_t kSendImmediate = 0x87;
inline constexpr uint8_t kDivideBy5Off = 0x8A;      // the 60 MHz base clock
inline constexpr uint8_t kThreePhaseOff = 0x8D;
inline constexpr uint8_t kClockBytesIdle = 0x8F;    // (n + 1) x 8 clocks, no data
inline constexpr uint8_t kAdaptiveOff = 0x97;
inline constexpr uint8_t kBogusCommand = 0xAA;      // answered 0xFA, 0xAA: the engine is in step
inline constexpr uint8_t kBadCommandReply = 0xFA;
// ADBUS lines: SK 0, DO 1, DI 2, CS 3.
inline constexpr uint8_t kDirections = 0x0B;        // SK, DO and CS driven
inline constexpr uint8_t kDeselected = 0x09;        // SK high (mode 3 idle), CS high
inline constexpr uint8_t kSelected = 0x01;          // SK high, CS low
inline constexpr uint32_t kBaseClockHz = 60'000'000;
}  // namespace mpsse

// The divisor for the fastest clock not above `maxHz`, and the clock it gives.
uint16_t MpsseDivisor(uint32_t maxHz);
uint32_t MpsseClockHz(uint16_t divisor);
// Idle bytes (8 clocks each, chip select high) that cover the sensor's stall at that clock.
uint16_t MpsseStallBytes(uint32_t clockHz);
// The set-up after the mode change: base clock, no adaptive or three-phase clocking, the
// divisor, lines idle, no loopback.
std::vector<uint8_t> MpsseSetupBuffer(uint16_t divisor);
// One command buffer for frames in order: each selects, clocks 16 bits (reading them when
// `read`), deselects, and all but the last then idle for the stall. A reading buffer ends
// with "send immediate" so the answers come back at once.
void AppendMpsseFrames(std::vector<uint8_t>& buffer, std::span<const uint16_t> frames, bool read,
                       uint16_t stallBytes);

// The channel a device text names ("SERIAL", "SERIAL:B", "1-3", "1-3:B"; channel A when
// none is given; empty: the first), or -1.
int FindFtdiChannel(const std::vector<FtdiChannel>& channels, std::string_view device);

class FtdiSpi final : public RegisterTransport {
 public:
  // `driver` may be null: no board is ever found.
  FtdiSpi(FtdiDriver* driver, MessageSink& messages, TraceSink* trace = nullptr);
  ~FtdiSpi() override;
  FtdiSpi(const FtdiSpi&) = delete;
  FtdiSpi& operator=(const FtdiSpi&) = delete;

  // Lists the boards' MPSSE channels into Channels. With `report`, finding none shows
  // "No FTDI board found" (with the reason when the bus could not be listed).
  bool Scan(bool report = true);
  // Searches, then opens and sets up the channel `device` names (empty: the first found);
  // a channel in use before is closed first. Failures show their message.
  bool Select(std::string_view device);
  // Closes the channel in use; nothing is sent from then on.
  void Deselect();

  std::vector<FtdiChannel> Channels;
  bool FtdiSelected = false;
  FtdiChannel SelectedChannel;
  // The fastest clock to use, at most the sensor's 2 MHz; taken at the next Select.
  uint32_t MaxClockHz;
  // The SPI clock of the channel in use.
  uint32_t ClockHz() const { return MpsseClockHz(divisor_); }

  // RegisterTransport: two frames for a read (the answer comes in the second), two write
  // frames, and n + 1 frames for a pipelined read; each is one command buffer and, when it
  // reads, one read of its answers.
  int32_t ReadWord(int16_t address) override;
  void WriteFramePair(int32_t frameA, int32_t frameB) override;
  bool ReadWords(std::span<const int16_t> addresses, std::span<int32_t> words) override;

  FtdiDriver* Driver() { return driver_; }

 private:
  // Sends the frames as one command buffer and, when `read`, reads their answers into
  // answers_. On failure shows `failText` with the board and the reason and deselects.
  bool Exchange(std::span<const uint16_t> frames, bool read, const char* failText);
  void Fail(const std::string& text);
  void Trace(char direction, const std::vector<uint8_t>& bytes);

  FtdiDriver* driver_;
  MessageSink& messages_;
  TraceSink* trace_;
  FtdiDriver::Handle handle_ = FtdiDriver::kNoHandle;
  uint16_t divisor_;
  uint16_t stallBytes_ = 0;
  std::vector<uint16_t> frames_;     // reused, so the hot path does not allocate
  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> answers_;
};

}  // namespace pemra
