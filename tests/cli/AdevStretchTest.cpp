// pemra-cli adev --from S --to S: only the rows of that stretch are analysed, the same rows
// the log viewer selects, and a stretch that is not usable is refused with its reason.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/Cli.h"
#include "support/ScratchDir.h"

namespace pemra::cli {
namespace {

// Nine rows at 1 sample per second (time column), rows 1..9 at 0..8 s.
const char kNine[] =
    "Sample #,Time (sec),XgND,X Gryo,\r\n1,0,1,892,\r\n2,1,1,809,\r\n3,2,1,823,\r\n"
    "4,3,1,798,\r\n5,4,1,671,\r\n6,5,1,644,\r\n7,6,1,883,\r\n8,7,1,903,\r\n9,8,1,677,\r\n";

TEST(AdevStretch, FromAndToSecondsChooseTheRowsAnalysed) {
  testing::ScratchDir dir;
  const std::string log = (dir.path() / "NINE_1.csv").string();
  std::ofstream(log, std::ios::binary) << kNine;
  struct Case {
    std::vector<std::string> stretch;
    int status;
    std::string out;   // the first CSV point, or empty
    std::string err;   // a line the standard error holds
  };
  const std::vector<Case> cases = {
      // Rows 3..7 (823, 798, 671, 644, 883): differences -25, -127, -27, 239; their squares
      // sum to 74604, / (2 x 4) = 9325.5, whose root is the deviation at tau 1 s.
      {{"--from", "2", "--to", "6"}, 0, "X Gryo,1,96.56862844630237,",
       "rows 3 to 7 of 9 (from 2 s to 6 s after the start)\n5 samples at 1 samples/s"},
      {{"--from", "1.5", "--to", "6.5"}, 0, "X Gryo,1,96.56862844630237,", "5 samples at 1"},
      {{"--to", "2"}, 0, "", "rows 1 to 3 of 9"},
      {{"--from", "7"}, 2, "", "pemra-cli: " + log + ": 2 samples: the Allan deviation needs at least 3\n"},
      {{"--from", "6", "--to", "2"}, 2, "", "pemra-cli: " + log + ": --from 6 s is not before --to 2 s\n"},
      {{"--from", "20"}, 2, "",
       "pemra-cli: " + log + ": --from/--to: no row lies from 20 s to 20 s (the log runs from 0 s to 8 s)\n"},
      {{"--from", "2s"}, 2, "", "pemra-cli: --from: '2s' is not a number of seconds\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"adev", log, "--csv", "--taus", "1", "--type", "plain"};
    args.insert(args.end(), c.stretch.begin(), c.stretch.end());
    std::istringstream in;
    std::ostringstream out, err;
    Environment env;
    env.decimalSeparator = '.';
    const int status = cli::Run(args, in, out, err, env);
    SCOPED_TRACE(c.stretch.front() + " " + c.stretch[1]);
    EXPECT_EQ(status, c.status) << err.str();
    if (!c.out.empty()) {
      EXPECT_NE(out.str().find("\n" + c.out), std::string::npos) << out.str();
    }
    EXPECT_NE(err.str().find(c.err), std::string::npos) << err.str();
  }
}

}  // namespace
}  // namespace pemra::cli
