#pragma once
// Files a user relies on (CommPort.cfg, register listings) are replaced atomically: the new
// text goes to a temporary file beside the one it replaces, is flushed to disk, renamed over
// it, and the directory is flushed too. A reader, a crash or a kill therefore meets either
// the old file or the new one, never an empty or half-written one.

#include <filesystem>
#include <string>
#include <string_view>

namespace pemra {

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
                         std::string* error = nullptr);

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
