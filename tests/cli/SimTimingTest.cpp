// pemra-cli --sim-timing: the simulated rig the program makes takes real hardware's time per
// bulk transfer (high or full speed), and the option is refused where it means nothing.

#include <gtest/gtest.h>

#include <sstream>

#include "cli/Cli.h"
#include "core/Clock.h"

namespace pemra::cli {
namespace {

TEST(SimTimingTest, TransfersTakeTheAdaptersTimeAndFullSpeedIsFullSpeed) {
  struct Case {
    std::vector<std::string> options;
    const char* usbVersion;  // last column of a scan line
    Nanoseconds atLeast;     // the scan's two bulk transfers and the adapter search
    Nanoseconds below;
  };
  using std::chrono::microseconds;
  const Case cases[] = {
      {{}, "2.0", Nanoseconds{0}, microseconds(1)},
      {{"--sim-timing", "hs"}, "2.0", microseconds(250), microseconds(1000)},
      {{"--sim-timing", "fs"}, "1.1", microseconds(2000), microseconds(8000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.usbVersion);
    TestClock clock;
    Environment env;
    env.clock = &clock;  // the program makes its own rig, on this clock
    env.configPath = "/nonexistent/CommPort.cfg";
    env.decimalSeparator = '.';
    std::vector<std::string> args = {"--simulate"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back("scan");
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    ASSERT_EQ(cli::Run(args, in, out, err, env), 0) << err.str();
    EXPECT_TRUE(out.str().ends_with(std::string("\t") + c.usbVersion + "\n")) << out.str();
    EXPECT_GE(clock.Now(), c.atLeast);
    EXPECT_LT(clock.Now(), c.below);
  }
}

TEST(SimTimingTest, RefusedWithoutTheSimulatorOrWithAnUnknownSpeed) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--sim-timing", "hs", "scan"},
        std::vector<std::string>{"--simulate", "--sim-timing", "ls", "scan"}}) {
    Environment env;
    env.configPath = "/nonexistent/CommPort.cfg";
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(cli::Run(args, in, out, err, env), kExitUsage) << args[1];
    EXPECT_NE(err.str().find("--sim-timing"), std::string::npos) << err.str();
    EXPECT_EQ(out.str(), "");
  }
}

}  // namespace
}  // namespace pemra::cli
