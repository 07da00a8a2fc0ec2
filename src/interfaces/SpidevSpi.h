#pragma once
// SPI through a Linux spidev node (interface 4): the nodes found and the one chosen, its
// set-up (mode 3, 16-bit words, or 8-bit words carrying each frame as a byte pair when the
// controller takes no 16-bit words, a clock of at most 2 MHz), and one message per exchange
// with one transfer per frame, at most 32 (spidev rounds each transfer up to 128 bytes of its
// 4096-byte buffer on arm64), so a burst is one or two system calls.
//
// Clock and stall follow SMPL_PRD, read at selection and after every write to it (which goes
// at the low-power timing): 2 MHz and 10 us, in low-power sampling 300 kHz and 75 us. Between
// the frames of one message cs_change releases chip select for the SPI core's default delay,
// 10 us, which spidev gives no way to change: that is the normal stall. The low-power stall is
// longer, so then each frame is a message of its own. Between messages the transport waits
// on the clock until the stall has passed since the last one ended.
//
// The node stays open while it is selected. A failure shows one message naming the node and
// the reason, closes it and deselects it; reads then give 0 and nothing is sent, as with a
// lost USB adapter, until a new selection.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/Clock.h"
#include "core/Message.h"
#include "core/RegisterAccess.h"
#include "interfaces/SpiFrames.h"
#include "interfaces/SpidevDriver.h"

namespace pemra {

class SpidevSpi final : public RegisterTransport {
 public:
  // `driver` may be null: no node is ever found.
  // Without a clock the stall between messages is left to the system call's own time.
  SpidevSpi(SpidevDriver* driver, MessageSink& messages, TraceSink* trace = nullptr,
            Clock* clock = nullptr);
  ~SpidevSpi() override;
  SpidevSpi(const SpidevSpi&) = delete;
  SpidevSpi& operator=(const SpidevSpi&) = delete;

  // Lists the nodes into Devices; with `report`, finding none shows "No SPI device found".
  bool Scan(bool report = true);
  // Opens and sets up the node `path` (empty: the first found); a node in use before is
  // closed first. Failures show their message.
  bool Select(std::string_view path);
  void Deselect();

  std::vector<std::string> Devices;
  bool SpidevSelected = false;
  std::string SelectedDevice;
  // The fastest clock to use, at most the sensor's 2 MHz; taken at the next Select.
  uint32_t MaxClockHz;
  uint32_t ClockHz() const { return clockHz_; }
  uint32_t StallMicroseconds() const { return timing_.stallMicroseconds; }
  bool LowPowerTiming() const { return timing_.lowPower; }
  // 16, or 8 when the controller refused 16-bit words.
  uint8_t BitsPerWord() const { return bits_; }

  // RegisterTransport: one message of two transfers for a read (the answer comes in the
  // second) or a write, and of n + 1 transfers for a pipelined read.
  int32_t ReadWord(int16_t address) override;
  void WriteFramePair(int32_t frameA, int32_t frameB) override;
  bool ReadWords(std::span<const int16_t> addresses, std::span<int32_t> words) override;

  SpidevDriver* Driver() { return driver_; }

 private:
  bool Exchange(std::span<const uint16_t> frames, const char* failText);
  // One message of the frames from `first` on, `count` of them.
  bool SendMessage(size_t first, size_t count);
  void UseTiming(const SerialTiming& timing);
  bool FollowSamplePeriod();
  void Fail(const std::string& text);
  uint16_t Answer(size_t frame) const;

  SpidevDriver* driver_;
  MessageSink& messages_;
  TraceSink* trace_;
  SpidevDriver::Handle handle_ = SpidevDriver::kNoHandle;
  uint32_t clockHz_ = 0;
  Clock* clock_;
  SerialTiming timing_ = kNormalTiming;
  Nanoseconds lastMessageEnd_{INT64_MIN / 2};
  uint8_t bits_ = 16;
  std::vector<uint16_t> frames_;  // reused, so the hot path does not allocate
  std::vector<uint8_t> tx_;
  std::vector<uint8_t> rx_;
  std::vector<SpiTransfer> transfers_;
};

}  // namespace pemra
