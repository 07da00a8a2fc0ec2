#include "datalog/SpooledFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace pemra {

namespace fs = std::filesystem;

namespace {

// Writes all of `data`, resuming after short writes and interruptions.
bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

int OpenForWriting(const fs::path& path, int extraFlags) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | extraFlags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

fs::path SpoolPath(const fs::path& target) {
  fs::path spool = target;
  spool += kSpoolSuffix;
  return spool;
}

SpooledFile::~SpooledFile() {
  if (spoolFd_ >= 0 && !buffer_.empty()) WriteAll(spoolFd_, buffer_.data(), buffer_.size());
  Close();
}

bool SpooledFile::Fail(const fs::path& path) {
  error_ = path.string() + ": " + std::strerror(errno);
  return false;
}

void SpooledFile::Close() {
  if (targetFd_ >= 0) ::close(targetFd_);
  if (spoolFd_ >= 0) ::close(spoolFd_);
  targetFd_ = spoolFd_ = -1;
}

bool SpooledFile::Create(const fs::path& target, Nanoseconds now) {
  Close();
  target_ = target;
  spool_ = SpoolPath(target);
  rows_ = 0;
  spoolFailed_ = false;
  error_.clear();
  buffer_.clear();
  buffer_.reserve(kSpoolBufferBytes);
  lastRow_ = now;
  targetFd_ = OpenForWriting(target_, 0);
  if (targetFd_ < 0) return Fail(target_);
  spoolFd_ = ::open(spool_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (spoolFd_ < 0) {
    spoolFailed_ = true;
    return Fail(spool_);
  }
  return true;
}

bool SpooledFile::Flush() {
  if (buffer_.empty()) return true;
  const bool ok = WriteAll(spoolFd_, buffer_.data(), buffer_.size());
  buffer_.clear();
  return ok || Fail(spool_);
}

bool SpooledFile::AddRow(std::string_view row, Nanoseconds now) {
  if (spoolFd_ < 0 || !error_.empty()) return false;
  if (buffer_.size() + row.size() > kSpoolBufferBytes && !Flush()) return false;
  if (buffer_.empty()) firstPending_ = now;
  buffer_.append(row);
  ++rows_;
  // Written out now when the next row, expected one row interval from now, would come
  // later than a second after the oldest row waiting: no row waits longer than that.
  const Nanoseconds interval = now - lastRow_;
  lastRow_ = now;
  if (now + interval - firstPending_ >= kSpoolFlushInterval || interval < Nanoseconds::zero()) {
    return Flush();
  }
  return true;
}

bool SpooledFile::Complete(std::string_view header) {
  if (targetFd_ < 0 || spoolFd_ < 0 || !error_.empty()) return false;
  if (!Flush()) return false;
  if (!WriteAll(targetFd_, header.data(), header.size())) return Fail(target_);
  std::vector<char> chunk(kSpoolBufferBytes);
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(spoolFd_, chunk.data(), chunk.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(spool_);
    if (n == 0) break;
    if (!WriteAll(targetFd_, chunk.data(), static_cast<size_t>(n))) return Fail(target_);
    at += n;
  }
  // A full disk or a quota may only show when the data reaches the disk.
  if (::fsync(targetFd_) != 0 && errno != EINVAL && errno != EROFS) return Fail(target_);
  const int fd = targetFd_;
  targetFd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) return Fail(target_);
  ::close(spoolFd_);
  spoolFd_ = -1;
  ::unlink(spool_.c_str());
  return true;
}

}  // namespace pemra
