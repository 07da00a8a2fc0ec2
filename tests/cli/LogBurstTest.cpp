// pemra-cli log --burst on the simulated rig with the high-speed timing model and the test
// clock: one row per sensor sample at both fast rates, the summary, and a transfer failure
// that leaves the file complete to the last good sample.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/Cli.h"
#include "datalog/DatalogTestSupport.h"
#include "sim/Rig.h"

namespace pemra::cli {
namespace {

namespace fs = std::filesystem;

struct Log {
  int status = 0;
  std::string err;
  std::vector<std::vector<std::string>> rows;  // fields of each row
};

// Runs the setup lines, then a log of 400 raw samples with the burst read, on a rig with the
// timing model, and reads back DATALOG_1.csv.
Log RunScript(const std::string& setup, uint64_t failingTransfer = 0) {
  const fs::path dir = fs::temp_directory_path() / "pemra-cli-log-burst";
  fs::remove_all(dir);
  fs::create_directories(dir);
  TestClock clock;
  sim::RigOptions options = testing::PatternRig();
  options.timingModel = true;
  sim::Rig rig{clock, options};
  if (failingTransfer > 0) rig.SimUsb().FailNthTransfer(failingTransfer);
  Environment env;
  env.clock = &clock;
  env.rig = &rig;
  env.configPath = dir / "CommPort.cfg";
  env.decimalSeparator = '.';
  std::istringstream in(setup + "log --burst --samples 400 --raw --no-header --dir " +
                        dir.string() + "\n");
  std::ostringstream out, err;
  Log log;
  log.status = Run({"--simulate", "--sim-timing", "hs", "script", "-"}, in, out, err, env);
  log.err = err.str();
  std::istringstream file(testing::ReadWholeFile(dir / "DATALOG_1.csv"));
  for (std::string line; std::getline(file, line);) {
    if (line.ends_with('\r')) line.pop_back();
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, ',');) fields.push_back(field);
    log.rows.push_back(fields);
  }
  fs::remove_all(dir);
  return log;
}

// Rows numbered 1.., each the sample after the one before (supply raw = sample mod 4096),
// every new-data column 1.
void ExpectConsecutive(const Log& log) {
  for (size_t i = 0; i < log.rows.size(); ++i) {
    const auto& f = log.rows[i];
    ASSERT_EQ(f.size(), 23u) << i;
    EXPECT_EQ(f[0], std::to_string(i + 1));
    for (size_t nd = 1; nd < f.size(); nd += 2) EXPECT_EQ(f[nd], "1") << i << " " << nd;
    if (i > 0) {
      EXPECT_EQ(std::stoi(f[2]), (std::stoi(log.rows[i - 1][2]) + 1) % 4096) << i;
    }
  }
}

TEST(LogBurstTest, EverySampleAtBothFastRatesWithASummary) {
  for (const char* rate : {"1", "0"}) {
    SCOPED_TRACE(rate);
    const Log log = RunScript(std::string("write SMPL_PRD ") + rate + "\n");
    ASSERT_EQ(log.status, 0) << log.err;
    ASSERT_EQ(log.rows.size(), 400u);
    ExpectConsecutive(log);
    const std::string sensor = rate[0] == '1' ? "819.2" : "1638.4";
    EXPECT_TRUE(log.err.starts_with("rows written: 400\nsamples missed (estimated): 0\n"
                                    "duplicates discarded: "))
        << log.err;
    EXPECT_TRUE(log.err.ends_with(" samples/s (sensor: " + sensor + ")\n")) << log.err;
    const size_t at = log.err.find("achieved rate: ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_NEAR(std::stod(log.err.substr(at + 15)), std::stod(sensor), std::stod(sensor) / 200);
  }
}

TEST(LogBurstTest, TransferFailureLeavesTheFileCompleteToTheLastGoodSample) {
  // Opening takes eight transfers, the capture's SMPL_PRD read two; then bursts of two.
  const Log log = RunScript("", 8 + 2 + 2 * 30 + 1);
  EXPECT_EQ(log.status, 1);
  EXPECT_TRUE(log.err.starts_with("Error Writing SPI\n")) << log.err;
  ASSERT_GT(log.rows.size(), 5u);
  EXPECT_LE(log.rows.size(), 30u);
  ExpectConsecutive(log);
  EXPECT_NE(log.err.find("rows written: " + std::to_string(log.rows.size()) + "\n"),
            std::string::npos)
      << log.err;
}

}  // namespace
}  // namespace pemra::cli
