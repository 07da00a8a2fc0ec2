#pragma once
// One rule for every file the analysis writes (imu.yaml, plots, tables, CSV exports), in
// both programs:
// - never one of the inputs (same device and inode, whatever the name or link), nor a file
//   that reads as a data log or a file of numbers (an output given where an input was meant);
// - regular files only: a directory, a FIFO or a device is refused, never written in place;
// - written to a temporary file beside the target, every write checked, synced and renamed
//   over it; on any failure the temporary is removed and an existing file is left as it was.
// Errors read "Cannot write NAME: reason".

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/AtomicFile.h"

namespace pemra {

class OutputFile {
 public:
  explicit OutputFile(FileCalls& calls = FileCalls::System()) : replacement_(calls) {}

  // Checks `path` against the rule and the `inputs` and creates the temporary.
  bool Begin(const std::filesystem::path& path,
             const std::vector<std::filesystem::path>& inputs = {});
  bool Write(std::string_view data);
  // Syncs the temporary and renames it over the target.
  bool Commit();
  // Why the last call failed: "Cannot write NAME: reason".
  const std::string& Error() const { return error_; }

 private:
  bool Fail(const std::string& reason);
  bool FailSystem(std::string_view step, int code);

  AtomicReplacement replacement_;
  std::filesystem::path path_;
  std::string error_;
};

// The whole output at once. False with `error` set on failure.
bool WriteOutputFile(const std::filesystem::path& path, std::string_view content,
                     const std::vector<std::filesystem::path>& inputs, std::string& error,
                     FileCalls& calls = FileCalls::System());

}  // namespace pemra
