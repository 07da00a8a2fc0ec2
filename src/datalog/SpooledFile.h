#pragma once
// One data-log file on its way to disk. Starting the file locks the target (creating it
// empty when absent; an existing file keeps its contents) and creates a spool beside it (the
// target's name + ".spool"), both locked for as long as the file is being written, so that
// a second run into the same name is refused instead of mixing its rows in. Each row goes
// to the spool through a small buffer that is written out when full and before any row has
// waited a second in it (judged from the interval between rows), so a killed program loses
// at most the last second of rows; the spool only ever holds whole rows. Completing the file
// writes the header and then the spooled rows into a new file that replaces the target
// atomically, then removes the spool. Memory use does not depend on the number of rows.
//
// Only regular files are written: a FIFO, device, directory or socket at either name is
// refused, and no open waits. A spool that an earlier run left behind is never emptied: it
// is kept under the next free name NAME.spool.N.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/AtomicFile.h"
#include "core/Clock.h"

namespace pemra {

inline constexpr std::string_view kSpoolSuffix = ".spool";
inline constexpr size_t kSpoolBufferBytes = 64 * 1024;
inline constexpr Nanoseconds kSpoolFlushInterval = std::chrono::seconds(1);

// The spool of a target file: the target's path with ".spool" appended.
std::filesystem::path SpoolPath(const std::filesystem::path& target);

class SpooledFile {
 public:
  explicit SpooledFile(FileCalls& calls = FileCalls::System()) : calls_(calls) {}
  ~SpooledFile();  // closes without completing: an unfinished spool stays on disk
  SpooledFile(const SpooledFile&) = delete;
  SpooledFile& operator=(const SpooledFile&) = delete;

  // Locks the target and creates its spool. False when the target cannot be used (Error()
  // gives the reason; InUse() when another run holds it) or the spool cannot be created
  // (SpoolFailed()).
  bool Create(const std::filesystem::path& target, Nanoseconds now);
  // Adds one row (with its line end). False once a write has failed; the spool then ends
  // with the last row that could be written whole.
  bool AddRow(std::string_view row, Nanoseconds now);
  // Header, then the spooled rows, into a new file that replaces the target; the spool is
  // removed. On failure the target is left as it was and the spool keeps the rows.
  bool Complete(std::string_view header);

  const std::filesystem::path& Target() const { return target_; }
  const std::filesystem::path& Spool() const { return spool_; }
  // "PATH: the reason" of the last failure.
  const std::string& Error() const { return error_; }
  // True when the target could be used but the spool could not be created (a failure to
  // report as a write error rather than a file-access error).
  bool SpoolFailed() const { return spoolFailed_; }
  // True when the target or its spool is locked by another run.
  bool InUse() const { return inUse_; }
  // Where Create put a spool that an earlier, unfinished run had left (empty: none).
  const std::filesystem::path& KeptSpool() const { return keptSpool_; }
  int64_t Rows() const { return rows_; }

 private:
  bool OpenTarget();
  bool OpenSpool();
  bool KeepLeftOverSpool();
  bool Flush();
  bool Fail(const std::filesystem::path& path);
  bool Fail(const std::filesystem::path& path, std::string_view reason);
  void Close();

  FileCalls& calls_;
  std::filesystem::path target_;
  std::filesystem::path spool_;
  std::filesystem::path keptSpool_;
  int targetFd_ = -1;
  int spoolFd_ = -1;
  std::string buffer_;
  off_t spoolSize_ = 0;          // bytes of whole rows in the spool
  Nanoseconds lastRow_{0};       // when the last row (or the file) came
  Nanoseconds firstPending_{0};  // when the oldest row not yet written out came
  int64_t rows_ = 0;
  bool spoolFailed_ = false;
  bool inUse_ = false;
  std::string error_;
};

}  // namespace pemra
