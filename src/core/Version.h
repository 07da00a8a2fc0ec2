#pragma once
// The version both programs print for --version. Its source is written at build time
// (cmake/WriteVersion.cmake); link the pemra_version library to use it.

#include <string>

namespace pemra {

// The project's version, followed by the git description of the sources when they were
// built from a checkout: "14.0" or "14.0 (git 9961f07)".
std::string VersionText();

}  // namespace pemra
