#pragma once
// `pemra-cli evaluate`: one command that characterises the sensor on the bench (identify,
// self-test, supply and temperatures, a still burst log, the noise figures, the limits) and
// leaves report.html, report.pdf, figures.json, imu.yaml and the log in one folder; and
// `evaluate --compare DIR...`, one comparison report of several such folders.
// Exit status: 0 every limit met (or none given), 3 a limit or the self-test failed, 1 the
// device or a file failed, 2 usage; 130 / 143 when SIGINT / SIGTERM cut the run short (the
// report of what it had is written, marked incomplete).

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Connection.h"

namespace CLI {
class App;
}

namespace pemra::cli {

inline constexpr int kExitLimitFailed = 3;

void AddEvaluateCommand(CLI::App& app, Command& command);

int RunEvaluate(const Command& command, Connection& connection, Streams streams);

// --compare: needs no sensor.
int RunCompare(const EvaluateOptions& options, Streams streams);

}  // namespace pemra::cli
