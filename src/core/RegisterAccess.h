#pragma once
// The only road from the windows to the sensor: register-table index to SPI frames, through
// the transport that InterfaceType selects at every call, and the word back to units.

#include <cstdint>

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
class RegisterTransport {
 public:
  virtual ~RegisterTransport() = default;
  // Word of the register at this 7-bit address: a read frame, then a frame that clocks the
  // answer in. Returns 0..65535.
  virtual int32_t ReadWord(int16_t address) = 0;
  // Sends two write frames in order.
  virtual void WriteFramePair(int32_t frameA, int32_t frameB) = 0;
};

class RegisterAccess {
 public:
  RegisterAccess(RegisterTable& table, const Selection& selection, Clock& clock);

  // The transport used while InterfaceType is 1 (parallel) or 2 (USB). Null: none.
  void SetParallelTransport(RegisterTransport* transport) { parallel_ = transport; }
  void SetUsbTransport(RegisterTransport* transport) { usb_ = transport; }

  // Raw 16-bit word of an SPI address; `address` is left masked to 7 bits.
  int32_t ReadRawWord(int16_t& address);
  // Reads and converts an entry; sets RawValue, ScaledValue and (output registers)
  // NewDataFlag. Unreadable entries and indexes outside 0..296 send nothing.
  void ReadRegister(int16_t index);
  // Writes bits 0-15 of the value: high byte to the odd address, low byte to the even one,
  // then waits 0.1 ms.
  void WriteRegister(int16_t index, int32_t value);
  // Sends the write frames for (addressA, byteA) then (addressB, byteB); the four
  // variables are left masked (addresses to 7 bits, bytes to 8 bits).
  void WriteBytePair(int16_t& addressA, int16_t& byteA, int16_t& addressB, int16_t& byteB);
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
  // Last known words of the control registers.
  int32_t GpioCtrlShadow = 0;
  int32_t AlmCtrlShadow = 0;
  int32_t MscCtrlShadow = 0;

 private:
  RegisterTransport* Transport() const;

  RegisterTable& table_;
  const Selection& selection_;
  Clock& clock_;
  RegisterTransport* parallel_ = nullptr;
  RegisterTransport* usb_ = nullptr;
};

// Converts a register word the way ReadRegister does (masks the entry's width, sign-converts).
int32_t ConvertRaw(const RegisterEntry& entry, int32_t word);

}  // namespace pemra
