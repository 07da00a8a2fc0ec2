#pragma once
// The only road from the windows to the sensor: register-table index to SPI frames, through
// the transport that InterfaceType selects at every call, and the word back to units.

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "core/Clock.h"
#include "core/RegisterTable.h"
#include "core/Selection.h"

namespace pemra {

// COMMAND register codes.
namespace command {
inline constexpr int32_t AutoNull = 1;
inline constexpr int32_t FactoryCalibrationRestore = 2;
inline constexpr int32_t DacLatch = 4;
inline constexpr int32_t FlashUpdate = 8;
inline constexpr int32_t PrecisionAutoNull = 16;
}  // namespace command

inline constexpr int32_t kSelfTestBit = 0x100;  // MSC_CTRL bit 8

// What register access needs of a transport (parallel port or USB adapter).
// Bursts paced by the sensor's data-ready line on a transport that can wait for the line in
// hardware (an FTDI board's MPSSE engine), so each burst reads its sample the moment it lands
// and the host only keeps a queue of bursts full.
class PacedBursts {
 public:
  virtual ~PacedBursts() = default;
  // Enables the sensor's data-ready output and finds out whether its line reaches the
  // transport; when it does, prepares bursts of the 7-bit addresses (pipelined as ReadWords
  // reads them), each started by the line's next data-ready edge, for QueuePaced to queue
  // (QueueLength of them ahead). False when the line is not wired (PacingNote says how to
  // wire it) or the transport failed.
  virtual bool StartPaced(std::span<const int16_t> addresses, Nanoseconds period) = 0;
  // The words of the oldest queued burst (waiting for them; `waited`: they were not all there
  // yet when asked for); false when the transport failed (every word is then 0).
  virtual bool ReadPaced(std::span<int32_t> words, bool& waited) = 0;
  // Queues one more burst behind the others; false when the transport failed.
  virtual bool QueuePaced() = 0;
  // Collects what is still queued; the transport is free for other work again.
  virtual void StopPaced() = 0;
  // How the last StartPaced went, in one line: the line found and the queue's length, or
  // why not and how to wire it.
  virtual std::string PacingNote() const = 0;
  // Bursts kept queued ahead.
  virtual int QueueLength() const = 0;
};

class RegisterTransport {
 public:
  virtual ~RegisterTransport() = default;
  // Word of the register at this 7-bit address: a read frame, then a frame that clocks the
  // answer in. Returns 0..65535.
  virtual int32_t ReadWord(int16_t address) = 0;
  // Sends two write frames in order.
  virtual void WriteFramePair(int32_t frameA, int32_t frameB) = 0;
  // Words of several 7-bit addresses (words.size() == addresses.size()), 0..65535 each.
  // False when the transport failed: every word is then 0. The sensor answers a read in the
  // next frame, so a transport can pipeline the reads (n + 1 frames); this fallback reads
  // them one at a time.
  virtual bool ReadWords(std::span<const int16_t> addresses, std::span<int32_t> words);
  // Bursts paced by the data-ready line, where the transport has them.
  virtual PacedBursts* Paced() { return nullptr; }
};

// What ReadRegister gives for one entry.
struct RegisterReading {
  int32_t RawValue = 0;
  float ScaledValue = 0.0f;
  int32_t NewDataFlag = 0;  // 32768 or 0; 0 for entries without a new-data bit
};

class RegisterAccess {
 public:
  RegisterAccess(RegisterTable& table, const Selection& selection, Clock& clock);

  // The transport used while InterfaceType is 1 (parallel), 2 (USB), 3 (FTDI) or 4
  // (spidev). Null: none.
  void SetTransport(int16_t interfaceType, RegisterTransport* transport);
  void SetParallelTransport(RegisterTransport* transport) { SetTransport(1, transport); }
  void SetUsbTransport(RegisterTransport* transport) { SetTransport(2, transport); }

  // Raw 16-bit word of an SPI address; `address` is left masked to 7 bits.
  int32_t ReadRawWord(int16_t& address);
  // Reads and converts an entry; sets RawValue, ScaledValue and (output registers)
  // NewDataFlag. Unreadable entries and indexes outside 0..296 send nothing.
  void ReadRegister(int16_t index);
  // Reads several entries in one pass of the transport (one adapter exchange of n + 1 words,
  // or n + 1 port frames) and converts each as ReadRegister does. readings.size() must equal
  // indexes.size(). Unreadable entries and indexes outside 0..296 are not sent and read as
  // zeros. RawValue, ScaledValue and NewDataFlag are left alone. False, with every reading
  // zero, when there is no transport or it failed (it has reported the failure).
  bool ReadRegisters(std::span<const int16_t> indexes, std::span<RegisterReading> readings);
  // Writes bits 0-15 of the value: high byte to the odd address, low byte to the even one,
  // then waits 0.1 ms.
  void WriteRegister(int16_t index, int32_t value);
  // Sends the write frames for (addressA, byteA) then (addressB, byteB); the four
  // variables are left masked (addresses to 7 bits, bytes to 8 bits).
  void WriteBytePair(int16_t& addressA, int16_t& byteA, int16_t& addressB, int16_t& byteB);
  // The paced bursts of the transport in use (null: it has none).
  PacedBursts* Paced() const;
  // GPIO_CTRL, ALM_CTRL and MSC_CTRL into their shadows.
  void RefreshControlShadows();

  RegisterTable& Table() { return table_; }
  const RegisterTable& Table() const { return table_; }
  const Selection& CurrentSelection() const { return selection_; }
  Clock& SessionClock() { return clock_; }

  // Results of the last read.
  int32_t RawValue = 0;
  float ScaledValue = 0.0f;
  int32_t NewDataFlag = 0;
  // The whole 16-bit word of the last ReadRegister, every bit as the sensor sent it (the
  // fields above the data, such as an output's error bit, are decoded from it).
  int32_t LastWord = 0;
  // Last known words of the control registers.
  int32_t GpioCtrlShadow = 0;
  int32_t AlmCtrlShadow = 0;
  int32_t MscCtrlShadow = 0;

 private:
  RegisterTransport* Transport() const;

  RegisterTable& table_;
  const Selection& selection_;
  Clock& clock_;
  std::array<RegisterTransport*, 5> transports_{};  // by InterfaceType 1..4
};

// Converts a register word the way ReadRegister does (masks the entry's width, sign-converts).
int32_t ConvertRaw(const RegisterEntry& entry, int32_t word);
// The whole conversion of ReadRegister: raw value, scaled value and (output registers) the
// new-data flag of a register word.
RegisterReading ConvertWord(const RegisterEntry& entry, int32_t word);

}  // namespace pemra
