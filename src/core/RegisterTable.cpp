#include "core/RegisterTable.h"

#include <cctype>

namespace pemra {

namespace {

struct InitialEntry {
  const char* name;
  int32_t address;
  uint8_t bytes;
  bool readable;
  bool writable;
  int16_t width;
  bool isSigned;
  bool hasNewData;
  float scale;
  float offset;
};

constexpr bool R = true;
constexpr bool W = true;
constexpr bool S = true;
constexpr bool ND = true;
constexpr bool no = false;

// The power-on table: name, address, bytes, readable, writable, width, signed,
// new-data flag, scale (units per LSB), offset (units at raw 0).
constexpr InitialEntry kInitialTable[kFilledRegisters] = {
    {"ENDURANCE", 0, 2, R, no, 16, no, no, 1.0f, 0.0f},
    {"SUPPLY_OUT", 2, 2, R, no, 12, no, ND, 0.0018315f, 0.0f},
    {"XGYRO_OUT", 4, 2, R, no, 14, S, ND, 0.07326f, 0.0f},
    {"YGYRO_OUT", 6, 2, R, no, 14, S, ND, 0.07326f, 0.0f},
    {"ZGYRO_OUT", 8, 2, R, no, 14, S, ND, 0.07326f, 0.0f},
    {"XACCL_OUT", 10, 2, R, no, 14, S, ND, 0.002522f, 0.0f},
    {"YACCL_OUT", 12, 2, R, no, 14, S, ND, 0.002522f, 0.0f},
    {"ZACCL_OUT", 14, 2, R, no, 14, S, ND, 0.002522f, 0.0f},
    {"XTEMP_OUT", 16, 2, R, no, 12, S, ND, 0.1453f, 25.0f},
    {"YTEMP_OUT", 18, 2, R, no, 12, S, ND, 0.1453f, 25.0f},
    {"ZTEMP_OUT", 20, 2, R, no, 12, S, ND, 0.1453f, 25.0f},
    {"AUX_ADC", 22, 2, R, no, 12, no, ND, 0.0006105f, 0.0f},
    {"Reserved", 24, 2, no, no, 12, no, no, 1.0f, 0.0f},
    {"XGYRO_ OFF", 26, 2, R, W, 13, S, no, 0.018315f, 0.0f},
    {"YGYRO_ OFF", 28, 2, R, W, 13, S, no, 0.018315f, 0.0f},
    {"ZGYRO_ OFF", 30, 2, R, W, 13, S, no, 0.018315f, 0.0f},
    {"XACCL_ OFF", 32, 2, R, W, 12, S, no, 0.002543235f, 0.0f},
    {"YACCL_ OFF", 34, 2, R, W, 12, S, no, 0.002543235f, 0.0f},
    {"ZACCL_ OFF", 36, 2, R, W, 12, S, no, 0.002543235f, 0.0f},
    {"ALM_MAG1", 38, 2, R, W, 16, no, no, 1.0f, 0.0f},
    {"ALM_MAG2", 40, 2, R, W, 16, no, no, 1.0f, 0.0f},
    {"ALM_SMPL1", 42, 2, R, W, 8, no, no, 1.0f, 0.0f},
    {"ALM_SMPL2", 44, 2, R, W, 8, no, no, 1.0f, 0.0f},
    {"ALM_CTRL", 46, 2, R, W, 16, no, no, 1.0f, 0.0f},
    {"AUX_DAC", 48, 2, R, W, 12, no, no, 1.0f, 0.0f},
    {"GPIO_CTRL", 50, 2, R, W, 10, no, no, 1.0f, 0.0f},
    {"MSC_CTRL", 52, 2, R, W, 11, no, no, 1.0f, 0.0f},
    {"SMPL_PRD", 54, 2, R, W, 8, no, no, 1.0f, 0.0f},
    {"SENS_AVG", 56, 2, R, W, 11, no, no, 1.0f, 0.0f},
    {"SLP_CNT", 58, 1, R, W, 8, no, no, 1.0f, 0.0f},
    {"STATUS", 60, 2, R, no, 16, no, no, 1.0f, 0.0f},
    {"COMMAND", 62, 1, no, W, 8, no, no, 1.0f, 0.0f},
};

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// Compares case-insensitively, skipping blanks in `registerName` when `skipBlanks` is set.
bool NameMatches(std::string_view registerName, std::string_view wanted, bool skipBlanks) {
  size_t j = 0;
  for (char c : registerName) {
    if (skipBlanks && c == ' ') continue;
    if (j == wanted.size() || Upper(c) != Upper(wanted[j])) return false;
    ++j;
  }
  return j == wanted.size();
}

std::string_view TrimBlanks(std::string_view text) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

void InitRegisterTable(RegisterTable& table) {
  for (int i = 0; i < kRegisterTableSize; ++i) {
    RegisterEntry entry;
    if (i < kFilledRegisters) {
      const InitialEntry& e = kInitialTable[i];
      entry.RegName = e.name;
      entry.RegAddress = e.address;
      entry.RegBytes = e.bytes;
      entry.RegReadable = e.readable;
      entry.RegWritable = e.writable;
      entry.RegWidth = e.width;
      entry.RegSigned = e.isSigned;
      entry.RegHasNewData = e.hasNewData;
      entry.RegScale = e.scale;
      entry.RegOffset = e.offset;
    }
    table[static_cast<size_t>(i)] = std::move(entry);
  }
}

std::optional<int16_t> FindRegister(const RegisterTable& table, std::string_view name) {
  name = TrimBlanks(name);
  if (name.empty()) return std::nullopt;

  if (name.find_first_not_of("0123456789") == std::string_view::npos) {
    int index = 0;
    for (char c : name) {
      index = index * 10 + (c - '0');
      if (index >= kFilledRegisters) return std::nullopt;
    }
    return static_cast<int16_t>(index);
  }

  // An exact (case-insensitive) match wins over one found by ignoring the blank.
  for (bool skipBlanks : {false, true}) {
    for (int i = 0; i < kFilledRegisters; ++i) {
      if (NameMatches(table[static_cast<size_t>(i)].RegName, name, skipBlanks))
        return static_cast<int16_t>(i);
    }
  }
  return std::nullopt;
}

}  // namespace pemra
