#pragma once
// Files a user relies on (CommPort.cfg, register listings) are replaced atomically: the new
// text goes to a temporary file beside the one it replaces, is flushed to disk, renamed over
// it, and the directory is flushed too. A reader, a crash or a kill therefore meets either
// the old file or the new one, never an empty or half-written one.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace pemra {

// The calls that decide whether written data reaches the disk whole. Files that must
// survive a crash write through them, so that a test can make them fail (a full disk) or
// see that they happen (a sync before the rename).
class FileCalls {
 public:
  virtual ~FileCalls() = default;
  virtual ssize_t Write(int fd, const void* data, size_t size);
  virtual int Sync(int fd);
  // The system's calls.
  static FileCalls& System();
};

// Writes all of `data`, resuming after short writes and interruptions. On failure errno
// holds the reason and `written` (when given) how much did reach the file.
bool WriteAll(FileCalls& calls, int fd, std::string_view data, size_t* written = nullptr);

// The replacement of one file, written piece by piece: Begin creates a temporary file beside
// the file it replaces, Write adds to it, Commit syncs it, renames it over the file and
// syncs the directory. Destroyed before Commit, it removes the temporary and leaves the file
// as it was. Symbolic links and permissions are handled as ReplaceFileAtomically says.
class AtomicReplacement {
 public:
  explicit AtomicReplacement(FileCalls& calls = FileCalls::System()) : calls_(calls) {}
  ~AtomicReplacement();
  AtomicReplacement(const AtomicReplacement&) = delete;
  AtomicReplacement& operator=(const AtomicReplacement&) = delete;

  // False when the file is not a regular file (nor absent) or no temporary can be made.
  bool Begin(const std::filesystem::path& path);
  bool Write(std::string_view data);
  bool Commit();

  // The file that is replaced (`path` with its links followed).
  const std::filesystem::path& Target() const { return target_; }
  // errno of the failure, and what failed ("" or "cannot create a temporary file beside it").
  int ErrorCode() const { return errorCode_; }
  const std::string& ErrorStep() const { return errorStep_; }

 private:
  bool Fail(std::string_view step, int code);
  void Abandon();

  FileCalls& calls_;
  std::filesystem::path target_;
  std::string temporary_;
  int fd_ = -1;
  int errorCode_ = 0;
  std::string errorStep_;
};

// Replaces `path` with `content`.
// - A symbolic link is followed: its final target is replaced (the temporary file lives
//   beside the target), so the link goes on naming the file.
// - An existing regular file keeps its permission bits; a new file gets the default
//   creation mode (0666 less the umask), so permissions are never widened.
// - An existing character device or FIFO is written in place (nothing to replace); any
//   other kind of file (a directory, a block device, a socket) is refused.
// - On failure the temporary file is removed, the old file is untouched, and `error` (when
//   given) names the file and the system's reason.
bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view content,
                           std::string* error = nullptr, FileCalls& calls = FileCalls::System());

// The file a write to `path` replaces: `path` with its symbolic links followed (as far as
// they lead; a dangling link gives the name it points to).
std::filesystem::path ReplacedFile(const std::filesystem::path& path);

// Removes temporary files that a killed write to `path` left beside the replaced file.
// Only files of ours are removed, and only when no running write holds them. Returns how
// many were removed.
int RemoveStaleTemporaries(const std::filesystem::path& path);

// A file-size limit (ulimit -f) must make a write fail with its message rather than kill
// the program with SIGXFSZ; the front ends call this once at start.
void IgnoreFileSizeSignal();

}  // namespace pemra
