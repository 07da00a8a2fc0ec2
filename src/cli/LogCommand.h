#pragma once
// `pemra-cli log`: a logging run on the connection, to the same files the datalog window
// writes. Ctrl+C or SIGTERM ends it after the current sample with the file completed.

#include <cstdint>
#include <optional>
#include <string_view>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Connection.h"
#include "datalog/LogFormat.h"

namespace CLI {
class App;
}

namespace pemra::cli {

inline constexpr int kExitInterrupted = 130;  // ended by SIGINT, file completed
inline constexpr int kExitTerminated = 143;   // ended by SIGTERM, file completed

// Adds the "log" command and its options to a command line or a script line.
void AddLogCommand(CLI::App& app, Command& command);

// The channel set of a list of register names or numbers 1..11, comma-separated, looked up
// in `table`; empty text gives all eleven. nullopt names the first bad item in `bad`.
std::optional<ChannelSet> ParseChannelList(std::string_view text, const RegisterTable& table,
                                           std::string* bad);

int RunLog(const Command& command, Connection& connection, Streams streams);

}  // namespace pemra::cli
