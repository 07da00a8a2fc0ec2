#include "interfaces/PpdevPortIo.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#if (defined(__x86_64__) || defined(__i386__)) && __has_include(<sys/io.h>)
#include <sys/io.h>
#define PEMRA_HAVE_DIRECT_PORT_IO 1
#else
#define PEMRA_HAVE_DIRECT_PORT_IO 0
#endif

namespace pemra {

namespace {

constexpr uint8_t kFloatingBus = 0xFF;  // what a read of an unclaimed port gives
constexpr int kPortRegisters = 3;       // data, status, control

std::string Hex(uint16_t value) { return fmt::format("0x{:X}", value); }

// True when the process belongs to the group, as primary or supplementary group.
bool InGroup(gid_t group) {
  if (getegid() == group) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int got = getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, group) != groups.begin() + got;
}

// The system's reason an open failed, with what usually lies behind it.
std::string OpenFailureReason(const std::filesystem::path& device, int error) {
  std::string reason = std::strerror(error);
  if (error == EACCES || error == EPERM) {
    struct stat info {};
    if (stat(device.c_str(), &info) == 0 && !InGroup(info.st_gid)) {
      const struct group* owner = getgrgid(info.st_gid);
      reason += owner != nullptr ? fmt::format(": the user is not in group {}", owner->gr_name)
                                 : fmt::format(": the user is not in group {}", info.st_gid);
    }
  } else if (error == ENOENT) {
    reason += " (the ppdev kernel module is not loaded)";
  }
  return reason;
}

}  // namespace

PpdevPortIo::PpdevPortIo(PpdevOptions options) : options_(std::move(options)) {}

PpdevPortIo::~PpdevPortIo() { Release(); }

namespace {

// The ports of the kernel's listing, by name: each folder but "default" holds "base-addr"
// with the base and the upper base ("888\t1912").
std::vector<ParallelPortEntry> ListedPorts(const std::filesystem::path& procDir) {
  std::error_code error;
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(procDir, error)) {
    const std::string name = entry.path().filename().string();
    if (name != "default") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::vector<ParallelPortEntry> ports;
  for (const auto& name : names) {
    std::ifstream file(procDir / name / "base-addr");
    long base = -1;
    if (file >> base && base >= 0 && base <= 0xFFFF) {
      ports.push_back(ParallelPortEntry{name, static_cast<uint16_t>(base)});
    }
  }
  return ports;
}

}  // namespace

std::optional<std::string> PpdevPortIo::FindPortByBase(const std::filesystem::path& procDir,
                                                       uint16_t baseAddress) {
  for (const ParallelPortEntry& port : ListedPorts(procDir)) {
    if (port.base == baseAddress) return port.name;
  }
  return std::nullopt;
}

std::vector<ParallelPortEntry> PpdevPortIo::ListPorts() const {
  return ListedPorts(options_.procDir);
}

namespace {

// Base address of the device directory `dir` from its name or its resources, if it says.
std::optional<long> SysfsBase(const std::filesystem::path& dir) {
  constexpr std::string_view kPlatformPrefix = "parport_pc.";
  const std::string name = dir.filename().string();
  if (name.starts_with(kPlatformPrefix)) {
    long base = -1;
    const char* first = name.data() + kPlatformPrefix.size();
    const auto [end, error] = std::from_chars(first, name.data() + name.size(), base);
    if (error == std::errc{} && end == name.data() + name.size()) return base;
  }
  std::ifstream resources(dir / "resources");
  for (std::string line; std::getline(resources, line);) {
    // "io 0x378-0x37f": the first I/O range is the port's base.
    if (!line.starts_with("io 0x")) continue;
    long base = -1;
    const char* first = line.data() + 5;
    const auto [end, error] = std::from_chars(first, line.data() + line.size(), base, 16);
    if (error == std::errc{} && end != first) return base;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> PpdevPortIo::FindPortInSysfs(const std::filesystem::path& sysfsDir,
                                                        uint16_t baseAddress) {
  std::error_code error;
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(sysfsDir, error)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("parport") && name.size() > 7 &&
        std::all_of(name.begin() + 7, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    const std::filesystem::path device = std::filesystem::canonical(sysfsDir / name, error);
    if (error) continue;
    // The nearest ancestor that tells a base address decides.
    for (std::filesystem::path dir = device.parent_path();
         !dir.empty() && dir != dir.root_path(); dir = dir.parent_path()) {
      if (const std::optional<long> base = SysfsBase(dir)) {
        if (*base == baseAddress) return name;
        break;
      }
    }
  }
  return std::nullopt;
}

bool PpdevPortIo::EnableAccess(uint16_t baseAddress, std::string& device, std::string& reason) {
  if (mode_ != Mode::None && base_ == baseAddress) return true;
  Release();

  std::optional<std::string> name = FindPortByBase(options_.procDir, baseAddress);
  if (!name) name = FindPortInSysfs(options_.sysfsDir, baseAddress);
  std::string ppdevFailure;
  if (name) {
    const std::filesystem::path path = options_.devDir / *name;
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      const int error = errno;
      device = path.string();
      reason = OpenFailureReason(path, error);
      ppdevFailure = reason;
      if (error != ENOENT) return false;  // the device is there but not ours to use
    } else if (ioctl(fd, PPCLAIM) != 0) {
      const int error = errno;
      close(fd);
      device = path.string();
      reason = fmt::format("the port could not be claimed: {}", std::strerror(error));
      return false;
    } else {
      fd_ = fd;
      base_ = baseAddress;
      mode_ = Mode::Ppdev;
      return true;
    }
  }

  // Why no ppdev device serves this address.
  std::string missing = ppdevFailure;
  if (missing.empty()) {
    std::error_code error;
    missing = std::filesystem::is_directory(options_.procDir, error) ||
                      std::filesystem::is_directory(options_.sysfsDir, error)
                  ? fmt::format("no port listed under {} or {} has that base address",
                                options_.procDir.string(), options_.sysfsDir.string())
                  : fmt::format("the system lists no parallel ports ({} is missing)",
                                options_.procDir.string());
  }

  // Direct port instructions, which need root on x86.
#if PEMRA_HAVE_DIRECT_PORT_IO
  if (options_.allowDirectPortIo && geteuid() == 0) {
    if (ioperm(baseAddress, kPortRegisters, 1) == 0) {
      base_ = baseAddress;
      mode_ = Mode::Direct;
      return true;
    }
    const int error = errno;
    if (ppdevFailure.empty()) {
      device = fmt::format("no parallel port with base address {}", Hex(baseAddress));
    }
    reason = fmt::format("{}, and direct port access failed: {}", missing, std::strerror(error));
    return false;
  }
#endif
  if (ppdevFailure.empty()) {
    device = fmt::format("no parallel port with base address {}", Hex(baseAddress));
  }
  reason = missing;
  return false;
}

void PpdevPortIo::Out(uint16_t address, uint8_t value) {
  if (mode_ == Mode::Ppdev) {
    if (address == base_) {
      ioctl(fd_, PPWDATA, &value);
    }
    // ppdev offers no write to the status register (base + 1): the initialisation's write
    // there is skipped. Its lines are inputs on a standard port, so nothing is lost.
  } else if (mode_ == Mode::Direct) {
#if PEMRA_HAVE_DIRECT_PORT_IO
    if (address >= base_ && address < base_ + kPortRegisters) outb(value, address);
#endif
  }
}

uint8_t PpdevPortIo::In(uint16_t address) {
  if (mode_ == Mode::Ppdev) {
    uint8_t value = kFloatingBus;
    if (address == base_ + 1) {
      ioctl(fd_, PPRSTATUS, &value);
    } else if (address == base_) {
      ioctl(fd_, PPRDATA, &value);
    }
    return value;
  }
  if (mode_ == Mode::Direct) {
#if PEMRA_HAVE_DIRECT_PORT_IO
    if (address >= base_ && address < base_ + kPortRegisters) return inb(address);
#endif
  }
  return kFloatingBus;
}

void PpdevPortIo::Release() {
  if (mode_ == Mode::Ppdev) {
    ioctl(fd_, PPRELEASE);
    close(fd_);
    fd_ = -1;
  } else if (mode_ == Mode::Direct) {
#if PEMRA_HAVE_DIRECT_PORT_IO
    ioperm(base_, kPortRegisters, 0);
#endif
  }
  mode_ = Mode::None;
}

}  // namespace pemra
