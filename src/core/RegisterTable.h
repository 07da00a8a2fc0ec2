#pragma once
// The register table: one entry per sensor register, by which every window names it.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pemra {

struct RegisterEntry {
  std::string RegName;
  int32_t RegAddress = 0;  // SPI address of the low byte (even, 0..62)
  uint8_t RegBytes = 0;
  bool RegReadable = false;
  bool RegWritable = false;
  int16_t RegWidth = 0;  // data bits counted from bit 0
  bool RegSigned = false;
  bool RegHasNewData = false;
  float RegScale = 0.0f;   // units per LSB
  float RegOffset = 0.0f;  // units for a raw value of 0
};

inline constexpr int kRegisterTableSize = 297;  // indexes 0..296; 0..31 are filled
inline constexpr int kFilledRegisters = 32;
using RegisterTable = std::array<RegisterEntry, kRegisterTableSize>;

// Register-table indexes of the filled entries.
namespace reg {
inline constexpr int16_t ENDURANCE = 0;
inline constexpr int16_t SUPPLY_OUT = 1;
inline constexpr int16_t XGYRO_OUT = 2;
inline constexpr int16_t YGYRO_OUT = 3;
inline constexpr int16_t ZGYRO_OUT = 4;
inline constexpr int16_t XACCL_OUT = 5;
inline constexpr int16_t YACCL_OUT = 6;
inline constexpr int16_t ZACCL_OUT = 7;
inline constexpr int16_t XTEMP_OUT = 8;
inline constexpr int16_t YTEMP_OUT = 9;
inline constexpr int16_t ZTEMP_OUT = 10;
inline constexpr int16_t AUX_ADC = 11;
inline constexpr int16_t Reserved = 12;
inline constexpr int16_t XGYRO_OFF = 13;
inline constexpr int16_t YGYRO_OFF = 14;
inline constexpr int16_t ZGYRO_OFF = 15;
inline constexpr int16_t XACCL_OFF = 16;
inline constexpr int16_t YACCL_OFF = 17;
inline constexpr int16_t ZACCL_OFF = 18;
inline constexpr int16_t ALM_MAG1 = 19;
inline constexpr int16_t ALM_MAG2 = 20;
inline constexpr int16_t ALM_SMPL1 = 21;
inline constexpr int16_t ALM_SMPL2 = 22;
inline constexpr int16_t ALM_CTRL = 23;
inline constexpr int16_t AUX_DAC = 24;
inline constexpr int16_t GPIO_CTRL = 25;
inline constexpr int16_t MSC_CTRL = 26;
inline constexpr int16_t SMPL_PRD = 27;
inline constexpr int16_t SENS_AVG = 28;
inline constexpr int16_t SLP_CNT = 29;
inline constexpr int16_t STATUS = 30;
inline constexpr int16_t COMMAND = 31;
}  // namespace reg

// Fills entries 0..31 with the power-on table and clears 32..296.
void InitRegisterTable(RegisterTable& table);

// Index of a register by name: any case, offset names with or without their blank
// ("XGYRO_OFF" finds "XGYRO_ OFF"), or a decimal index 0..31. Empty when unknown.
std::optional<int16_t> FindRegister(const RegisterTable& table, std::string_view name);

}  // namespace pemra
