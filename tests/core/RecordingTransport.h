#pragma once
// A register transport for tests: serves words from a map of the 128 SPI addresses and records
// every read address and every write frame pair in order.

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/RegisterAccess.h"

namespace pemra::test {

class RecordingTransport final : public RegisterTransport {
 public:
  int32_t ReadWord(int16_t address) override {
    reads.push_back(address);
    return words[static_cast<size_t>(address) % words.size()];
  }
  void WriteFramePair(int32_t frameA, int32_t frameB) override {
    writes.emplace_back(frameA, frameB);
  }

  // Word served for a read of an SPI address (the even address of a register).
  void SetWord(int address, int32_t word) { words[static_cast<size_t>(address)] = word; }

  std::array<int32_t, 128> words{};
  std::vector<int16_t> reads;
  std::vector<std::pair<int32_t, int32_t>> writes;
};

}  // namespace pemra::test
