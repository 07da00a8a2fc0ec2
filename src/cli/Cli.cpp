#include "cli/Cli.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include <fmt/format.h>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "core/Selection.h"

namespace pemra::cli {

namespace {

constexpr int16_t kSimulatedPortAddress = 0x378;

// The configuration file's choices, then the simulator's defaults, then the options.
// Returns kExitUsage with a message for an option that does not make sense.
int ChooseSelection(const ConnectionOptions& options, const Environment& env,
                    Selection& selection, std::ostream& err) {
  const bool haveFile = ReadConfigFile(selection, env.configPath);
  if (options.simulate) {
    if (!haveFile) {
      selection.InterfaceType = 2;
      selection.DeviceType = kPrimaryModel;
    }
    if (selection.PortAddress == 0) selection.PortAddress = kSimulatedPortAddress;
  }
  if (options.interface == "usb") selection.InterfaceType = 2;
  if (options.interface == "parallel") selection.InterfaceType = 1;
  if (!options.port.empty()) {
    const std::optional<int16_t> port = ParsePortAddress(options.port);
    if (!port) {
      err << fmt::format("pemra-cli: '{}' is not a port address: give one to four hex digits\n",
                         options.port);
      return kExitUsage;
    }
    selection.PortAddress = *port;
  }
  if (!options.model.empty()) {
    const std::optional<int16_t> model = ParseModelCode(options.model);
    if (!model) {
      err << fmt::format("pemra-cli: '{}' is not a model code\n", options.model);
      return kExitUsage;
    }
    selection.DeviceType = *model;
  }
  return kExitDone;
}

int RunScript(const std::string& path, Connection& connection, Streams streams) {
  std::ifstream file;
  std::istream* input = &streams.in;
  const std::string name = path == "-" ? "standard input" : path;
  if (path != "-") {
    file.open(path);
    if (!file) {
      streams.err << fmt::format("pemra-cli: cannot open the script {}: {}\n", path,
                                 std::strerror(errno));
      return kExitUsage;
    }
    input = &file;
  }
  std::string line;
  for (int number = 1; std::getline(*input, line); ++number) {
    const std::optional<std::vector<std::string>> words = SplitScriptLine(line);
    int status = kExitDone;
    if (!words) {
      streams.err << "pemra-cli: unterminated quote\n";
      status = kExitUsage;
    } else if (words->empty()) {
      continue;  // blank line or comment
    } else {
      const ParseResult parsed = ParseScriptCommand(*words);
      if (parsed.exitCode != kExitDone || parsed.helpShown) {
        streams.err << "pemra-cli: " << (parsed.helpShown ? "help is not a command" : parsed.output)
                    << '\n';
        status = kExitUsage;
      } else {
        status = RunCommand(parsed.command, connection, streams);
      }
    }
    if (status != kExitDone) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      streams.err << fmt::format("pemra-cli: the script stopped at line {} of {}: {}\n", number,
                                 name, line);
      return status;
    }
  }
  if (input->bad()) {
    streams.err << fmt::format("pemra-cli: cannot read the script {}\n", name);
    return kExitFailed;
  }
  return kExitDone;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err, const Environment& env) {
  const ParseResult parsed = ParseCommandLine(args);
  if (parsed.helpShown) {
    out << parsed.output;
    return kExitDone;
  }
  if (parsed.exitCode != kExitDone) {
    err << "pemra-cli: " << parsed.output << "\nRun with --help for more information.\n";
    return parsed.exitCode;
  }

  Selection selection;
  if (const int status = ChooseSelection(parsed.options, env, selection, err);
      status != kExitDone) {
    return status;
  }
  if (!parsed.options.simTiming.empty() && !parsed.options.simulate) {
    err << "pemra-cli: --sim-timing needs --simulate\n";
    return kExitUsage;
  }
  Connection connection(selection, parsed.options.simulate, parsed.options.trace, env, err);
  connection.SetSimTiming(parsed.options.simTiming);
  const Streams streams{in, out, err};
  if (parsed.command.kind == CommandKind::Script) {
    return RunScript(parsed.command.path, connection, streams);
  }
  return RunCommand(parsed.command, connection, streams);
}

}  // namespace pemra::cli
