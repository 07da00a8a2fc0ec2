#pragma once
// SPI over an FTDI board's MPSSE engine (interface 3): the channel found and chosen, its
// set-up (16-bit frames most significant bit first, chip select on the channel's fourth
// line), and command buffers that carry whole exchanges, so a register read or a burst costs
// one write and one read on the bus.
//
// The sensor is a mode-3 slave (SK idles high, data taken on the rising edge). The MPSSE data
// commands are read two ways: data moving on at every edge of the write polarity with the
// first bit already on DO (FTDI's AN_108), or changing only at those edges after the first.
// With SK idling high and a falling-edge write the two give different frames, so each frame
// is clocked as mode 0, whose frames both readings agree on: chip select falls with SK high,
// SK goes low (the sensor's first shift edge), 16 clocks write on the falling edge and read
// on the rising one, chip select rises with SK low, and SK returns high. Every frame is
// followed by the stall, clocked with chip select high.
//
// Clock and stall follow SMPL_PRD: 2 MHz and 10 us, in low-power sampling (SMPL_PRD above
// 0x09) 300 kHz and 75 us. The sample period is read at selection and again after every
// write to it; that write itself and the read go at the low-power timing, which both modes
// take. The FT2232D (12 MHz base clock, no H-series commands) is driven with its own set-up
// and stalls clocked as dummy bytes.
//
// Burst capture is paced by the sensor's data-ready line where it is wired to GPIOL1
// (ADBUS5): the sensor's output is enabled on DI/O1 (MSC_CTRL), ADBUS5 is read a dozen
// times a third of a sample period apart (the chip spaces the reads with idle clocks) and
// must be seen toggling; then several bursts are queued ahead, each behind "wait on I/O"
// commands for the line's data-ready edge, so the chip reads every sample the moment it
// lands and the host only keeps the queue full. A host late by less than the queue's length
// loses nothing. Without the line, the capture falls back to polling the new-data flag and
// the note says how to wire it.
//
// The channel stays open while it is selected. Any failure shows one message naming the
// board and the library's reason, closes the channel and deselects it; from then on reads
// give 0 and nothing is sent, as with a lost USB adapter, until a new selection.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/Clock.h"
#include "core/Message.h"
#include "core/RegisterAccess.h"
#include "interfaces/FtdiDriver.h"
#include "interfaces/SpiFrames.h"

namespace pemra {

namespace mpsse {
// The commands the transport sends.
inline constexpr uint8_t kSetLowByte = 0x80;        // value, direction of ADBUS0..7
inline constexpr uint8_t kClockBytesOut = 0x11;     // out on the falling edge, MSB first
inline constexpr uint8_t kClockBytesInOut = 0x31;   // and in on the rising edge
inline constexpr uint8_t kClockBytesOutRising = 0x10;  // dummy bytes of an FT2232D stall
inline constexpr uint8_t kLoopbackOff = 0x85;
inline constexpr uint8_t kSetDivisor = 0x86;        // low, high: 60 MHz / ((1 + d) x 2)
inline constexpr uint8_t kSendImmediate = 0x87;
inline constexpr uint8_t kDivideBy5Off = 0x8A;      // the 60 MHz base clock
inline constexpr uint8_t kThreePhaseOff = 0x8D;
inline constexpr uint8_t kClockBytesIdle = 0x8F;    // (n + 1) x 8 clocks, no data
inline constexpr uint8_t kAdaptiveOff = 0x97;
inline constexpr uint8_t kReadLowByte = 0x81;
inline constexpr uint8_t kWaitOnHigh = 0x88;        // until GPIOL1 is high
inline constexpr uint8_t kWaitOnLow = 0x89;         // until GPIOL1 is low
inline constexpr uint8_t kBogusCommand = 0xAA;      // answered 0xFA, 0xAA: the engine is in step
inline constexpr uint8_t kBadCommandReply = 0xFA;
// ADBUS lines: SK 0, DO 1, DI 2, CS 3.
inline constexpr uint8_t kDirections = 0x0B;        // SK, DO and CS driven
inline constexpr uint8_t kDeselected = 0x09;        // SK high (mode 3 idle), CS high
inline constexpr uint8_t kSelected = 0x01;          // SK high, CS low
inline constexpr uint8_t kSelectedSkLow = 0x00;     // SK low, CS low: the frame's clock idle
inline constexpr uint8_t kReleasedSkLow = 0x08;     // SK low, CS high
inline constexpr uint8_t kGpiol1 = 0x20;            // ADBUS5: the sensor's DI/O1 (data ready)
inline constexpr uint32_t kBaseClockHz = 60'000'000;
}  // namespace mpsse

// The divisor for the fastest clock not above `maxHz` from a base clock, and the clock it
// gives.
uint16_t MpsseDivisor(uint32_t maxHz, uint32_t baseHz = mpsse::kBaseClockHz);
uint32_t MpsseClockHz(uint16_t divisor, uint32_t baseHz = mpsse::kBaseClockHz);
// Idle bytes (8 clocks each, chip select high) that cover a stall at that clock.
uint16_t MpsseStallBytes(uint32_t clockHz, uint32_t stallMicroseconds = kSensorStallMicroseconds);
// The set-up after the mode change: on the H series the 60 MHz base clock, no adaptive or
// three-phase clocking; then the divisor, lines idle, no loopback.
std::vector<uint8_t> MpsseSetupBuffer(uint16_t divisor, bool hSeries = true);
// One command buffer for frames in order, each clocked as mode 0 inside a mode-3 idle (see
// above; reading them when `read`) and followed by `stallBytes` of clocks with chip select
// high: one idle-clock command on the H series, dummy bytes on the FT2232D. A reading
// buffer ends with "send immediate" so the answers come back at once.
void AppendMpsseFrames(std::vector<uint8_t>& buffer, std::span<const uint16_t> frames, bool read,
                       uint16_t stallBytes, bool hSeries = true);

// Reads of ADBUS5 that look for the data-ready line, and the bursts queued ahead when it is
// found.
inline constexpr int kDataReadyLooks = 12;
inline constexpr int kPacedQueue = 64;
// The chip's buffer towards the host, which holds the answers of the bursts queued ahead while
// the host is away: 1 KB on the H series, 384 bytes on the FT2232D.
inline constexpr size_t kAnswerBufferH = 1024;
inline constexpr size_t kAnswerBufferD = 384;
// Bursts to queue ahead: kPacedQueue, or as many as the answer buffer holds.
int PacedQueueLength(size_t framesPerBurst, bool hSeries);
// Sample periods above this are not paced by the line (its check would outlast the read
// time-out); polling the flag keeps up with them anyway.
inline constexpr Nanoseconds kLongestPacedPeriod = std::chrono::milliseconds(100);
// The command buffer that reads the low byte `looks` times, `spacingBytes` of idle clocks
// (chip select high) apart, and sends the answers at once.
std::vector<uint8_t> MpsseLineWatchBuffer(int looks, uint16_t spacingBytes, bool hSeries = true);
// The low-byte readings show ADBUS5 following a sample-rate signal: both levels and at least
// four changes of level.
bool DataReadyToggles(std::span<const uint8_t> lowBytes);
// One paced burst: a wait for the line's inactive level, then for its active one (the
// data-ready edge), then the frames as AppendMpsseFrames clocks them.
void AppendPacedBurst(std::vector<uint8_t>& buffer, std::span<const uint16_t> frames,
                      uint16_t stallBytes, bool hSeries, bool activeHigh);

// The channel a device text names ("SERIAL", "SERIAL:B", "1-3", "1-3:B"; channel A when
// none is given; empty: the first), or -1.
int FindFtdiChannel(const std::vector<FtdiChannel>& channels, std::string_view device);

class FtdiSpi final : public RegisterTransport, public PacedBursts {
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
  // The SPI clock of the channel in use, the stall between frames, and whether they are the
  // low-power sampling ones.
  uint32_t ClockHz() const { return MpsseClockHz(divisor_, baseHz_); }
  uint32_t StallMicroseconds() const { return timing_.stallMicroseconds; }
  bool LowPowerTiming() const { return timing_.lowPower; }

  // RegisterTransport: two frames for a read (the answer comes in the second), two write
  // frames, and n + 1 frames for a pipelined read; each is one command buffer and, when it
  // reads, one read of its answers.
  int32_t ReadWord(int16_t address) override;
  void WriteFramePair(int32_t frameA, int32_t frameB) override;
  bool ReadWords(std::span<const int16_t> addresses, std::span<int32_t> words) override;

  // Paced bursts on the data-ready line (see above).
  PacedBursts* Paced() override { return this; }
  bool StartPaced(std::span<const int16_t> addresses, Nanoseconds period) override;
  bool ReadPaced(std::span<int32_t> words, bool& waited) override;
  bool QueuePaced() override;
  void StopPaced() override;
  std::string PacingNote() const override { return pacingNote_; }
  int QueueLength() const override { return pacedQueue_; }
  // The last StartPaced found the data-ready line toggling on ADBUS5.
  bool DataReadyWired() const { return dataReadyWired_; }

  FtdiDriver* Driver() { return driver_; }

 private:
  // Sends the frames as one command buffer and, when `read`, reads their answers into
  // answers_. On failure shows `failText` with the board and the reason and deselects.
  bool Exchange(std::span<const uint16_t> frames, bool read, const char* failText);
  // Sends the divisor and stall of `timing` when they differ from those in use.
  bool UseTiming(const SerialTiming& timing);
  // Reads SMPL_PRD at the low-power timing and takes the timing it asks for.
  bool FollowSamplePeriod();
  bool SendCommands(const char* failText);
  void Fail(const std::string& text);
  void Trace(char direction, const std::vector<uint8_t>& bytes);
  // Enables the data-ready output on DI/O1 and watches ADBUS5; false when it does not toggle
  // (or the transport failed: FtdiSelected is then false).
  bool FindDataReadyLine(Nanoseconds period, bool& activeHigh);

  FtdiDriver* driver_;
  MessageSink& messages_;
  TraceSink* trace_;
  FtdiDriver::Handle handle_ = FtdiDriver::kNoHandle;
  uint16_t divisor_;
  uint16_t stallBytes_ = 0;
  uint32_t baseHz_ = mpsse::kBaseClockHz;
  bool hSeries_ = true;
  SerialTiming timing_ = kNormalTiming;
  std::vector<uint16_t> frames_;     // reused, so the hot path does not allocate
  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> answers_;
  std::vector<uint8_t> pacedBuffer_;  // one queued burst
  std::vector<uint16_t> pacedFrames_;
  int pacedQueued_ = 0;               // bursts written whose answers are not read yet
  int pacedQueue_ = kPacedQueue;      // bursts kept queued ahead
  bool dataReadyWired_ = false;
  std::string pacingNote_;
};

}  // namespace pemra
