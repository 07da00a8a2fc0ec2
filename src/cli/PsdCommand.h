#pragma once
// `pemra-cli psd FILE...`: the noise spectrum (Welch, Hann window, 50% overlap) of a log's
// gyro and accelerometer columns (or the columns named) as the one-sided amplitude density
// in unit/sqrt(Hz), with its flat band's level (also as N, the random walk read from it) and
// its largest peaks; --csv the whole spectrum; --from/--to the stretch of the log (the rows
// `adev --from/--to` and the log viewer select). Needs no sensor. Bad files, columns or options
// exit 2 naming the file and line.

#include <ostream>

#include "cli/CommandLine.h"

namespace CLI {
class App;
}

namespace pemra::cli {

void AddPsdCommand(CLI::App& app, Command& command);

// `decimalSeparator`: of the summary for people; --csv always writes the C locale's.
int RunPsd(const PsdOptions& options, std::ostream& out, std::ostream& err, char decimalSeparator);

}  // namespace pemra::cli
