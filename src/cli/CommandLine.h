#pragma once
// What pemra-cli understands: the options that choose the connection, the commands, and
// the checks of their arguments. Parsing only; nothing here touches a device.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/LogOptions.h"

namespace pemra::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;  // the device, the transport or a file failed
inline constexpr int kExitUsage = 2;

enum class CommandKind { None, Scan, Read, Write, Set, Dump, Wait, Script, Log, Adev, Psd, Evaluate };

// The options of `adev` as given.
struct AdevOptions {
  std::vector<std::string> files;
  std::string columns;  // comma-separated; empty: the gyro and accelerometer columns
  std::string rate;     // samples per second; empty: from the log
  std::string taus;     // octave, decade, all or seconds, comma-separated; empty: octave
  std::string type;     // overlapping, plain, modified, hadamard; empty: overlapping
  bool csv = false;
  std::string kalibr;   // imu.yaml to write, or empty
  bool kalibrGiven = false;  // --kalibr was given (an empty name is refused, not ignored)
  bool join = false;    // join files that are not one session, warning of each gap
  bool removeDrift = false;  // the least-squares line taken out of the rate first
  std::string from, to;  // seconds from the start of the log; empty: its start, its end
};

// The options of `psd` as given.
struct PsdOptions {
  std::vector<std::string> files;
  std::string columns;  // comma-separated; empty: the gyro and accelerometer columns
  std::string rate;     // samples per second; empty: from the log
  std::string segment;  // samples per segment; empty: 2^14 or the whole log when shorter
  std::string from, to;  // seconds from the start of the log; empty: its start, its end
  bool csv = false;
  bool join = false;    // join files that are not one session, warning of each gap
};

// The options of `evaluate` as given.
struct EvaluateOptions {
  std::string duration = "3600";     // seconds of still log
  std::string limits;                // limits file (JSON), or empty
  std::string out;                   // report folder; empty: the current directory
  std::string channels;              // names or numbers 1..11; empty: all eleven
  std::vector<std::string> compare;  // --compare DIR...: report folders to compare
  std::string commandLine;           // the whole command line, for the report
};

struct Command {
  CommandKind kind = CommandKind::None;
  std::vector<std::string> registers;  // read: REG...; write: REG
  std::string target;                  // write: REG as given; set: REG.FIELD as given
  std::string value;                   // write: HEX; set: VALUE; wait: MS
  bool fields = false;                 // read, dump: each register's fields too
  std::string path;                    // dump --file; script FILE or "-"
  LogOptions log;                      // log
  AdevOptions adev;                    // adev
  PsdOptions psd;                      // psd
  EvaluateOptions evaluate;            // evaluate
};

struct ConnectionOptions {
  bool simulate = false;
  std::string interface;  // "usb", "parallel", "ftdi", "spidev" or empty
  std::string device;     // ftdi: SERIAL[:CHANNEL] or a bus position; spidev: the node
  std::string port;       // HEX or empty
  std::string model;      // CODE or empty
  bool trace = false;
  std::string simTiming;  // "hs", "fs" or empty: the simulated rig's timing model
  std::string simMotion;  // the simulator's options as given (empty: not given)
  std::string simSeed;
  std::string simNoise;
  std::string simClock;
  bool simDrdyUnwired = false;
};

struct ParseResult {
  int exitCode = kExitDone;  // kExitUsage for a usage error
  bool helpShown = false;    // help or the version was printed: nothing more to do
  std::string output;        // help text, or the usage error
  ConnectionOptions options;
  Command command;
};

// The whole command line (without the program name).
ParseResult ParseCommandLine(const std::vector<std::string>& args);
// One line of a script: a command with its arguments, no connection options, no script.
ParseResult ParseScriptCommand(const std::vector<std::string>& words);

// Splits a script line into words at blanks; double quotes keep blanks inside a word
// ("XGYRO_ OFF"). Empty when the line is blank or a comment (first word starts with #).
// Returns nullopt for an unterminated quote.
std::optional<std::vector<std::string>> SplitScriptLine(std::string_view line);

// One to four hex digits, nothing else.
std::optional<int32_t> ParseRegisterValue(std::string_view text);
// A port address: one to four hex digits, optionally after 0x.
std::optional<int16_t> ParsePortAddress(std::string_view text);
// A model code in decimal (any 16-bit value; whether it is a known model is checked later).
std::optional<int16_t> ParseModelCode(std::string_view text);
// Milliseconds, 0 to a day, with "." or the given separator as the decimal point.
std::optional<double> ParseMilliseconds(std::string_view text, char decimalSeparator);

}  // namespace pemra::cli
