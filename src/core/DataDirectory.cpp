#include "core/DataDirectory.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

constexpr std::streamsize kMaxUserDirsBytes = 64 * 1024;  // far more than the file needs

}  // namespace

bool HasControlCharacter(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

fs::path DocumentsFromUserDirs(std::string_view text, const fs::path& home) {
  constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR=";
  fs::path found;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (!line.starts_with(kKey)) continue;
    std::string_view value = line.substr(kKey.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (value.empty() || HasControlCharacter(value)) continue;
    constexpr std::string_view kHome = "$HOME";
    if (value.starts_with(kHome) &&
        (value.size() == kHome.size() || value[kHome.size()] == '/')) {
      found = home / fs::path(value.substr(kHome.size())).relative_path();
    } else if (value.front() == '/') {
      found = fs::path(value);
    }
    // As in a shell, a later line sets the value again.
  }
  return found;
}

std::string DataDirectoryProblem(const fs::path& dir) {
  const std::string name = dir.string();
  // Such a name is not echoed: it could be taken for terminal commands.
  if (HasControlCharacter(name)) return "the folder's name holds a control character";
  std::error_code ec;
  const fs::file_status status = fs::status(dir, ec);
  if (ec) return name + ": " + ec.message();
  if (!fs::is_directory(status)) return name + ": " + std::strerror(ENOTDIR);
  if (::access(dir.c_str(), W_OK | X_OK) != 0) return name + ": " + std::strerror(errno);
  return {};
}

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
  std::ifstream file(config / "user-dirs.dirs", std::ios::binary);
  std::string text(static_cast<size_t>(kMaxUserDirsBytes), '\0');
  file.read(text.data(), kMaxUserDirsBytes);
  text.resize(static_cast<size_t>(file.gcount()));
  const fs::path documents = DocumentsFromUserDirs(text, home);
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
