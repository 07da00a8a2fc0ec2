#include "datalog/SpooledFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace pemra {

namespace fs = std::filesystem;

namespace {

// A name that keeps changing under us (runs completing it over and over) is given up
// after this many tries.
constexpr int kOpenAttempts = 16;
constexpr int kMaxKeptSpools = 1000;

// Opens without waiting: a FIFO or device never blocks the program here.
int OpenNow(const fs::path& path, int flags, mode_t mode = 0666) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The reason a file of this kind is not written to.
std::string NotRegular(mode_t mode) {
  if (S_ISDIR(mode)) return std::strerror(EISDIR);
  if (S_ISFIFO(mode)) return "not a regular file (a FIFO)";
  if (S_ISLNK(mode)) return "not a regular file (a symbolic link)";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "not a regular file (a device)";
  if (S_ISSOCK(mode)) return "not a regular file (a socket)";
  return "not a regular file";
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Takes the lock that marks a file as being written by a run. False with errno
// EWOULDBLOCK when another run (or program) holds it.
bool LockNow(int fd) {
  int result = -1;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// Moves `from` to `to` unless `to` exists. False with EEXIST when it does.
bool RenameNoReplace(const fs::path& from, const fs::path& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the no-replace rename: look first.
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) {
    errno = EEXIST;
    return false;
  }
  return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

fs::path SpoolPath(const fs::path& target) {
  fs::path spool = target;
  spool += kSpoolSuffix;
  return spool;
}

SpooledFile::~SpooledFile() {
  if (spoolFd_ >= 0 && error_.empty()) Flush();
  Close();
}

bool SpooledFile::Fail(const fs::path& path) { return Fail(path, std::strerror(errno)); }

bool SpooledFile::Fail(const fs::path& path, std::string_view reason) {
  error_ = path.string() + ": " + std::string(reason);
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
  keptSpool_.clear();
  rows_ = 0;
  spoolSize_ = 0;
  spoolFailed_ = inUse_ = false;
  error_.clear();
  buffer_.clear();
  buffer_.reserve(kSpoolBufferBytes);
  lastRow_ = now;
  // The system would read the name only up to the NUL: target and spool would be one file.
  if (target_.native().find('\0') != std::string::npos) {
    return Fail(target_, "the name holds a NUL byte");
  }
  if (!OpenTarget()) return false;
  if (!OpenSpool()) {
    Close();
    return false;
  }
  struct stat targetStat {}, spoolStat {};
  if (::fstat(targetFd_, &targetStat) != 0 || ::fstat(spoolFd_, &spoolStat) != 0 ||
      SameFile(targetStat, spoolStat)) {
    Close();
    return Fail(target_, "the file and its spool " + spool_.string() + " are the same file");
  }
  // A completion that was killed may have left its temporary file; the spool still has the
  // rows it held.
  RemoveStaleTemporaries(target_);
  return true;
}

bool SpooledFile::OpenTarget() {
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      return Fail(target_, NotRegular(st.st_mode));  // not even opened
    }
    // Created empty when absent; an existing file keeps its contents until the new one
    // replaces it.
    const int fd = OpenNow(target_, O_WRONLY | O_CREAT);
    if (fd < 0) return Fail(target_);
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
      const mode_t mode = opened.st_mode;
      ::close(fd);
      return Fail(target_, NotRegular(mode));
    }
    if (!LockNow(fd)) {
      const int code = errno;
      ::close(fd);
      if (code != EWOULDBLOCK) return Fail(target_, std::strerror(code));
      inUse_ = true;
      return Fail(target_, "another run is writing this file (it is locked)");
    }
    // A run completing the file may have put a new one in its place meanwhile: the lock
    // must be on the file that the name names now.
    if (::stat(target_.c_str(), &st) == 0 && SameFile(st, opened)) {
      targetFd_ = fd;
      return true;
    }
    ::close(fd);
  }
  return Fail(target_, "the file keeps being replaced");
}

bool SpooledFile::OpenSpool() {
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    // Always a new file of ours: never one found at the name, nor the file a link names.
    const int fd = OpenNow(spool_, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW);
    if (fd >= 0) {
      if (LockNow(fd)) {
        spoolFd_ = fd;
        return true;
      }
      // Another run opened our new spool at once as a left-over: let it have the name.
      ::close(fd);
      inUse_ = true;
      return Fail(spool_, "another run is writing this file (it is locked)");
    }
    if (errno != EEXIST) {
      spoolFailed_ = true;
      return Fail(spool_);
    }
    if (!KeepLeftOverSpool()) return false;
  }
  spoolFailed_ = true;
  return Fail(spool_, "the file keeps being replaced");
}

// Something is at the spool's name: a spool of a running run (refused), one that an
// earlier run left (kept under a new name), or not a spool at all (refused).
bool SpooledFile::KeepLeftOverSpool() {
  struct stat st {};
  if (::lstat(spool_.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;  // gone meanwhile: try again
    spoolFailed_ = true;
    return Fail(spool_);
  }
  if (!S_ISREG(st.st_mode)) {
    spoolFailed_ = true;
    return Fail(spool_, NotRegular(st.st_mode));
  }
  const int fd = OpenNow(spool_, O_RDONLY | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ENOENT) return true;
    spoolFailed_ = true;
    return Fail(spool_);
  }
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || !SameFile(st, opened)) {
    ::close(fd);
    return true;  // replaced meanwhile: look again
  }
  if (!LockNow(fd)) {
    const int code = errno;
    ::close(fd);
    if (code != EWOULDBLOCK) {
      spoolFailed_ = true;
      return Fail(spool_, std::strerror(code));
    }
    inUse_ = true;
    return Fail(spool_, "another run is writing this file (it is locked)");
  }
  // No run holds it: its rows are kept for recovery under the next free name.
  for (int n = 1; n <= kMaxKeptSpools; ++n) {
    fs::path kept = spool_;
    kept += "." + std::to_string(n);
    if (RenameNoReplace(spool_, kept)) {
      ::close(fd);
      keptSpool_ = kept;
      return true;
    }
    if (errno != EEXIST) break;
  }
  const int code = errno;
  ::close(fd);
  spoolFailed_ = true;
  return Fail(spool_, std::string("a spool left by an earlier run cannot be kept: ") +
                          std::strerror(code));
}

bool SpooledFile::Flush() {
  if (buffer_.empty()) return true;
  size_t written = 0;
  if (WriteAll(calls_, spoolFd_, buffer_, &written)) {
    spoolSize_ += static_cast<off_t>(buffer_.size());
    buffer_.clear();
    return true;
  }
  const int code = errno;
  // The buffer holds whole rows: keep those written whole, cut the rest away, so the
  // spool never ends in a part of a row that a reader would take for a number.
  const size_t lineEnd = written == 0 ? std::string::npos : buffer_.rfind('\n', written - 1);
  spoolSize_ += lineEnd == std::string::npos ? 0 : static_cast<off_t>(lineEnd + 1);
  while (::ftruncate(spoolFd_, spoolSize_) != 0 && errno == EINTR) {
  }
  ::lseek(spoolFd_, spoolSize_, SEEK_SET);
  buffer_.clear();
  return Fail(spool_, std::strerror(code));
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
  AtomicReplacement replacement(calls_);
  const auto failed = [&] {
    std::string reason = replacement.ErrorStep();
    if (!reason.empty()) reason += ": ";
    reason += std::strerror(replacement.ErrorCode());
    return Fail(replacement.Target().empty() ? target_ : replacement.Target(), reason);
  };
  if (!replacement.Begin(target_) || !replacement.Write(header)) return failed();
  std::vector<char> chunk(kSpoolBufferBytes);
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(spoolFd_, chunk.data(), chunk.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(spool_);
    if (n == 0) break;
    if (!replacement.Write(std::string_view(chunk.data(), static_cast<size_t>(n)))) {
      return failed();
    }
    at += n;
  }
  // Synced before it takes the name: a crash leaves the old file or the whole new one.
  if (!replacement.Commit()) return failed();
  // The rows are in the new file: the spool goes while it is still locked.
  ::unlink(spool_.c_str());
  Close();
  return true;
}

}  // namespace pemra
