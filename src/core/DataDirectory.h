#pragma once
// Where the program puts the files a user keeps (data logs, the register listing):
// --data-dir when given, else the program's own directory when it can be written (a build
// tree), else the user's documents folder under pemra/, created when needed.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pemra {

// True when a name holds a control character (below 0x20, or DEL): NUL cuts a path short
// where the system reads it, a line end splits the lines it is written into.
bool HasControlCharacter(std::string_view text);

// The directory that holds the running program (from /proc/self/exe); empty when unknown.
std::filesystem::path ProgramDirectory();

// The user's documents folder: XDG_DOCUMENTS_DIR from the user-dirs file of
// $XDG_CONFIG_HOME (default ~/.config), else ~/Documents. Empty without a home directory.
std::filesystem::path DocumentsDirectory();

// XDG_DOCUMENTS_DIR in the text of a user-dirs file: a quoted path in which a leading
// "$HOME" stands for `home`. Empty when the text has no usable such line (one whose path is
// not absolute or holds a control character is passed over).
std::filesystem::path DocumentsFromUserDirs(std::string_view text,
                                            const std::filesystem::path& home);

// Why the data files cannot go into `dir` ("DIR: the system's reason"), or empty when it is
// a directory this process may write.
std::string DataDirectoryProblem(const std::filesystem::path& dir);

// The data directory. `given` (made absolute) when present; else `programDir` when it is a
// directory this process may write; else DocumentsDirectory()/pemra, created when needed.
// When that cannot be created, `programDir` is returned and `error` (when not null) names
// the folder and the system's reason.
std::filesystem::path ChooseDataDirectory(const std::optional<std::filesystem::path>& given,
                                          const std::filesystem::path& programDir,
                                          std::string* error = nullptr);

}  // namespace pemra
