#include "interfaces/LinuxSpidevDriver.h"

#include "interfaces/AccessHint.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <tuple>

#include <fmt/format.h>

namespace pemra {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kNodePrefix = "spidev";
constexpr size_t kMaxTransfers = 511;  // what one SPI_IOC_MESSAGE request can carry
constexpr uint8_t kSpiModeClockBits = 0x03;  // CPOL, CPHA

// Bus and chip select of "spidevB.C", for the order (spidev10.0 after spidev2.0).
std::tuple<unsigned, unsigned, std::string> Order(const std::string& path) {
  const std::string name = fs::path(path).filename().string();
  unsigned bus = ~0u;
  unsigned select = ~0u;
  std::sscanf(name.c_str(), "spidev%u.%u", &bus, &select);
  return {bus, select, name};
}

void AddNodes(const fs::path& dir, bool underDev, std::vector<std::string>& paths) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(kNodePrefix)) continue;
    paths.push_back(underDev ? entry.path().string() : "/dev/" + name);
  }
}

}  // namespace

LinuxSpidevDriver::~LinuxSpidevDriver() {
  for (const Handle fd : open_) ::close(fd);
}

bool LinuxSpidevDriver::Valid(Handle handle) {
  if (std::find(open_.begin(), open_.end(), handle) != open_.end()) return true;
  lastError_ = "no such handle";
  return false;
}

bool LinuxSpidevDriver::List(std::vector<std::string>& paths) {
  paths.clear();
  AddNodes("/sys/class/spidev", false, paths);
  if (paths.empty()) AddNodes("/dev", true, paths);
  std::sort(paths.begin(), paths.end(),
            [](const std::string& a, const std::string& b) { return Order(a) < Order(b); });
  return true;
}

SpidevDriver::Handle LinuxSpidevDriver::Open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    lastError_ = path + ": " + std::strerror(error);
    if (error == EACCES || error == EPERM) {
      const std::string hint = AccessHint(path);
      if (!hint.empty()) lastError_ += "; " + hint;
    }
    return kNoHandle;
  }
  open_.push_back(fd);
  return fd;
}

void LinuxSpidevDriver::Close(Handle handle) {
  const auto at = std::find(open_.begin(), open_.end(), handle);
  if (at == open_.end()) return;
  ::close(handle);
  open_.erase(at);
}

bool LinuxSpidevDriver::SetMode(Handle handle, uint8_t mode) {
  if (!Valid(handle)) return false;
  uint8_t back = 0;
  if (::ioctl(handle, SPI_IOC_WR_MODE, &mode) < 0 || ::ioctl(handle, SPI_IOC_RD_MODE, &back) < 0) {
    lastError_ = std::strerror(errno);
    return false;
  }
  // Only the clock bits are compared: with a GPIO chip select some kernels report
  // SPI_CS_HIGH although the line stays active low.
  if ((back & kSpiModeClockBits) != (mode & kSpiModeClockBits)) {
    lastError_ = fmt::format("the controller keeps mode {:#04x}", back);
    return false;
  }
  return true;
}

bool LinuxSpidevDriver::SetBitsPerWord(Handle handle, uint8_t bits) {
  if (!Valid(handle)) return false;
  uint8_t back = 0;
  if (::ioctl(handle, SPI_IOC_WR_BITS_PER_WORD, &bits) < 0 ||
      ::ioctl(handle, SPI_IOC_RD_BITS_PER_WORD, &back) < 0) {
    lastError_ = std::strerror(errno);
    return false;
  }
  // 0 reads back for the controller's default of 8 bits.
  if (back != bits && !(back == 0 && bits == 8)) {
    lastError_ = fmt::format("the controller keeps {}-bit words", back);
    return false;
  }
  return true;
}

bool LinuxSpidevDriver::SetMaxSpeed(Handle handle, uint32_t hz) {
  if (!Valid(handle)) return false;
  uint32_t back = 0;
  if (::ioctl(handle, SPI_IOC_WR_MAX_SPEED_HZ, &hz) < 0 ||
      ::ioctl(handle, SPI_IOC_RD_MAX_SPEED_HZ, &back) < 0) {
    lastError_ = std::strerror(errno);
    return false;
  }
  if (back > hz) {
    lastError_ = fmt::format("the controller keeps {} Hz", back);
    return false;
  }
  return true;
}

bool LinuxSpidevDriver::Message(Handle handle, std::span<const SpiTransfer> transfers) {
  if (!Valid(handle)) return false;
  if (transfers.empty() || transfers.size() > kMaxTransfers) {
    lastError_ = fmt::format("{} transfers in one message", transfers.size());
    return false;
  }
  std::vector<spi_ioc_transfer> request(transfers.size());
  for (size_t i = 0; i < transfers.size(); ++i) {
    const SpiTransfer& t = transfers[i];
    spi_ioc_transfer& k = request[i];
    std::memset(&k, 0, sizeof k);
    k.tx_buf = reinterpret_cast<uintptr_t>(t.tx);
    k.rx_buf = reinterpret_cast<uintptr_t>(t.rx);
    k.len = t.length;
    k.speed_hz = t.speedHz;
    k.delay_usecs = t.delayUsecs;
    k.bits_per_word = t.bitsPerWord;
    k.cs_change = t.csChange ? 1 : 0;
  }
  const auto count = static_cast<unsigned>(request.size());
  if (::ioctl(handle, SPI_IOC_MESSAGE(count), request.data()) < 0) {
    lastError_ = std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace pemra
