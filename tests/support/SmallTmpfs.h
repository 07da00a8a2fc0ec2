#pragma once
// A small file system that fills up: a tmpfs of a few KiB mounted on a fresh directory, for
// tests of what a full disk leaves behind. Mounting needs root (CI runs as root); where it
// cannot be mounted, Mounted() is false and the test skips.

#include <sys/mount.h>

#include <filesystem>
#include <string>

#include "support/ScratchDir.h"

namespace pemra::testing {

class SmallTmpfs {
 public:
  explicit SmallTmpfs(size_t kibibytes) {
    path_ = dir_.path() / "disk";
    std::error_code ec;
    std::filesystem::create_directory(path_, ec);
    const std::string options = "size=" + std::to_string(kibibytes) + "k,mode=0755";
    mounted_ = !ec && ::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                              options.c_str()) == 0;
  }
  ~SmallTmpfs() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;

  bool Mounted() const { return mounted_; }
  const std::filesystem::path& path() const { return path_; }

 private:
  ScratchDir dir_;
  std::filesystem::path path_;
  bool mounted_ = false;
};

}  // namespace pemra::testing
