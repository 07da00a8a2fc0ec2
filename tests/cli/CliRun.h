#pragma once
// pemra-cli run as a function for the tests of its commands: its words in, the exit status
// and both streams out; and a file written byte for byte.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"

namespace pemra::cli {

struct Result {
  int status;
  std::string out, err;
};

inline Result RunCli(const std::vector<std::string>& args, char decimalSeparator = '.',
                     const std::filesystem::path& config = "") {
  std::istringstream in;
  std::ostringstream out, err;
  Environment env;
  env.decimalSeparator = decimalSeparator;
  if (!config.empty()) env.configPath = config;
  const int status = cli::Run(args, in, out, err, env);
  return {status, out.str(), err.str()};
}

inline void Write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace pemra::cli
