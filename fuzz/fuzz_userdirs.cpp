// The user-dirs file read to find the documents folder, against any bytes: a folder found
// is absolute and holds no control character, one given as "$HOME/..." lies in the home
// folder, and nothing is found in a text without the key.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "FuzzCheck.h"
#include "core/DataDirectory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::filesystem::path home = "/home/someone";
  const std::filesystem::path found = pemra::DocumentsFromUserDirs(text, home);
  if (found.empty()) return 0;
  FUZZ_CHECK(text.find("XDG_DOCUMENTS_DIR=") != std::string_view::npos);
  FUZZ_CHECK(found.is_absolute());
  FUZZ_CHECK(!pemra::HasControlCharacter(found.native()));
  if (text.find("XDG_DOCUMENTS_DIR=\"/") == std::string_view::npos &&
      text.find("XDG_DOCUMENTS_DIR=/") == std::string_view::npos) {
    FUZZ_CHECK(found.native().starts_with(home.native()));
  }
  return 0;
}
