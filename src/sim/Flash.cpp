#include "sim/Flash.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace pemra::sim {

namespace {

Flash::Words FactoryContents() {
  Flash::Words w{};
  for (int i = 0; i < kRegisterWords; ++i) {
    if (kRegisterInfo[size_t(i)].inFlash) w[size_t(i)] = kRegisterInfo[size_t(i)].powerOn;
  }
  return w;
}

bool ParseHex(const std::string& text, unsigned long max, unsigned long& value) {
  if (text.empty() || text.size() > 4) return false;
  value = 0;
  for (char ch : text) {
    int d;
    if (ch >= '0' && ch <= '9') d = ch - '0';
    else if (ch >= 'a' && ch <= 'f') d = ch - 'a' + 10;
    else if (ch >= 'A' && ch <= 'F') d = ch - 'A' + 10;
    else return false;
    value = value * 16 + unsigned(d);
  }
  return value <= max;
}

}  // namespace

Flash::Flash(std::optional<std::filesystem::path> file) : file_(std::move(file)) {
  words_ = FactoryContents();
  if (!file_) return;
  std::error_code ec;
  if (!std::filesystem::exists(*file_, ec)) return;  // first run: factory contents
  if (std::filesystem::is_directory(*file_, ec)) {
    loadError_ = file_->string() + ": is a directory";
    return;
  }
  std::ifstream in(*file_, std::ios::binary);
  if (!in) {
    loadError_ = file_->string() + ": " + std::strerror(errno);
    return;
  }
  std::stringstream text;
  text << in.rdbuf();
  int rejected = 0;
  words_ = Parse(text.str(), &rejected);
  if (rejected > 0) {
    loadError_ = file_->string() + ": " + std::to_string(rejected) +
                 " line(s) not understood; factory values kept for them";
  }
}

std::string Flash::Format(const Words& words) {
  std::string out = "# simulated sensor flash: byte address=word, hex\n";
  char line[16];
  for (int i = 0; i < kRegisterWords; ++i) {
    if (!kRegisterInfo[size_t(i)].inFlash) continue;
    std::snprintf(line, sizeof line, "%02X=%04X\n", unsigned(i * 2), unsigned(words[size_t(i)]));
    out += line;
  }
  return out;
}

Flash::Words Flash::Parse(const std::string& text, int* rejected) {
  Words words = FactoryContents();
  int bad = 0;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto eq = line.find('=');
    if (line.empty() || line[0] == '#') continue;
    unsigned long address = 0, value = 0;
    if (eq == std::string::npos || !ParseHex(line.substr(0, eq), 0x3F, address) ||
        !ParseHex(line.substr(eq + 1), 0xFFFF, value) || address % 2 != 0 ||
        !kRegisterInfo[size_t(WordIndex(uint8_t(address)))].inFlash) {
      ++bad;
      continue;
    }
    const RegisterInfo& info = kRegisterInfo[size_t(WordIndex(uint8_t(address)))];
    words[size_t(WordIndex(uint8_t(address)))] = uint16_t(value & info.definedBits);
  }
  if (rejected != nullptr) *rejected = bad;
  return words;
}

bool Flash::Update(const Words& registers, std::string& error) {
  Words next{};
  for (int i = 0; i < kRegisterWords; ++i) {
    if (kRegisterInfo[size_t(i)].inFlash) next[size_t(i)] = registers[size_t(i)];
  }
  const uint16_t endurance = Endurance();
  next[WordIndex(addr::ENDURANCE)] = endurance == 0xFFFF ? endurance : uint16_t(endurance + 1);

  if (file_) {
    // Write a temporary file beside the target, then rename it over the target, so a failure
    // never leaves a half-written flash file.
    std::filesystem::path temp = *file_;
    temp += ".tmp";
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      if (!out) {
        error = temp.string() + ": " + std::strerror(errno);
        return false;
      }
      out << Format(next);
      out.flush();
      if (!out) {
        error = temp.string() + ": " + std::strerror(errno);
        std::error_code ignored;
        std::filesystem::remove(temp, ignored);
        return false;
      }
    }
    std::error_code ec;
    std::filesystem::rename(temp, *file_, ec);
    if (ec) {
      error = file_->string() + ": " + ec.message();
      std::filesystem::remove(temp, ec);
      return false;
    }
  }
  words_ = next;
  return true;
}

}  // namespace pemra::sim
