#pragma once
// `pemra-cli adev FILE...`: the Allan deviation of a log's gyro and accelerometer columns
// (or the columns named) and the noise figures read from it; with --kalibr the noise model
// as imu.yaml. Needs no sensor. Bad files, columns or options exit 2 naming the file and
// line.

#include <ostream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Commands.h"

namespace CLI {
class App;
}

namespace pemra::cli {

void AddAdevCommand(CLI::App& app, Command& command);

// `decimalSeparator`: of the table for people; --csv always writes the C locale's.
int RunAdev(const AdevOptions& options, std::ostream& out, std::ostream& err,
            char decimalSeparator);

}  // namespace pemra::cli
