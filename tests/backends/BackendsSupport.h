#pragma once
// Shared by the back-end tests: pemra-cli run in-process, the texts of recorded messages, and
// a node made unusable for the calling thread.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "backends/EmulatedBench.h"
#include "cli/Cli.h"
#include "core/Message.h"

namespace pemra::test {

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

inline CliResult RunCli(const std::vector<std::string>& args, const cli::Environment& env) {
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  CliResult result;
  result.status = cli::Run(args, in, out, err, env);
  result.out = out.str();
  result.err = err.str();
  return result;
}

// An environment with no configuration file and '.' for decimals.
inline cli::Environment CliEnvironment() {
  cli::Environment env;
  env.configPath = std::filesystem::temp_directory_path() /
                   ("pemra-backends-" + std::to_string(getpid()) + "-none.cfg");
  env.decimalSeparator = '.';
  return env;
}

inline std::vector<std::string> Texts(const RecordingMessageSink& sink) {
  std::vector<std::string> texts;
  for (const Message& m : sink.messages) texts.push_back(m.text);
  return texts;
}

inline std::vector<std::string> Prefixed(std::vector<std::string> head,
                                         const std::vector<std::string>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// Takes the node (a path under /dev) from this user: mode 0, and as root also owner nobody
// and the given group, so that only WithoutFileOverride is needed for root to be refused.
// Returns whether the group was set.
inline bool TakeNodeAway(EmulatedBench& bench, const std::string& node, gid_t group) {
  const std::string file = bench.RootDir() + node;
  if (geteuid() == 0 && chown(file.c_str(), 65534, group) == 0) {
    return chmod(file.c_str(), 0660) == 0;
  }
  chmod(file.c_str(), 0);
  return false;
}

}  // namespace pemra::test
