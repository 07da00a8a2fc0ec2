// pemra-cli --version: answered before any connection or command, and only on the command line.

#include <gtest/gtest.h>

#include <sstream>

#include "cli/Cli.h"
#include "cli/CommandLine.h"
#include "core/Version.h"

namespace pemra::cli {
namespace {

TEST(CliVersion, PrintsTheVersionWithoutACommandOrADevice) {
  struct Case {
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {{"--version"}},
      {{"--simulate", "--version"}},
      {{"--interface", "usb", "--version"}},
      {{"--version", "read", "XGYRO_OUT"}},
  };
  for (const Case& c : cases) {
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    // A missing configuration file and no --simulate: a device would fail; none is touched.
    Environment env;
    env.configPath = "/nonexistent/CommPort.cfg";
    EXPECT_EQ(cli::Run(c.args, in, out, err, env), kExitDone) << c.args.front();
    EXPECT_EQ(out.str(), "pemra-cli " + VersionText() + "\n");
    EXPECT_EQ(err.str(), "");
  }
  EXPECT_FALSE(VersionText().empty());
}

TEST(CliVersion, IsNotAScriptCommand) {
  const ParseResult parsed = ParseScriptCommand({"--version"});
  EXPECT_EQ(parsed.exitCode, kExitUsage);
  EXPECT_FALSE(parsed.helpShown);
}

}  // namespace
}  // namespace pemra::cli
