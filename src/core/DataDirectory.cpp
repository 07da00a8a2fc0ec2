#include "core/DataDirectory.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string_view>
#include <system_error>

namespace pemra {

namespace fs = std::filesystem;

namespace {

fs::path EnvironmentPath(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? fs::path(value) : fs::path();
}

// The value of XDG_DOCUMENTS_DIR in a user-dirs file: a quoted path in which "$HOME"
// stands for the home directory. Empty when the file has no such line.
fs::path UserDirsDocuments(const fs::path& file, const fs::path& home) {
  std::ifstream in(file);
  std::string line;
  constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR=";
  while (std::getline(in, line)) {
    if (!line.starts_with(kKey)) continue;
    std::string value = line.substr(kKey.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (value.starts_with("$HOME")) return home / fs::path(value.substr(5)).relative_path();
    if (fs::path(value).is_absolute()) return value;
  }
  return {};
}

}  // namespace

fs::path ProgramDirectory() {
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : exe.parent_path();
}

fs::path DocumentsDirectory() {
  const fs::path home = EnvironmentPath("HOME");
  if (home.empty()) return {};
  fs::path config = EnvironmentPath("XDG_CONFIG_HOME");
  if (config.empty()) config = home / ".config";
  const fs::path documents = UserDirsDocuments(config / "user-dirs.dirs", home);
  return documents.empty() ? home / "Documents" : documents;
}

fs::path ChooseDataDirectory(const std::optional<fs::path>& given, const fs::path& programDir,
                             std::string* error) {
  std::error_code ec;
  if (given) {
    const fs::path absolute = fs::absolute(*given, ec);
    return ec ? *given : absolute;
  }
  if (!programDir.empty() && fs::is_directory(programDir, ec) &&
      ::access(programDir.c_str(), W_OK | X_OK) == 0) {
    return programDir;
  }
  const fs::path documents = DocumentsDirectory();
  if (documents.empty()) {
    if (error != nullptr) *error = "no home directory for the data files (HOME is not set)";
    return programDir;
  }
  const fs::path dir = documents / "pemra";
  fs::create_directories(dir, ec);
  if (ec) {
    if (error != nullptr) *error = dir.string() + ": " + ec.message();
    return programDir;
  }
  return dir;
}

}  // namespace pemra
