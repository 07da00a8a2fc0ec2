#pragma once
// The parallel port on Linux: the ppdev device (/dev/parportN) whose base address is the
// port address, claimed for this process; or, as root on x86 when no ppdev device has that
// address, direct port instructions after ioperm.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "interfaces/PortIo.h"

namespace pemra {

struct PpdevOptions {
  // Where the kernel lists the ports (one folder per port, holding "base-addr").
  std::filesystem::path procDir = "/proc/sys/dev/parport";
  // The ports in sysfs, asked when the listing above has none with the address: a port's
  // device lies under its platform device "parport_pc.<base>" or under a PnP device whose
  // "resources" give its I/O range.
  std::filesystem::path sysfsDir = "/sys/bus/parport/devices";
  // Where the ppdev device files are.
  std::filesystem::path devDir = "/dev";
  // Fall back to ioperm and direct port instructions (root on x86 only).
  bool allowDirectPortIo = true;
};

class PpdevPortIo final : public PortIo {
 public:
  explicit PpdevPortIo(PpdevOptions options = {});
  ~PpdevPortIo() override;
  PpdevPortIo(const PpdevPortIo&) = delete;
  PpdevPortIo& operator=(const PpdevPortIo&) = delete;

  bool EnableAccess(uint16_t baseAddress, std::string& device, std::string& reason) override;
  void Out(uint16_t address, uint8_t value) override;
  uint8_t In(uint16_t address) override;
  // The ports of the listing under `procDir`, by name.
  std::vector<ParallelPortEntry> ListPorts() const override;

  // Name of the port ("parport0") whose base address is `baseAddress`, from the listing
  // under `procDir`; empty when none has it.
  static std::optional<std::string> FindPortByBase(const std::filesystem::path& procDir,
                                                   uint16_t baseAddress);
  // The same from sysfs (`sysfsDir` holds "parportN" links into the device tree).
  static std::optional<std::string> FindPortInSysfs(const std::filesystem::path& sysfsDir,
                                                    uint16_t baseAddress);

 private:
  enum class Mode { None, Ppdev, Direct };
  void Release();

  PpdevOptions options_;
  Mode mode_ = Mode::None;
  int fd_ = -1;
  uint16_t base_ = 0;
};

}  // namespace pemra
