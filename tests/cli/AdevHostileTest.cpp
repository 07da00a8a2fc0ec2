// pemra-cli adev as a hostile user drives it: each row a command, its exit status, its
// message, and what it leaves on disk (every input's bytes unchanged, no temporary file).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/Cli.h"
#include "support/GeneratedLog.h"
#include "support/ScratchDir.h"
#include "support/SmallTmpfs.h"

namespace pemra::cli {
namespace {

namespace fs = std::filesystem;

struct Result {
  int status;
  std::string out, err;
};

Result RunCli(const std::vector<std::string>& args) {
  std::istringstream in;
  std::ostringstream out, err;
  Environment env;
  const int status = cli::Run(args, in, out, err, env);
  return {status, out.str(), err.str()};
}

void Write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string Log(const std::string& name, const std::string& begin, const std::string& end) {
  std::string text = "File Name," + name + "\r\nDate,12/07/26\r\nTime,11:00:21\r\nBegin Seconds," +
                     begin + "\r\nEnd Seconds," + end + "\r\n \r\nSample #,XgND,X Gryo,\r\n";
  for (int i = 1; i <= 16; ++i) text += std::to_string(i) + ",1," + std::to_string(i % 5) + ".5,\r\n";
  return text;
}

TEST(AdevHostile, NeverTouchesAnInputAndLeavesNoHalfWrittenFile) {
  testing::ScratchDir dir;
  const fs::path d = dir.path();
  const std::string one = (d / "DATALOG_1.csv").string(), two = (d / "DATALOG_2.csv").string();
  const std::string far = (d / "RUN_2.csv").string();
  Write(one, Log("DATALOG_1.csv", "100", "101"));
  Write(two, Log("DATALOG_2.csv", "101", "102"));
  Write(d / "RUN_1.csv", Log("RUN_1.csv", "100", "101"));
  Write(far, Log("RUN_2.csv", "199", "200"));
  Write(d / "WALK_1.csv", testing::WhiteAndWalkLog(true));
  Write(d / "imu.yaml", "old model\n");
  fs::create_hard_link(one, d / "same.yaml");
  ASSERT_EQ(::mkfifo((d / "fifo.csv").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo((d / "fifo.yaml").c_str(), 0600), 0);
  const std::string p = d.string() + "/";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;  // in standard error
  };
  const std::vector<Case> cases = {
      {{"adev", "--kalibr", one, two}, 2, "--kalibr: '" + one + "' must end in .yaml or .yml"},
      {{"adev", one, "--kalibr", one}, 2, "--kalibr: '" + one + "' must end in .yaml or .yml"},
      {{"adev", one, "--kalibr", ""}, 2, "--kalibr: '' must end in .yaml or .yml"},
      {{"adev", one, "--kalibr", p + ".yaml"}, 2, "must end in .yaml or .yml"},
      {{"adev", one, "--kalibr", p + "same.yaml"}, 1,
       "Cannot write " + p + "same.yaml: is one of the inputs (" + one + "): an output never replaces one"},
      {{"adev", one, "--kalibr", p + "fifo.yaml"}, 1, "Cannot write " + p + "fifo.yaml: is a FIFO, not a regular file"},
      {{"adev", one, "--kalibr", p + "none/imu.yaml"}, 1,
       "Cannot write " + p + "none/imu.yaml: cannot create a temporary file beside it: No such file or directory"},
      {{"adev", p + "fifo.csv"}, 2, p + "fifo.csv: is a FIFO, not a regular file: not read"},
      {{"adev", one, "--columns", "1"}, 2, one + ": column 1 (\"Sample #\") holds the sample number, no values to analyse"},
      {{"adev", one, "--columns", "XgND"}, 2, one + ": column 2 (\"XgND\") holds a new-data flag, no values to analyse"},
      {{"adev", one, "--columns", "0"}, 2, one + ": has no column 0 (it has 3)"},
      {{"adev", one, "--rate", "5e-324"}, 2, "the rate given is 4.94066e-324 samples per second, outside 0.001 to 1e+06"},
      {{"adev", one, one}, 2, one + ": is " + one + " again: one file given twice"},
      {{"adev", p + "RUN_1.csv", far}, 2,
       far + ": begins 98 s after RUN_1.csv ends: not one session; give --join to join them anyway"},
      {{"adev", one, p + "RUN_1.csv"}, 2, "in one session (by their names): not one session"},
      {{"adev", p + "RUN_1.csv", far, "--join"}, 0, "warning: " + far + ": begins 98 s after RUN_1.csv ends: a gap in the series"},
      {{"adev", p + "WALK_1.csv", "--kalibr", p + "imu.yaml"}, 0, ""},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    const std::string before1 = Read(one), before2 = Read(two);
    const Result r = RunCli(c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(Read(one), before1);
    EXPECT_EQ(Read(two), before2);
    for (const auto& entry : fs::recursive_directory_iterator(d))
      EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
  }
  EXPECT_NE(Read(d / "imu.yaml"), "old model\n");
  EXPECT_FALSE(fs::exists(d / "none"));
}

TEST(AdevHostile, AFullDiskLeavesTheOldModel) {
  testing::SmallTmpfs disk(8);
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  testing::ScratchDir dir;
  const std::string log = (dir.path() / "DATALOG_1.csv").string();
  Write(log, testing::WhiteAndWalkLog(true));
  const fs::path yaml = disk.path() / "imu.yaml";
  Write(yaml, "old model\n");
  Write(disk.path() / "filler", std::string(4096, 'x'));  // the disk is now full
  const Result r = RunCli({"adev", log, "--kalibr", yaml.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Cannot write " + yaml.string() + ": No space left on device"), std::string::npos)
      << r.err;
  EXPECT_EQ(Read(yaml), "old model\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(disk.path()), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace pemra::cli
