#include "cli/Cli.h"

#include <fcntl.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <memory>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "cli/CommandLine.h"
#include "cli/AdevCommand.h"
#include "cli/PsdCommand.h"
#include "cli/Commands.h"
#include "cli/EvaluateCommand.h"
#include "cli/InputText.h"
#include "core/Selection.h"
#include "core/Timing.h"

namespace pemra::cli {

namespace {

constexpr int16_t kSimulatedPortAddress = 0x378;

const char* InterfaceWord(int16_t type) {
  switch (type) {
    case kInterfaceParallel:
      return "parallel";
    case kInterfaceUsb:
      return "usb";
    case kInterfaceFtdi:
      return "ftdi";
    case kInterfaceSpidev:
      return "spidev";
    default:
      return "none";
  }
}

// The configuration file's choices, then the simulator's defaults, then the options.
// Returns kExitUsage with a message for an option that does not make sense. `note` tells
// which of the settings used come from the file.
int ChooseSelection(const ConnectionOptions& options, const Environment& env,
                    Selection& selection, std::string& note, std::ostream& err) {
  const ConfigFileStatus status = LoadConfigFile(selection, env.configPath);
  if (status.state == ConfigFileState::Unreadable) {
    err << "pemra-cli: " << Shown(status.reason, 4 * kMaxShown) << "; its settings are not used\n";
  }
  const bool haveFile = status.state == ConfigFileState::Loaded ||
                        status.state == ConfigFileState::Unrecognised;
  const Selection fromFile = selection;
  if (options.simulate) {
    if (!haveFile) {
      selection.InterfaceType = 2;
      selection.DeviceType = kPrimaryModel;
    }
    if (selection.PortAddress == 0) selection.PortAddress = kSimulatedPortAddress;
  }
  if (options.interface == "usb") selection.InterfaceType = kInterfaceUsb;
  if (options.interface == "parallel") selection.InterfaceType = kInterfaceParallel;
  if (options.interface == "ftdi") selection.InterfaceType = kInterfaceFtdi;
  if (options.interface == "spidev") selection.InterfaceType = kInterfaceSpidev;
  // The file's device belongs to the file's interface.
  if (!options.interface.empty() && selection.InterfaceType != fromFile.InterfaceType) {
    selection.Device.clear();
  }
  if (!options.device.empty()) {
    if (selection.InterfaceType != kInterfaceFtdi && selection.InterfaceType != kInterfaceSpidev) {
      err << "pemra-cli: --device needs --interface ftdi or --interface spidev\n";
      return kExitUsage;
    }
    if (options.device.size() > kMaxDeviceText) {
      err << fmt::format("pemra-cli: the device '{}' is longer than {} characters\n",
                         Shown(options.device), kMaxDeviceText);
      return kExitUsage;
    }
    selection.Device = options.device;
  }
  if (!options.port.empty()) {
    const std::optional<int16_t> port = ParsePortAddress(options.port);
    if (!port) {
      err << fmt::format("pemra-cli: '{}' is not a port address: give one to four hex digits\n",
                         Shown(options.port));
      return kExitUsage;
    }
    selection.PortAddress = *port;
  }
  if (!options.model.empty()) {
    const std::optional<int16_t> model = ParseModelCode(options.model);
    if (!model) {
      err << fmt::format("pemra-cli: '{}' is not a model code\n", Shown(options.model));
      return kExitUsage;
    }
    selection.DeviceType = *model;
  }
  if (haveFile) {
    std::vector<std::string> parts;
    if (options.interface.empty()) {
      parts.push_back(fmt::format("interface {}", InterfaceWord(selection.InterfaceType)));
    }
    if (options.port.empty() && selection.InterfaceType == 1 && fromFile.PortAddress != 0) {
      parts.push_back("port " + NumberToHex(selection.PortAddress));
    }
    if (options.device.empty() && !selection.Device.empty() &&
        (selection.InterfaceType == kInterfaceFtdi || selection.InterfaceType == kInterfaceSpidev)) {
      parts.push_back("device " + Shown(selection.Device));
    }
    if (options.model.empty()) parts.push_back(fmt::format("model {}", selection.DeviceType));
    if (!parts.empty()) {
      note = fmt::format("pemra-cli: {} from {}\n", fmt::join(parts, ", "),
                         Shown(env.configPath.string(), 4 * kMaxShown));
    }
  }
  return kExitDone;
}

// The simulator's options, which need --simulate.
int ChooseSimSettings(const ConnectionOptions& options, sim::SimSettings& settings,
                      std::ostream& err) {
  const struct {
    const char* name;
    const std::string& value;
    std::optional<std::string> (*parse)(std::string_view, sim::SimSettings&);
  } simOptions[] = {{"--sim-motion", options.simMotion, sim::ParseSimMotion},
                    {"--sim-seed", options.simSeed, sim::ParseSimSeed},
                    {"--sim-noise", options.simNoise, sim::ParseSimNoise},
                    {"--sim-clock", options.simClock, sim::ParseSimClock}};
  for (const auto& o : simOptions) {
    if (o.value.empty()) continue;
    if (!options.simulate) {
      err << "pemra-cli: " << o.name << " needs --simulate\n";
      return kExitUsage;
    }
    if (const auto error = o.parse(o.value, settings)) {
      err << "pemra-cli: " << *error << '\n';
      return kExitUsage;
    }
  }
  if (options.simDrdyUnwired) {
    if (!options.simulate) {
      err << "pemra-cli: " << sim::kSimDrdyUnwired << " needs --simulate\n";
      return kExitUsage;
    }
    settings.dataReadyWired = false;
  }
  return kExitDone;
}

int RunScript(const std::string& path, Connection& connection, Streams streams) {
  const std::string name = path == "-" ? "standard input" : Shown(path, 4 * kMaxShown);
  std::unique_ptr<FdInputBuffer> file;
  std::streambuf* input = streams.in.rdbuf();
  if (path != "-") {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      streams.err << fmt::format("pemra-cli: cannot open the script {}: {}\n", name,
                                 std::strerror(errno));
      return kExitUsage;
    }
    file = std::make_unique<FdInputBuffer>(fd, true);
    input = file.get();
  }
  if (input == nullptr) return kExitDone;
  LineReader reader(*input);
  std::string line;
  for (int number = 1;; ++number) {
    const LineReader::Status read = reader.Next(line);
    if (read == LineReader::Status::End) break;
    if (read == LineReader::Status::ReadError) {
      const int code = reader.ReadErrorCode();
      streams.err << fmt::format("pemra-cli: cannot read the script {}: {}\n", name,
                                 code != 0 ? std::strerror(code) : "read error");
      return kExitFailed;
    }
    if (read == LineReader::Status::TooLong) {
      streams.err << fmt::format(
          "pemra-cli: the script stopped at line {} of {}: the line is longer than {} bytes\n",
          number, name, kMaxInputLine);
      return kExitUsage;
    }
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
      streams.err << fmt::format("pemra-cli: the script stopped at line {} of {}: {}\n", number,
                                 name, Shown(line));
      return status;
    }
  }
  return kExitDone;
}

}  // namespace

int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err, const Environment& env) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i].size() > kMaxInputLine) {
      err << fmt::format("pemra-cli: argument {} ('{}') is longer than {} bytes\n", i + 1,
                         Shown(args[i]), kMaxInputLine);
      return kExitUsage;
    }
  }
  const ParseResult parsed = ParseCommandLine(args);
  if (parsed.helpShown) {
    out << parsed.output;
    return kExitDone;
  }
  if (parsed.exitCode != kExitDone) {
    err << "pemra-cli: " << parsed.output << "\nRun with --help for more information.\n";
    return parsed.exitCode;
  }

  if (parsed.command.kind == CommandKind::Adev) {
    return RunAdev(parsed.command.adev, out, err,
                   env.decimalSeparator ? *env.decimalSeparator
                                        : DecimalSeparatorOf(std::localeconv()->decimal_point));
  }
  if (parsed.command.kind == CommandKind::Psd) {
    return RunPsd(parsed.command.psd, out, err,
                  env.decimalSeparator ? *env.decimalSeparator
                                       : DecimalSeparatorOf(std::localeconv()->decimal_point));
  }
  Command command = parsed.command;
  if (command.kind == CommandKind::Evaluate) {
    command.evaluate.commandLine = "pemra-cli";
    for (const std::string& arg : args)
      command.evaluate.commandLine += " " + (arg.find_first_of(" \t'\"") == std::string::npos ? arg : "'" + arg + "'");
    if (!command.evaluate.compare.empty()) return RunCompare(command.evaluate, {in, out, err});
  }
  sim::SimSettings simSettings;
  if (const int status = ChooseSimSettings(parsed.options, simSettings, err); status != kExitDone)
    return status;

  Selection selection;
  std::string note;
  if (const int status = ChooseSelection(parsed.options, env, selection, note, err);
      status != kExitDone) {
    return status;
  }
  if (!parsed.options.simTiming.empty() && !parsed.options.simulate) {
    err << "pemra-cli: --sim-timing needs --simulate\n";
    return kExitUsage;
  }
  Connection connection(selection, parsed.options.simulate, parsed.options.trace, env, err);
  connection.SetOpeningNote(note);
  connection.SetSimTiming(parsed.options.simTiming);
  connection.SetSimSettings(simSettings);
  const Streams streams{in, out, err};
  if (parsed.command.kind == CommandKind::Script) {
    return RunScript(parsed.command.path, connection, streams);
  }
  return RunCommand(command, connection, streams);
}

}  // namespace pemra::cli
