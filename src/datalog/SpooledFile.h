#pragma once
// One data-log file on its way to disk. The target is created (emptied) when the file
// starts; each row goes to a spool file beside it (the target's name + ".spool") through a
// small buffer that is written out when full and before any row has waited a second in it
// (judged from the interval between rows), so a killed program loses at most the last
// second of rows. Completing the file writes the header and
// then the spooled rows into the target, syncs and closes it and removes the spool.
// Memory use does not depend on the number of rows.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/Clock.h"

namespace pemra {

inline constexpr std::string_view kSpoolSuffix = ".spool";
inline constexpr size_t kSpoolBufferBytes = 64 * 1024;
inline constexpr Nanoseconds kSpoolFlushInterval = std::chrono::seconds(1);

// The spool of a target file: the target's path with ".spool" appended.
std::filesystem::path SpoolPath(const std::filesystem::path& target);

class SpooledFile {
 public:
  SpooledFile() = default;
  ~SpooledFile();  // closes without completing: an unfinished spool stays on disk
  SpooledFile(const SpooledFile&) = delete;
  SpooledFile& operator=(const SpooledFile&) = delete;

  // Creates the target (replacing a file of that name) and its spool. False when the target
  // cannot be created (Error() gives the system's reason) or the spool cannot.
  bool Create(const std::filesystem::path& target, Nanoseconds now);
  // Adds one row (with its line end). False once a write has failed.
  bool AddRow(std::string_view row, Nanoseconds now);
  // Header, then the spooled rows, into the target; sync, close, remove the spool.
  bool Complete(std::string_view header);

  const std::filesystem::path& Target() const { return target_; }
  const std::filesystem::path& Spool() const { return spool_; }
  // "PATH: the system's reason" of the last failure.
  const std::string& Error() const { return error_; }
  // True when the target was created but the spool was not (a failure to report as a
  // write error rather than a file-access error).
  bool SpoolFailed() const { return spoolFailed_; }
  int64_t Rows() const { return rows_; }

 private:
  bool Flush();
  bool Fail(const std::filesystem::path& path);
  void Close();

  std::filesystem::path target_;
  std::filesystem::path spool_;
  int targetFd_ = -1;
  int spoolFd_ = -1;
  std::string buffer_;
  Nanoseconds lastRow_{0};       // when the last row (or the file) came
  Nanoseconds firstPending_{0};  // when the oldest row not yet written out came
  int64_t rows_ = 0;
  bool spoolFailed_ = false;
  std::string error_;
};

}  // namespace pemra
