#include "analysis/OutputFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "analysis/LogReader.h"

namespace pemra {

namespace {

std::string KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "is a directory";
  if (S_ISFIFO(mode)) return "is a FIFO, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file";
  if (S_ISSOCK(mode)) return "is a socket, not a regular file";
  return "is not a regular file";
}

}  // namespace

bool OutputFile::Fail(const std::string& reason) {
  error_ = "Cannot write " + path_.string() + ": " + reason;
  return false;
}

bool OutputFile::FailSystem(std::string_view step, int code) {
  std::string reason;
  if (!step.empty()) reason = std::string(step) + ": ";
  return Fail(reason + std::strerror(code));
}

bool OutputFile::Begin(const std::filesystem::path& path,
                       const std::vector<std::filesystem::path>& inputs) {
  path_ = path;
  error_.clear();
  if (path.empty()) return Fail("no file name given");
  if (path.native().find('\0') != std::string::npos) return FailSystem("", EINVAL);
  struct stat target {};
  if (::stat(path.c_str(), &target) == 0) {
    if (!S_ISREG(target.st_mode)) return Fail(KindOf(target.st_mode));
    for (const std::filesystem::path& input : inputs) {
      struct stat in {};
      if (::stat(input.c_str(), &in) == 0 && in.st_dev == target.st_dev &&
          in.st_ino == target.st_ino)
        return Fail("is one of the inputs (" + input.string() + "): an output never replaces one");
    }
    if (ReadsAsLog(path))
      return Fail("reads as a data log: an output never replaces one; choose another name");
  } else if (errno != ENOENT) {
    return FailSystem("", errno);
  }
  if (!replacement_.Begin(path))
    return FailSystem(replacement_.ErrorStep(), replacement_.ErrorCode());
  return true;
}

bool OutputFile::Write(std::string_view data) {
  if (!error_.empty()) return false;
  if (!replacement_.Write(data)) return FailSystem(replacement_.ErrorStep(), replacement_.ErrorCode());
  return true;
}

bool OutputFile::Commit() {
  if (!error_.empty()) return false;
  if (!replacement_.Commit())
    return FailSystem(replacement_.ErrorStep(), replacement_.ErrorCode());
  return true;
}

bool WriteOutputFile(const std::filesystem::path& path, std::string_view content,
                     const std::vector<std::filesystem::path>& inputs, std::string& error,
                     FileCalls& calls) {
  OutputFile file(calls);
  const bool ok = file.Begin(path, inputs) && file.Write(content) && file.Commit();
  if (!ok) error = file.Error();
  return ok;
}

}  // namespace pemra
