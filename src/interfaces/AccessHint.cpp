#include "interfaces/AccessHint.h"

#include <grp.h>
#include <sys/stat.h>

#include <vector>

#include <fmt/format.h>

namespace pemra {

std::string AccessHint(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  if (st.st_gid == 0) return "install the udev rules (60-pemra.rules) and plug the device in again";
  std::string group = std::to_string(st.st_gid);
  std::vector<char> buffer(4096);
  struct group entry {};
  struct group* found = nullptr;
  if (getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr) {
    group = found->gr_name;
  }
  return "join group " + group + " (the group of " + path + ") and log in again";
}

std::string UsbDeviceNode(int bus, int address) {
  return fmt::format("/dev/bus/usb/{:03}/{:03}", bus, address);
}

}  // namespace pemra
