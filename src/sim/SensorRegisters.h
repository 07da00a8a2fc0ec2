#pragma once
// The simulated sensor's register map: byte addresses, power-on values, the bits each
// register keeps, which registers flash holds, and the STATUS and command bits.

#include <array>
#include <cstddef>
#include <cstdint>

namespace pemra::sim {

// Byte address of the low byte of each 16-bit register.
namespace addr {
inline constexpr uint8_t ENDURANCE = 0x00;
inline constexpr uint8_t SUPPLY_OUT = 0x02;
inline constexpr uint8_t XGYRO_OUT = 0x04;
inline constexpr uint8_t YGYRO_OUT = 0x06;
inline constexpr uint8_t ZGYRO_OUT = 0x08;
inline constexpr uint8_t XACCL_OUT = 0x0A;
inline constexpr uint8_t YACCL_OUT = 0x0C;
inline constexpr uint8_t ZACCL_OUT = 0x0E;
inline constexpr uint8_t XTEMP_OUT = 0x10;
inline constexpr uint8_t YTEMP_OUT = 0x12;
inline constexpr uint8_t ZTEMP_OUT = 0x14;
inline constexpr uint8_t AUX_ADC = 0x16;
inline constexpr uint8_t Reserved = 0x18;
inline constexpr uint8_t XGYRO_OFF = 0x1A;
inline constexpr uint8_t YGYRO_OFF = 0x1C;
inline constexpr uint8_t ZGYRO_OFF = 0x1E;
inline constexpr uint8_t XACCL_OFF = 0x20;
inline constexpr uint8_t YACCL_OFF = 0x22;
inline constexpr uint8_t ZACCL_OFF = 0x24;
inline constexpr uint8_t ALM_MAG1 = 0x26;
inline constexpr uint8_t ALM_MAG2 = 0x28;
inline constexpr uint8_t ALM_SMPL1 = 0x2A;
inline constexpr uint8_t ALM_SMPL2 = 0x2C;
inline constexpr uint8_t ALM_CTRL = 0x2E;
inline constexpr uint8_t AUX_DAC = 0x30;
inline constexpr uint8_t GPIO_CTRL = 0x32;
inline constexpr uint8_t MSC_CTRL = 0x34;
inline constexpr uint8_t SMPL_PRD = 0x36;
inline constexpr uint8_t SENS_AVG = 0x38;
inline constexpr uint8_t SLP_CNT = 0x3A;
inline constexpr uint8_t STATUS = 0x3C;
inline constexpr uint8_t COMMAND = 0x3E;
}  // namespace addr

inline constexpr int kRegisterWords = 32;  // byte addresses 0x00..0x3F
inline constexpr int WordIndex(uint8_t address) { return (address & 0x7F) >> 1; }

// The eleven output registers, in address order (SUPPLY_OUT .. AUX_ADC). The value is the
// register's position after ENDURANCE, so output channel c lives at byte address 2 + 2c and
// is register-table entry c + 1.
enum class Channel : int {
  Supply = 0,
  GyroX,
  GyroY,
  GyroZ,
  AccelX,
  AccelY,
  AccelZ,
  TempX,
  TempY,  // pitch on model 21410
  TempZ,  // roll on model 21410
  AuxAdc,
};
inline constexpr int kChannels = 11;
inline constexpr uint8_t ChannelAddress(Channel c) { return uint8_t(2 + 2 * int(c)); }
inline constexpr bool IsOutputAddress(uint8_t address) {
  return address >= addr::SUPPLY_OUT && address <= addr::AUX_ADC + 1;
}
inline constexpr Channel ChannelOf(uint8_t address) { return Channel((address - 2) >> 1); }

// Power-on word and kept bits of every register, by word index. Output registers, STATUS and
// COMMAND are computed or write-only; their entries here are 0.
struct RegisterInfo {
  uint16_t powerOn = 0;
  uint16_t definedBits = 0;
  bool writable = false;
  bool inFlash = false;
};

inline constexpr std::array<RegisterInfo, kRegisterWords> kRegisterInfo = [] {
  std::array<RegisterInfo, kRegisterWords> r{};
  auto set = [&r](uint8_t a, uint16_t powerOn, uint16_t bits, bool writable, bool flash) {
    r[WordIndex(a)] = RegisterInfo{powerOn, bits, writable, flash};
  };
  set(addr::ENDURANCE, 0, 0xFFFF, false, true);
  for (uint8_t a : {addr::XGYRO_OFF, addr::YGYRO_OFF, addr::ZGYRO_OFF})
    set(a, 0, 0x1FFF, true, true);  // 13-bit two's complement
  for (uint8_t a : {addr::XACCL_OFF, addr::YACCL_OFF, addr::ZACCL_OFF})
    set(a, 0, 0x0FFF, true, true);  // 12-bit two's complement
  set(addr::ALM_MAG1, 0, 0xBFFF, true, true);  // level in bits 0-13, polarity bit 15
  set(addr::ALM_MAG2, 0, 0xBFFF, true, true);
  set(addr::ALM_SMPL1, 0, 0x00FF, true, true);
  set(addr::ALM_SMPL2, 0, 0x00FF, true, true);
  set(addr::ALM_CTRL, 0, 0xFFC7, true, true);  // sources, rate-of-change bits, indicator
  set(addr::AUX_DAC, 0, 0x0FFF, true, true);
  set(addr::GPIO_CTRL, 0, 0x0303, true, true);
  set(addr::MSC_CTRL, 0x0006, 0x0507, true, true);
  set(addr::SMPL_PRD, 0x0001, 0x00FF, true, true);
  set(addr::SENS_AVG, 0x0402, 0x0707, true, true);
  set(addr::SLP_CNT, 0, 0x00FF, true, false);
  return r;
}();

// STATUS bits.
namespace status {
inline constexpr uint16_t SupplyLow = 1 << 0;
inline constexpr uint16_t SupplyHigh = 1 << 1;
inline constexpr uint16_t ControlWriteFailed = 1 << 2;
inline constexpr uint16_t SpiFrameError = 1 << 3;
inline constexpr uint16_t FlashUpdateFailed = 1 << 4;
inline constexpr uint16_t SelfTestFailed = 1 << 5;
inline constexpr uint16_t Alarm1 = 1 << 8;
inline constexpr uint16_t Alarm2 = 1 << 9;
// Error bits latch until STATUS is read; the others follow their condition.
inline constexpr uint16_t kLatched = ControlWriteFailed | SpiFrameError | FlashUpdateFailed |
                                     SelfTestFailed;
}  // namespace status

// COMMAND bits.
namespace cmd {
inline constexpr uint8_t AutoNull = 1 << 0;
inline constexpr uint8_t FactoryRestore = 1 << 1;
inline constexpr uint8_t DacLatch = 1 << 2;
inline constexpr uint8_t FlashUpdate = 1 << 3;
inline constexpr uint8_t PrecisionAutoNull = 1 << 4;
inline constexpr uint8_t SoftwareReset = 1 << 7;
inline constexpr uint8_t kDefined = AutoNull | FactoryRestore | DacLatch | FlashUpdate |
                                    PrecisionAutoNull | SoftwareReset;
}  // namespace cmd

// MSC_CTRL bits.
namespace msc {
inline constexpr uint16_t DataReadyLine = 1 << 0;
inline constexpr uint16_t DataReadyPolarity = 1 << 1;
inline constexpr uint16_t DataReadyEnable = 1 << 2;
inline constexpr uint16_t SelfTest = 1 << 8;
inline constexpr uint16_t AutoSelfTest = 1 << 10;
}  // namespace msc

// Sign-extends the low `width` bits of a word.
inline constexpr int32_t SignExtend(uint32_t word, int width) {
  const uint32_t sign = 1u << (width - 1);
  const uint32_t mask = (1u << width) - 1;
  return int32_t((word & mask) ^ sign) - int32_t(sign);
}

}  // namespace pemra::sim
