#pragma once
// pemra-cli as a function: the words of the command line, the three streams, and what a
// caller may put in place of the program's own clock, rig or back ends. Returns the exit
// status (0 done, 1 the device or transport failed, 2 usage error).

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "cli/Connection.h"

namespace pemra::cli {

int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err, const Environment& env = {});

}  // namespace pemra::cli
