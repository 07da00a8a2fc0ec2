#pragma once
// A file layer for tests: a disk with a given room left (a write gets what fits, then "No
// space left on device"), and a record of every sync with the name the file had and its
// size at that moment.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/AtomicFile.h"

namespace pemra::testing {

class TestDisk final : public FileCalls {
 public:
  ssize_t Write(int fd, const void* data, size_t size) override {
    if (room == 0) {
      errno = ENOSPC;
      return -1;
    }
    const ssize_t n = ::write(fd, data, std::min(size, room));
    if (n > 0) room -= static_cast<size_t>(n);
    return n;
  }
  int Sync(int fd) override {
    struct stat st {};
    ::fstat(fd, &st);
    std::error_code ec;
    const std::filesystem::path name =
        std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), ec);
    syncs.emplace_back(name.filename().string(), static_cast<size_t>(st.st_size));
    return ::fsync(fd);
  }

  size_t room = SIZE_MAX;
  std::vector<std::pair<std::string, size_t>> syncs;  // file name, size
};

}  // namespace pemra::testing
