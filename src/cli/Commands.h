#pragma once
// The commands of pemra-cli, each run on the one connection of the run.

#include <istream>
#include <ostream>

#include "cli/CommandLine.h"
#include "cli/Connection.h"

namespace pemra::cli {

struct Streams {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
};

// Runs one command (not a script) and returns its exit status.
int RunCommand(const Command& command, Connection& connection, Streams streams);

}  // namespace pemra::cli
