#pragma once
// SPI over the USB adapter: the firmware's byte messages on pipe 0 (commands) and pipe 1
// (replies), the adapter settings, and the word exchange register access uses.

#include <array>
#include <cstdint>

#include "core/RegisterAccess.h"
#include "interfaces/UsbAdapters.h"

namespace pemra {

class UsbSpi final : public RegisterTransport {
 public:
  explicit UsbSpi(UsbAdapters& adapters);

  void ReadSpiSetup();
  void SetSpiDelay(uint8_t& delay);  // a 0 is raised to 1 in the caller's variable
  void SetSpiBits(uint8_t& bits);
  // Sends OutWords[1..n] as n frames on CselChannel and fills InWords[1..n].
  void UsbSpiExchange(uint8_t n);

  // The delay between words lives in UsbAdapters (ReadBoardInfo sets it); this is it.
  uint8_t& UsbSpiDelay;
  uint8_t StaticBits = 120;
  uint8_t CselChannel = 1;
  bool SpiPolarityPos = true;
  uint8_t WordCount = 0;
  std::array<uint16_t, 17> OutWords{};  // indexes 1..16 used
  std::array<uint16_t, 17> InWords{};   // indexes 1..16 used

  // RegisterTransport. A read or write while no adapter is usable (never selected, or
  // deselected by a failure, including one during this read) sends nothing and reads 0.
  int32_t ReadWord(int16_t address) override;
  void WriteFramePair(int32_t frameA, int32_t frameB) override;
  // Pipelined reads: one exchange of n + 1 words (the n read frames, then a read of address
  // 0, which changes nothing) whose reply words 2..n+1 are the registers' words; more than
  // fifteen addresses take several exchanges. A failed exchange has reported itself and
  // deselected the adapter: every word is then 0 and nothing more is sent.
  bool ReadWords(std::span<const int16_t> addresses, std::span<int32_t> words) override;

 private:
  UsbAdapters& adapters_;
};

}  // namespace pemra
