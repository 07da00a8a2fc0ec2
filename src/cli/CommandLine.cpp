#include "cli/CommandLine.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "cli/AdevCommand.h"
#include "cli/EvaluateCommand.h"
#include "cli/InputText.h"
#include "cli/LogCommand.h"
#include "cli/PsdCommand.h"
#include "core/Timing.h"
#include "core/Version.h"

namespace pemra::cli {

namespace {

constexpr double kMaxWaitMs = 24.0 * 3600.0 * 1000.0;

// An option given with an empty value ("--port ''") is a mistake, not an absent option.
const CLI::Validator kNonEmpty(
    [](std::string& value) {
      return value.empty() ? std::string("an empty value is not allowed") : std::string();
    },
    "");

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The commands, shared by the command line and by script lines.
void AddCommands(CLI::App& app, Command& command, bool withScript) {
  auto* scan = app.add_subcommand(
      "scan", "list the parallel ports, USB adapters, FTDI boards and SPI devices found");
  scan->callback([&command] { command.kind = CommandKind::Scan; });

  auto* read = app.add_subcommand("read", "read registers");
  read->add_option("REG", command.registers,
                   "register name (any case, XGYRO_OFF for \"XGYRO_ OFF\") or index 0 to 31")
      ->required();
  read->add_flag("--fields", command.fields, "each register's fields after its line");
  read->callback([&command] { command.kind = CommandKind::Read; });

  auto* write = app.add_subcommand("write", "write a register");
  write->add_option("REG", command.target, "register name or index")->required();
  write->add_option("HEX", command.value, "one to four hex digits")->required();
  write->callback([&command] {
    command.kind = CommandKind::Write;
    command.registers = {command.target};
  });

  auto* set = app.add_subcommand(
      "set", "write one field of a register (read, change that field, write, read back)");
  set->add_option("REG.FIELD", command.target, "register and field, e.g. MSC_CTRL.dr_enable")
      ->required();
  set->add_option("VALUE", command.value,
                  "a number (decimal, or hex after 0x) or the name of a value, e.g. on")
      ->required();
  set->callback([&command] { command.kind = CommandKind::Set; });

  auto* dump = app.add_subcommand("dump", "list all registers");
  dump->add_option("--file", command.path,
                   "write the listing to this file (CR LF line ends) instead of the terminal")
      ->check(kNonEmpty);
  dump->add_flag("--fields", command.fields, "each register's fields after its line");
  dump->callback([&command] { command.kind = CommandKind::Dump; });

  auto* wait = app.add_subcommand("wait", "pause that many milliseconds");
  wait->add_option("MS", command.value, "milliseconds")->required();
  wait->callback([&command] { command.kind = CommandKind::Wait; });

  AddLogCommand(app, command);

  if (withScript) {
    auto* script = app.add_subcommand(
        "script", "run commands from a file or standard input (-), one per line, on one connection");
    script->add_option("FILE", command.path, "script file, or - for standard input")
        ->required()
        ->check(kNonEmpty);
    script->callback([&command] { command.kind = CommandKind::Script; });
    AddAdevCommand(app, command);
    AddPsdCommand(app, command);
    AddEvaluateCommand(app, command);
  }
  app.require_subcommand(1);
}

void Parse(CLI::App& app, std::vector<std::string> args, ParseResult& result) {
  // "--port=" would take the next word as its value; an empty value is refused here.
  for (const std::string& arg : args) {
    if (arg.starts_with("--") && arg.size() > 3 && arg.back() == '=' &&
        arg.find('=') == arg.size() - 1) {
      result.exitCode = kExitUsage;
      result.output = Shown(arg.substr(0, arg.size() - 1)) + ": an empty value is not allowed";
      return;
    }
  }
  std::reverse(args.begin(), args.end());  // CLI11 takes the words last first
  try {
    app.parse(args);
  } catch (const CLI::CallForHelp&) {
    result.helpShown = true;
    result.output = app.help();
  } catch (const CLI::CallForAllHelp&) {
    result.helpShown = true;
    result.output = app.help("", CLI::AppFormatMode::All);
  } catch (const CLI::CallForVersion& version) {
    result.helpShown = true;
    result.output = std::string(version.what()) + "\n";
  } catch (const CLI::ParseError& error) {
    result.exitCode = kExitUsage;
    // The message may quote the user's words: made safe and kept short.
    result.output = Shown(error.what(), 4 * kMaxShown);
    // A word that is no command is reported as such, not as a missing command.
    const std::vector<std::string> rest = app.remaining();
    if (app.get_subcommands().empty() && !rest.empty()) {
      result.output = "unknown command '" + Shown(rest.front()) + "'";
    }
  }
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  ParseResult result;
  CLI::App app{"Reads and writes the registers of a sensor through a USB adapter, a parallel port, "
               "an FTDI board or a spidev node.",
               "pemra-cli"};
  app.add_flag("--simulate", result.options.simulate, "use the simulated sensor");
  app.add_option("--interface", result.options.interface, "the interface to use")
      ->check(CLI::IsMember({"usb", "parallel", "ftdi", "spidev"}));
  app.add_option("--device", result.options.device,
                 "ftdi: the board's serial number (SERIAL:B for channel B) or bus position; "
                 "spidev: the node (/dev/spidev0.0); default: the first found")
      ->check(kNonEmpty);
  app.add_option("--port", result.options.port, "parallel-port base address in hex")
      ->check(kNonEmpty);
  app.add_option("--model", result.options.model, "sensor model code (21410 to 21490)")
      ->check(kNonEmpty);
  app.add_flag("--trace", result.options.trace,
               "print every SPI frame and USB transfer on standard error");
  app.add_option("--sim-timing", result.options.simTiming,
                 "with --simulate: bulk transfers, port accesses, FTDI command buffers and spidev "
                 "messages take the time real hardware needs (hs: high-speed adapter, fs: "
                 "full-speed adapter)")
      ->check(CLI::IsMember({"hs", "fs"}));
  app.add_option("--sim-motion", result.options.simMotion,
                 "with --simulate: still (lying still) or moving (default)");
  app.add_option("--sim-seed", result.options.simSeed, "with --simulate: seed of the noise (default 1)");
  app.add_option("--sim-noise", result.options.simNoise,
                 "with --simulate: KEY=VALUE,... of gyro-arw (deg/sqrt(h)), gyro-bi (deg/h), "
                 "gyro-rrw (deg/h/sqrt(h)), accel-vrw (m/s/sqrt(h)), accel-bi (mg), accel-rw "
                 "(m/s/h/sqrt(h)); 0 turns one off");
  app.add_option("--sim-clock", result.options.simClock,
                 "with --simulate: virtual (the rig's time runs as fast as the CPU allows)");
  app.add_flag("--sim-drdy-unwired", result.options.simDrdyUnwired,
               "with --simulate: the FTDI board's ADBUS5 (GPIOL1) not wired to the sensor's "
               "data-ready output (DI/O1), so burst capture polls the new-data flag");
  app.set_version_flag("--version", "pemra-cli " + VersionText(), "print the version and exit");
  AddCommands(app, result.command, true);
  Parse(app, args, result);
  return result;
}

ParseResult ParseScriptCommand(const std::vector<std::string>& words) {
  ParseResult result;
  CLI::App app{"", "script line"};
  AddCommands(app, result.command, false);
  Parse(app, words, result);
  return result;
}

std::optional<std::vector<std::string>> SplitScriptLine(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (const char c : line) {
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else {
        word += c;
      }
    } else if (c == '"') {
      quoted = true;
      inWord = true;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (quoted) return std::nullopt;
  if (inWord) words.push_back(std::move(word));
  if (!words.empty() && words.front().starts_with('#')) words.clear();
  return words;
}

std::optional<int32_t> ParseRegisterValue(std::string_view text) {
  if (text.empty() || text.size() > 4 || !std::all_of(text.begin(), text.end(), IsHexDigit)) {
    return std::nullopt;
  }
  return HexToNumber(text);
}

std::optional<int16_t> ParsePortAddress(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  if (!ParseRegisterValue(text)) return std::nullopt;
  return HexToInt16(text);
}

std::optional<int16_t> ParseModelCode(std::string_view text) {
  int16_t code = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), code);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return code;
}

std::optional<double> ParseMilliseconds(std::string_view text, char decimalSeparator) {
  std::string normal(text);
  std::replace(normal.begin(), normal.end(), decimalSeparator, '.');
  double ms = 0;
  const auto [end, error] = std::from_chars(normal.data(), normal.data() + normal.size(), ms);
  if (normal.empty() || error != std::errc{} || end != normal.data() + normal.size() ||
      !std::isfinite(ms) || ms < 0 || ms > kMaxWaitMs) {
    return std::nullopt;
  }
  return ms;
}

}  // namespace pemra::cli
