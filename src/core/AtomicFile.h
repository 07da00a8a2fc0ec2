#pragma once
// Files a user relies on are replaced whole: the new contents go to a temporary file beside
// the target, which is flushed and then renamed over it, so a crash leaves either the old
// file or the new one, never an empty or half-written one.

#include <filesystem>
#include <string>
#include <string_view>

namespace pemra {

// Replaces (or creates) the file with `contents`. An existing file keeps its permissions; a
// new one gets rw-r--r--. On failure the temporary file is removed, the target is left as
// it was, and `error` (when given) names the file, the step and the system's reason.
bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view contents,
                           std::string* error = nullptr);

}  // namespace pemra
