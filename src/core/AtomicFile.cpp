#include "core/AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <cstring>
#include <random>

namespace pemra {

namespace fs = std::filesystem;

namespace {

constexpr int kMaxLinks = 40;  // as the kernel's own limit on nested links
constexpr std::string_view kTemporaryTag = ".tmp-";
constexpr size_t kTemporarySuffix = 6;
constexpr std::string_view kSuffixAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// ".CommPort.cfg.tmp-" for CommPort.cfg: hidden, and named for the file it replaces.
std::string TemporaryPrefix(const fs::path& target) {
  return "." + target.filename().string() + std::string(kTemporaryTag);
}

class Failure {
 public:
  Failure(const fs::path& given, const fs::path& target, std::string* error)
      : given_(given), target_(target), error_(error) {}
  bool operator()(std::string_view what, int code) const {
    if (error_ == nullptr) return false;
    std::string name = given_.string();
    if (target_ != given_) name += " (a link to " + target_.string() + ")";
    *error_ = "Cannot write " + name + ": ";
    if (!what.empty()) *error_ += std::string(what) + ": ";
    *error_ += std::strerror(code);
    return false;
  }

 private:
  const fs::path& given_;
  const fs::path& target_;
  std::string* error_;
};

// Writes into an existing device or FIFO; a FIFO nobody reads fails at once (ENXIO)
// rather than blocking.
bool WriteInPlace(const fs::path& target, std::string_view content, const Failure& fail,
                  FileCalls& calls) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return fail("", errno);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (!WriteAll(calls, fd, content)) {
    const int code = errno;
    ::close(fd);
    return fail("", code);
  }
  if (::close(fd) != 0) return fail("", errno);
  return true;
}

// Creates and locks a new temporary file beside `target`. The lock tells a cleaner at
// another program's start that this file is in use; a file the cleaner removed between our
// create and our lock has no links left and is given up for a new one.
int CreateTemporary(const fs::path& target, std::string& name) {
  std::random_device seed;
  std::mt19937 random(seed());
  std::uniform_int_distribution<size_t> pick(0, kSuffixAlphabet.size() - 1);
  const fs::path dir = target.parent_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix;
    for (size_t i = 0; i < kTemporarySuffix; ++i) suffix += kSuffixAlphabet[pick(random)];
    name = (dir / (TemporaryPrefix(target) + suffix)).string();
    // The kernel applies the umask to 0666: the default creation mode.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return -1;
    }
    struct stat st {};
    if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &st) == 0 && st.st_nlink > 0) return fd;
    ::close(fd);
  }
  errno = EEXIST;
  return -1;
}

bool HoldsNul(const fs::path& path) { return path.native().find('\0') != std::string::npos; }

void SyncDirectory(const fs::path& dir) {
  const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  // Some file systems cannot sync a directory (EINVAL); the rename itself has happened.
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

fs::path ReplacedFile(const fs::path& path) {
  fs::path current = path;
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::error_code ec;
    const fs::path next = fs::read_symlink(current, ec);
    if (ec) return current;
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  return current;
}

ssize_t FileCalls::Write(int fd, const void* data, size_t size) { return ::write(fd, data, size); }
int FileCalls::Sync(int fd) { return ::fsync(fd); }

FileCalls& FileCalls::System() {
  static FileCalls calls;
  return calls;
}

bool WriteAll(FileCalls& calls, int fd, std::string_view data, size_t* written) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = calls.Write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;  // no progress: as good as a full disk
      if (written != nullptr) *written = done;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  if (written != nullptr) *written = done;
  return true;
}

AtomicReplacement::~AtomicReplacement() { Abandon(); }

void AtomicReplacement::Abandon() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(temporary_.c_str());
  fd_ = -1;
}

bool AtomicReplacement::Fail(std::string_view step, int code) {
  Abandon();
  errorStep_ = step;
  errorCode_ = code;
  return false;
}

bool AtomicReplacement::Begin(const fs::path& path) {
  Abandon();
  errorCode_ = 0;
  errorStep_.clear();
  target_ = ReplacedFile(path);
  // The system would read the name only up to a NUL byte: another file.
  if (HoldsNul(path)) return Fail("", EINVAL);
  struct stat existing {};
  const bool exists = ::stat(target_.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) {
    return Fail("", S_ISDIR(existing.st_mode) ? EISDIR : EINVAL);
  }
  if (!exists && errno == ELOOP) return Fail("", ELOOP);
  fd_ = CreateTemporary(target_, temporary_);
  if (fd_ < 0) return Fail("cannot create a temporary file beside it", errno);
  if (exists) {
    // The replacement keeps the file's permissions and, where allowed, its owner.
    [[maybe_unused]] const int owned = ::fchown(fd_, existing.st_uid, existing.st_gid);
    if (::fchmod(fd_, existing.st_mode & 07777) != 0) return Fail("", errno);
  }
  return true;
}

bool AtomicReplacement::Write(std::string_view data) {
  if (fd_ < 0) return false;
  return WriteAll(calls_, fd_, data) || Fail("", errno);
}

bool AtomicReplacement::Commit() {
  if (fd_ < 0) return false;
  // The data must be on the disk before the name points at it.
  if (calls_.Sync(fd_) != 0) return Fail("", errno);
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) return Fail("", errno);
  // Closing releases the lock only after the rename, so a cleaner never takes the file.
  ::close(fd_);
  fd_ = -1;
  SyncDirectory(target_.parent_path());
  return true;
}

bool ReplaceFileAtomically(const fs::path& path, std::string_view content, std::string* error,
                           FileCalls& calls) {
  const fs::path target = ReplacedFile(path);
  const Failure fail(path, target, error);
  if (HoldsNul(path)) return fail("", EINVAL);

  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0 &&
      (S_ISCHR(existing.st_mode) || S_ISFIFO(existing.st_mode))) {
    return WriteInPlace(target, content, fail, calls);  // nothing to replace
  }
  AtomicReplacement replacement(calls);
  if (replacement.Begin(path) && replacement.Write(content) && replacement.Commit()) return true;
  return fail(replacement.ErrorStep(), replacement.ErrorCode());
}

int RemoveStaleTemporaries(const fs::path& path) {
  const fs::path target = ReplacedFile(path);
  const std::string prefix = TemporaryPrefix(target);
  const fs::path dir = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) return 0;
  int removed = 0;
  for (const fs::directory_entry& entry : it) {
    const std::string name = entry.path().filename().string();
    if (name.size() != prefix.size() + kTemporarySuffix || !name.starts_with(prefix) ||
        name.find_first_not_of(kSuffixAlphabet, prefix.size()) != std::string::npos) {
      continue;
    }
    const int fd = ::open(entry.path().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    // A regular file of ours that no running write holds locked.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(entry.path().c_str()) == 0) {
      ++removed;
    }
    ::close(fd);
  }
  return removed;
}

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

}  // namespace pemra
