// pemra-cli adev|psd --from S --to S: only the rows of that stretch are analysed, the same
// rows the log viewer selects, and a stretch that is not usable is refused with its reason.

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

// A hundred rows at 10 samples per second (time column r / 10 s): both commands take the
// same rows for the same --from/--to, and the spectrum's segment rule counts those rows.
TEST(AdevStretch, PsdTakesTheRowsAdevTakes) {
  testing::ScratchDir dir;
  const std::string log = (dir.path() / "TEN_1.csv").string();
  {
    std::ofstream file(log, std::ios::binary);
    file << "Sample #,Time (sec),X Gryo,\r\n";
    for (int r = 0; r < 100; ++r)
      file << r + 1 << ',' << r / 10 << '.' << r % 10 << ',' << (r * 7) % 5 << ".5,\r\n";
  }
  struct Case {
    std::vector<std::string> stretch;
    int status;
    std::string err;  // what both commands write to the standard error (psd's after "psd:")
  };
  const std::vector<Case> cases = {
      // 2.1 s is the first row at or after 2.05 s (row 22), 7.3 s the last at or before.
      {{"--from", "2.05", "--to", "7.3"}, 0,
       "rows 22 to 74 of 100 (from 2.1 s to 7.3 s after the start)\n53 samples at 10 samples/s"},
      {{"--from", "9"}, 0, "rows 91 to 100 of 100 (from 9 s to 9.9 s after the start)\n10 samples"},
      {{"--to", "0.2"}, 0, "rows 1 to 3 of 100 (from 0 s to 0.2 s after the start)\n3 samples"},
      {{"--from", "9.85"}, 2, "pemra-cli: " + log + ": 1 samples: NEEDS needs at least"},
      {{"--from", "5", "--to", "5.05"}, 2, "pemra-cli: " + log + ": 1 samples: NEEDS needs at least"},
      {{"--from", "12"}, 2,
       "pemra-cli: " + log + ": --from/--to: no row lies from 12 s to 12 s (the log runs from 0 s to 9.9 s)\n"},
      {{"--to", "x"}, 2, "pemra-cli: --to: 'x' is not a number of seconds\n"},
  };
  for (const Case& c : cases) {
    for (const std::string command : {"adev", "psd"}) {
      std::vector<std::string> args = {command, log, "--csv"};
      if (command == "adev") args.insert(args.end(), {"--taus", "0.1", "--type", "plain"});
      args.insert(args.end(), c.stretch.begin(), c.stretch.end());
      std::istringstream in;
      std::ostringstream out, err;
      Environment env;
      env.decimalSeparator = '.';
      const int status = cli::Run(args, in, out, err, env);
      SCOPED_TRACE(command + " " + c.stretch.front() + " " + c.stretch[1]);
      EXPECT_EQ(status, c.status) << err.str();
      std::string expected = c.err;
      if (const size_t at = expected.find("NEEDS"); at != std::string::npos)
        expected.replace(at, 5, command == "adev" ? "the Allan deviation" : "the spectrum");
      EXPECT_NE(err.str().find(expected), std::string::npos) << err.str();
    }
  }
  // The segment rule counts the stretch's rows, not the log's.
  std::istringstream in;
  std::ostringstream out, err;
  Environment env;
  env.decimalSeparator = '.';
  EXPECT_EQ(cli::Run({"psd", log, "--from", "2.05", "--to", "7.3", "--segment", "54"}, in, out,
                     err, env),
            2);
  EXPECT_NE(err.str().find("pemra-cli: " + log + ": 53 samples: fewer than one segment of 54 (--segment)\n"),
            std::string::npos)
      << err.str();
}

}  // namespace
}  // namespace pemra::cli
