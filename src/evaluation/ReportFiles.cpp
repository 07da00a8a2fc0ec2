#include "evaluation/ReportFiles.h"

#include <fstream>

#include "core/AtomicFile.h"
#include "datalog/LogFormat.h"

namespace pemra {

namespace {

// The first line of a log file: its header's file name line or its title line.
bool ReadsAsLog(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string start(64, '\0');
  in.read(start.data(), static_cast<std::streamsize>(start.size()));
  start.resize(static_cast<size_t>(in.gcount()));
  return start.starts_with(kFileNameKey) || start.starts_with(kSampleNumberTitle);
}

}  // namespace

bool WriteReportFile(const std::filesystem::path& path, const std::string& text, std::string* error) {
  std::error_code ec;
  const std::filesystem::path target = ReplacedFile(path);
  const auto status = std::filesystem::status(target, ec);
  if (std::filesystem::exists(status)) {
    if (!std::filesystem::is_regular_file(status)) {
      if (error) *error = path.string() + ": not a regular file; left as it is";
      return false;
    }
    if (ReadsAsLog(target)) {
      if (error) *error = path.string() + ": holds a data log; left as it is";
      return false;
    }
  }
  return ReplaceFileAtomically(path, text, error);
}

}  // namespace pemra
