#pragma once
// The sensor's flash memory: the user registers a flash update saves and a power cycle or a
// software reset reloads, with the update count (ENDURANCE). Optionally mirrored in a text
// file so the contents last between runs.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "sim/SensorRegisters.h"

namespace pemra::sim {

class Flash {
 public:
  using Words = std::array<uint16_t, kRegisterWords>;

  // Factory contents are the power-on values. With a file, its contents are loaded when it
  // exists; an unreadable or malformed file leaves the factory contents (or the lines that
  // could be read) and is reported by LoadError.
  explicit Flash(std::optional<std::filesystem::path> file = std::nullopt);

  // Registers held in flash, by word index (the words of other registers are 0).
  const Words& Contents() const { return words_; }
  uint16_t Endurance() const { return words_[WordIndex(addr::ENDURANCE)]; }

  // Saves the flash registers of `registers` and adds one to ENDURANCE. With a file, the file
  // is replaced atomically first; when that fails nothing changes and `error` names the file
  // and the reason.
  bool Update(const Words& registers, std::string& error);

  const std::optional<std::filesystem::path>& File() const { return file_; }
  const std::string& LoadError() const { return loadError_; }

  // File text of a set of contents, and the contents read back from such a text (lines
  // "AA=WWWW" in hex; comment lines start with '#'; other lines and registers outside flash
  // are skipped and counted in `rejected`).
  static std::string Format(const Words& words);
  static Words Parse(const std::string& text, int* rejected = nullptr);

 private:
  std::optional<std::filesystem::path> file_;
  Words words_{};
  std::string loadError_;
};

}  // namespace pemra::sim
