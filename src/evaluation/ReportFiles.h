#pragma once
// How every report file reaches the disk: replaced atomically (a temporary beside it,
// synced, renamed), and never over a file that is not a regular file or that reads as a log
// (a log's header or title line), so a report can never destroy the data it came from.

#include <filesystem>
#include <string>

namespace pemra {

// False with `error` naming the file and the reason when it is refused or cannot be written.
bool WriteReportFile(const std::filesystem::path& path, const std::string& text, std::string* error);

}  // namespace pemra
