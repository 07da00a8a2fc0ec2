#pragma once
// SPI through a Linux spidev node (interface 4): the nodes found and the one chosen, its
// set-up (mode 3, 16-bit words, or 8-bit words carrying each frame as a byte pair when the
// controller takes no 16-bit words, a clock of at most 2 MHz), and one message per exchange
// with one transfer per frame; cs_change and delay_usecs give the sensor its stall between
// frames, so a burst is one system call.
//
// The node stays open while it is selected. A failure shows one message naming the node and
// the reason, closes it and deselects it; reads then give 0 and nothing is sent, as with a
// lost USB adapter, until a new selection.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/Message.h"
#include "core/RegisterAccess.h"
#include "interfaces/SpidevDriver.h"

namespace pemra {

class SpidevSpi final : public RegisterTransport {
 public:
  // `driver` may be null: no node is ever found.
  SpidevSpi(SpidevDriver* driver, MessageSink& messages, TraceSink* trace = nullptr);
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
  void Fail(const std::string& text);
  uint16_t Answer(size_t frame) const;

  SpidevDriver* driver_;
  MessageSink& messages_;
  TraceSink* trace_;
  SpidevDriver::Handle handle_ = SpidevDriver::kNoHandle;
  uint32_t clockHz_ = 0;
  uint8_t bits_ = 16;
  std::vector<uint16_t> frames_;  // reused, so the hot path does not allocate
  std::vector<uint8_t> tx_;
  std::vector<uint8_t> rx_;
  std::vector<SpiTransfer> transfers_;
};

}  // namespace pemra
