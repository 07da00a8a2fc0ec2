// pemra-cli --sim-timing hs log --burst on the test clock: one row per sensor sample at the
// fastest rate with its summary, and a transfer failure that leaves the file complete to the
// last good sample.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "cli/BurstSummaryText.h"
#include "cli/Cli.h"
#include "core/SamplePeriod.h"
#include "datalog/DatalogTestSupport.h"
#include "sim/Rig.h"
#include "support/ScratchDir.h"

namespace pemra::cli {
namespace {

namespace fs = std::filesystem;

struct Log {
  int status = 0;
  std::string err;
  std::vector<std::vector<std::string>> rows;  // fields of each row of DATALOG_1.csv
};

// `setup` lines, then a raw log of 300 samples in bursts. `rig` null: the program's own rig.
// `options`: more of the program's options, before "script -".
Log RunLog(const std::string& timing, const std::string& setup, TestClock& clock, sim::Rig* rig,
           const std::vector<std::string>& options = {}) {
  const testing::ScratchDir scratch;
  const fs::path& dir = scratch.path();
  Environment env;
  env.clock = &clock;
  env.rig = rig;
  env.configPath = dir / "CommPort.cfg";
  env.decimalSeparator = '.';
  std::istringstream in(setup + "log --burst --samples 300 --raw --no-header --dir " +
                        dir.string() + "\n");
  std::ostringstream out, err;
  Log log;
  std::vector<std::string> args = {"--simulate", "--sim-timing", timing};
  args.insert(args.end(), options.begin(), options.end());
  args.insert(args.end(), {"script", "-"});
  log.status = Run(args, in, out, err, env);
  log.err = err.str();
  std::istringstream file(testing::ReadWholeFile(dir / "DATALOG_1.csv"));
  for (std::string line; std::getline(file, line);) {
    std::vector<std::string> fields;
    std::istringstream split(line.substr(0, line.size() - 1));  // without the CR
    for (std::string field; std::getline(split, field, ',');) fields.push_back(field);
    EXPECT_EQ(fields.size(), 23u);
    for (size_t nd = 1; nd < fields.size(); nd += 2) EXPECT_EQ(fields[nd], "1") << line;
    log.rows.push_back(fields);
  }
  fs::remove_all(dir);
  return log;
}

double Number(const std::string& text, const std::string& after) {
  const size_t at = text.find(after);
  return at == std::string::npos ? -1 : std::stod(text.substr(at + after.size()));
}

TEST(LogBurstTest, EverySampleAtTheFastestRateOnAHighSpeedAdapter) {
  TestClock clock;
  const Log log = RunLog("hs", "write SMPL_PRD 0\n", clock, nullptr);
  ASSERT_EQ(log.status, 0) << log.err;
  EXPECT_EQ(log.rows.size(), 300u);
  // A burst takes 484 us (two 125 us transfers, 13 words of 8 us and the adapter's 10 us
  // delay: the eleven channels, the trailing frame and the pacing channel read again); the
  // next sample is due 610.35 us after the burst that kept one, less the lead of 76.3 us:
  // 50 us after the burst's end, too short a wait to sleep, so the bursts run back to back.
  // The 300 rows take 378 bursts: 78 of them found no new sample. The adapter reads a
  // burst's words at one moment, so none crosses a sample update.
  EXPECT_TRUE(log.err.starts_with("rows written: 300\nsamples missed (estimated): 0\n"
                                  "torn rows: 0\nduplicates discarded: 78\n"))
      << log.err;
  EXPECT_EQ(Number(log.err, "(sensor: "), 1638.4);
  EXPECT_NEAR(Number(log.err, "achieved rate: "), 1638.4, 8);
}

TEST(LogBurstTest, TheFt232hPacesOnTheDataReadyLineOrSaysHowToWireIt) {
  struct Case {
    std::vector<std::string> options;
    std::string pacing;
  } const cases[] = {
      {{"--interface", "ftdi"},
       "pacing: hardware-paced on the data-ready line (DI/O1 to ADBUS5/GPIOL1), 39 bursts "
       "queued\n"},
      {{"--interface", "ftdi", "--sim-drdy-unwired"},
       "pacing: data-ready line not found on ADBUS5 (GPIOL1): bursts paced by polling the "
       "new-data flag; for hardware-paced capture wire the sensor's DI/O1 to ADBUS5 (GPIOL1)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options.back());
    TestClock clock;
    const Log log = RunLog("hs", "write SMPL_PRD 0\n", clock, nullptr, c.options);
    ASSERT_EQ(log.status, 0) << log.err;
    EXPECT_EQ(log.rows.size(), 300u);  // every channel new in every row (RunLog checks)
    EXPECT_TRUE(log.err.starts_with("rows written: 300\nsamples missed (estimated): 0\n"
                                    "torn rows: 0\n"))
        << log.err;
    EXPECT_NE(log.err.find(c.pacing), std::string::npos) << log.err;
  }
  std::istringstream in;
  std::ostringstream out, err;
  EXPECT_EQ(cli::Run({"--sim-drdy-unwired", "dump"}, in, out, err), kExitUsage);
  EXPECT_EQ(err.str(), "pemra-cli: --sim-drdy-unwired needs --simulate\n");
}

TEST(LogBurstTest, TransferFailureLeavesTheFileCompleteToTheLastGoodSample) {
  TestClock clock;
  sim::RigOptions options = testing::PatternRig();
  options.timingModel = true;
  sim::Rig rig{clock, options};
  // Opening takes eight transfers, the capture's SMPL_PRD read two; then bursts of two.
  rig.SimUsb().FailNthTransfer(8 + 2 + 2 * 30 + 1);
  const Log log = RunLog("hs", "", clock, &rig);
  EXPECT_EQ(log.status, 1);
  // Eleven channels and the pacing one again at the end.
  EXPECT_TRUE(log.err.starts_with("Error Writing SPI (reading SUPPLY_OUT and 11 more: ")) << log.err;
  EXPECT_EQ(Number(log.err, "rows written: "), static_cast<double>(log.rows.size()));
  ASSERT_GT(log.rows.size(), 5u);
  EXPECT_LE(log.rows.size(), 30u);
  for (size_t i = 0; i < log.rows.size(); ++i) {
    EXPECT_EQ(log.rows[i][0], std::to_string(i + 1));
    if (i == 0) continue;
    // Supply: the sample number modulo 4096 in the test pattern.
    EXPECT_EQ(std::stoi(log.rows[i][2]), (std::stoi(log.rows[i - 1][2]) + 1) % 4096) << i;
  }
}

TEST(BurstSummaryTextTest, SaysWhyItStoppedWhatWasLostAndWhenInTheUsersNumbers) {
  BurstSummary summary;
  summary.Keep(std::chrono::milliseconds(0));
  summary.Keep(std::chrono::milliseconds(1000));
  summary.missed = 3;
  summary.dropped = 1;
  summary.duplicates = 17;
  summary.rereads = 4;
  summary.torn = 1;
  summary.cpu = std::chrono::microseconds(25);
  summary.period = SamplePeriod(0x01);
  summary.end = BurstEnd::NoNewData;
  EXPECT_EQ(BurstSummaryText(summary, 2, "YGYRO_OUT", ',', "nice -10"),
            "pemra-cli: no new data from YGYRO_OUT: the burst capture stopped\n"
            "rows written: 2\n"
            "samples missed (estimated): 3, 1 of them dropped because the writer fell behind\n"
            "torn rows: 1 (4 bursts read again across a sample update)\n"
            "duplicates discarded: 17\n"
            "achieved rate: 1,0 samples/s (sensor: 819,2)\n"
            "longest gap: 1000,00 ms, after row 1\n"
            "capture CPU: 12,5 us per sample\n"
            "capture priority: nice -10\n");
  // Samples missed at the ordinary priority: how to allow a raised one.
  const std::string normal =
      BurstSummaryText(summary, 2, "YGYRO_OUT", '.', "normal (no higher priority allowed)");
  EXPECT_TRUE(normal.ends_with("capture priority: normal (no higher priority allowed)\n"
                               "to allow a raised priority: sudo cp "
                               "/usr/share/pemra/95-pemra-realtime.conf "
                               "/etc/security/limits.d/ and log in again\n"))
      << normal;

  summary = BurstSummary{};
  summary.Keep(std::chrono::milliseconds(5));
  summary.period = SamplePeriod(0x00);
  summary.end = BurstEnd::Done;
  EXPECT_EQ(BurstSummaryText(summary, 1, "SUPPLY_OUT", '.', "normal"),
            "rows written: 1\n"
            "samples missed (estimated): 0\n"
            "torn rows: 0\n"
            "duplicates discarded: 0\n"
            "achieved rate: 0.0 samples/s (sensor: 1638.4)\n"
            "longest gap: none (fewer than two rows)\n"
            "capture priority: normal\n");
}

}  // namespace
}  // namespace pemra::cli
