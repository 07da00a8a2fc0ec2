#pragma once
// The kernel's SPI user-space interface: the nodes under /sys/class/spidev (or /dev/spidev*
// where sysfs lists none), opened read-write; the mode, word size and clock set with their
// SPI_IOC_WR_* requests and read back; a message sent with SPI_IOC_MESSAGE. A node the user
// may not open is reported with the group to join.

#include <string>
#include <vector>

#include "interfaces/SpidevDriver.h"

namespace pemra {

class LinuxSpidevDriver final : public SpidevDriver {
 public:
  LinuxSpidevDriver() = default;
  ~LinuxSpidevDriver() override;
  LinuxSpidevDriver(const LinuxSpidevDriver&) = delete;
  LinuxSpidevDriver& operator=(const LinuxSpidevDriver&) = delete;

  bool List(std::vector<std::string>& paths) override;
  Handle Open(const std::string& path) override;
  void Close(Handle handle) override;
  bool SetMode(Handle handle, uint8_t mode) override;
  bool SetBitsPerWord(Handle handle, uint8_t bits) override;
  bool SetMaxSpeed(Handle handle, uint32_t hz) override;
  bool Message(Handle handle, std::span<const SpiTransfer> transfers) override;
  std::string LastError() const override { return lastError_; }

 private:
  bool Valid(Handle handle);

  std::vector<Handle> open_;  // the file descriptors this driver opened
  std::string lastError_;
};

}  // namespace pemra
