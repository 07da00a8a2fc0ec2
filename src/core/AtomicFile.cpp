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

bool WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    content.remove_prefix(static_cast<size_t>(n));
  }
  return true;
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
bool WriteInPlace(const fs::path& target, std::string_view content, const Failure& fail) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return fail("", errno);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (!WriteAll(fd, content)) {
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

bool ReplaceFileAtomically(const fs::path& path, std::string_view content, std::string* error) {
  const fs::path target = ReplacedFile(path);
  const Failure fail(path, target, error);

  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) {
    if (S_ISCHR(existing.st_mode) || S_ISFIFO(existing.st_mode)) {
      return WriteInPlace(target, content, fail);
    }
    return fail("", S_ISDIR(existing.st_mode) ? EISDIR : EINVAL);
  }
  if (!exists && errno == ELOOP) return fail("", ELOOP);

  std::string temporary;
  const int fd = CreateTemporary(target, temporary);
  if (fd < 0) return fail("cannot create a temporary file beside it", errno);
  const auto abandon = [&](std::string_view what, int code) {
    ::close(fd);
    ::unlink(temporary.c_str());
    return fail(what, code);
  };
  if (exists) {
    // The replacement keeps the file's permissions and, where allowed, its owner.
    [[maybe_unused]] const int owned = ::fchown(fd, existing.st_uid, existing.st_gid);
    if (::fchmod(fd, existing.st_mode & 07777) != 0) return abandon("", errno);
  }
  if (!WriteAll(fd, content)) return abandon("", errno);
  if (::fsync(fd) != 0) return abandon("", errno);
  if (::rename(temporary.c_str(), target.c_str()) != 0) return abandon("", errno);
  // Closing releases the lock only after the rename, so a cleaner never takes the file.
  ::close(fd);
  SyncDirectory(target.parent_path());
  return true;
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
