#include "core/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pemra {

bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view contents,
                           std::string* error) {
  const auto fail = [&](const std::string& what, int code) {
    if (error != nullptr)
      *error = "Cannot write " + path.string() + ": " + what + ": " + std::strerror(code);
    return false;
  };

  // The temporary file lives beside the target so that the rename stays on one file system.
  std::string temporary = path.string() + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return fail("cannot create a temporary file beside it", errno);

  // Keep the permissions of the file being replaced; a new file gets rw-r--r--.
  struct stat existing {};
  const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
  ::fchmod(fd, mode);

  size_t written = 0;
  while (written < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + written, contents.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int code = errno;
      ::close(fd);
      ::unlink(temporary.c_str());
      return fail("writing " + temporary + " failed", code);
    }
    written += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) {
    const int code = errno;
    ::close(fd);
    ::unlink(temporary.c_str());
    return fail("flushing " + temporary + " failed", code);
  }
  if (::close(fd) != 0) {
    const int code = errno;
    ::unlink(temporary.c_str());
    return fail("closing " + temporary + " failed", code);
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int code = errno;
    ::unlink(temporary.c_str());
    return fail("renaming " + temporary + " over it failed", code);
  }
  return true;
}

}  // namespace pemra
