// pemra-cli adev: the table, the CSV lines in the C locale, imu.yaml, the bad-input exits,
// the simulator's options, and a short closed loop: a still log taken with burst reads on the
// virtual clock, analysed, gives back the noise the simulator was set to.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <cmath>
#include <sstream>

#include "cli/CliRun.h"
#include "datalog/DatalogTestSupport.h"
#include "support/GeneratedLog.h"
#include "support/ScratchDir.h"

namespace pemra::cli {
namespace {

namespace fs = std::filesystem;

// The handbook's 9-point set as a log with a time column at 1 sample per second.
const char kNine[] =
    "Sample #,Time (sec),XgND,X Gryo,\r\n1,0,1,892,\r\n2,1,1,809,\r\n3,2,1,823,\r\n"
    "4,3,1,798,\r\n5,4,1,671,\r\n6,5,1,644,\r\n7,6,1,883,\r\n8,7,1,903,\r\n9,8,1,677,\r\n";

TEST(Adev, PrintsCsvLinesInTheCLocale) {
  testing::ScratchDir dir;
  Write(dir.path() / "NINE_1.csv", kNine);
  const Result r = RunCli({"adev", (dir.path() / "NINE_1.csv").string(), "--csv", "--taus", "1,2",
                           "--type", "plain"},
                          ',');
  ASSERT_EQ(r.status, 0) << r.err;
  // Whole numbers: the column counts as raw register values, with a warning.
  std::istringstream lines(r.out);
  std::string header, first, second, rest;
  std::getline(lines, header);
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_EQ(header, "column,tau_s,deviation,low,high,terms,alpha,edf");
  // The six columns keep their places; alpha and edf follow.
  const auto fields = [](const std::string& line) {
    std::vector<std::string> f;
    std::istringstream in(line);
    for (std::string item; std::getline(in, item, ',');) f.push_back(item);
    return f;
  };
  const auto f1 = fields(first), f2 = fields(second);
  ASSERT_EQ(f1.size(), 8u) << first;
  ASSERT_EQ(f2.size(), 8u) << second;
  EXPECT_TRUE(first.starts_with("X Gryo,1,91.2294")) << first;
  EXPECT_EQ(f1[5], "8");
  EXPECT_TRUE(second.starts_with("X Gryo,2,115.808")) << second;
  EXPECT_EQ(f2[5], "3");
  for (const auto& f : {f1, f2}) {
    EXPECT_GE(std::stoi(f[6]), -2);
    EXPECT_LE(std::stoi(f[6]), 2);
    EXPECT_GT(std::stod(f[7]), 0);
  }
  EXPECT_FALSE(std::getline(lines, rest));
  EXPECT_NE(r.err.find("9 samples at 1 samples/s (from the time column); plain Allan deviation; "
                       "intervals of 68% for the noise identified at each tau (lag-1 "
                       "autocorrelation, B1 ratio where few averages remain) with Greenhall's "
                       "degrees of freedom; figures by IEEE Std 952 Annex C\n"),
            std::string::npos)
      << r.err;
}

TEST(Adev, PrintsDoublesAsDoublesAndTheNoisePerRow) {
  testing::ScratchDir dir;
  Write(dir.path() / "NINE_1.csv", kNine);
  const std::string file = (dir.path() / "NINE_1.csv").string();
  struct Case {
    std::vector<std::string> args;
    std::string text;
  };
  const std::vector<Case> cases = {
      // A rate given with many digits, in the program's seven-digit number text.
      {{"adev", file, "--rate", "123456.789", "--type", "hadamard"},
       "9 samples at 123456.8 samples/s (from the given); overlapping Hadamard deviation;"},
      {{"adev", file, "--remove-drift"}, "overlapping Allan deviation, linear drift removed;"},
      {{"adev", file}, "tau (s)        deviation (LSB) low            high           terms      noise\n"},
      {{"adev", file}, "minimum deviation            "},
  };
  for (const Case& c : cases) {
    const Result r = RunCli(c.args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(c.text), std::string::npos) << c.text << "\n" << r.out;
    EXPECT_EQ(r.out.find("nf"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("nan"), std::string::npos) << r.out;
  }
}

// A log with a movement in it: the mean of its last tenth far from its first's.
TEST(Adev, WarnsWhenTheLogIsNotStill) {
  testing::ScratchDir dir;
  std::string still = "Sample #,Time (sec),X Gryo,\r\n", moved = still;
  for (int i = 0; i < 400; ++i) {
    const double noise = ((i * 7919) % 13 - 6) * 0.001;
    still += std::to_string(i + 1) + "," + std::to_string(i * 0.01) + "," + std::to_string(noise) + ",\r\n";
    moved += std::to_string(i + 1) + "," + std::to_string(i * 0.01) + "," +
             std::to_string(noise + (i >= 200 ? 5.0 : 0.0)) + ",\r\n";
  }
  Write(dir.path() / "STILL_1.csv", still);
  Write(dir.path() / "MOVED_1.csv", moved);
  const Result a = RunCli({"adev", (dir.path() / "STILL_1.csv").string()});
  const Result b = RunCli({"adev", (dir.path() / "MOVED_1.csv").string()});
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(a.err.find("does not look still"), std::string::npos) << a.err;
  EXPECT_NE(b.err.find("pemra-cli: warning: column X Gryo: the mean of the last tenth differs "
                       "from the first tenth's by 5.000125 deg/s, 100002.5 times the typical change between "
                       "neighbouring tenths: the log does not look still"),
            std::string::npos)
      << b.err;
}

TEST(Adev, BadInputExitsTwoNamingTheFileAndLine) {
  testing::ScratchDir dir;
  const std::string ok = (dir.path() / "OK_1.csv").string();
  Write(ok, kNine);
  Write(dir.path() / "BAD_1.csv", "Sample #,X Gryo,\r\n1,0.5,\r\n2,x,\r\n");
  Write(dir.path() / "TWO_1.csv", "Sample #,X Gryo,\r\n1,0.5,\r\n2,0.25,\r\n");
  Write(dir.path() / "CommPort.cfg", "[Interface]\nType=2\n");
  struct Case {
    std::vector<std::string> args;
    std::string error;  // after "pemra-cli: "
  };
  const std::string d = dir.path().string() + "/";
  const std::vector<Case> cases = {
      {{"adev", d + "NONE_1.csv"}, d + "NONE_1.csv: No such file or directory"},
      {{"adev", ok, "--columns", "Z acc"}, ok + ": has no column \"Z acc\""},
      {{"adev", d + "CommPort.cfg"},
       d + "CommPort.cfg:1: is not a data log of this program (a line starts \"[Interface]\")"},
      {{"adev", d + "BAD_1.csv"}, d + "BAD_1.csv:3: field 2 \"x\" is not a number"},
      {{"adev", d + "TWO_1.csv", "--rate", "10"},
       d + "TWO_1.csv: 2 samples: the Allan deviation needs at least 3"},
      {{"adev", d + "TWO_1.csv"},
       d + "TWO_1.csv: 2 samples: the Allan deviation needs at least 3"},
      {{"adev", ok, "--rate", "0"}, "--rate: '0' is not a number of samples per second above 0"},
      {{"adev", ok, "--taus", "1,-2"},
       "--taus: '-2' is not octave, decade, all or a number of seconds above 0"},
  };
  for (const Case& c : cases) {
    const Result r = RunCli(c.args);
    EXPECT_EQ(r.status, 2) << c.args[1];
    EXPECT_EQ(r.err, "pemra-cli: " + c.error + "\n");
  }
  const Result type = RunCli({"adev", ok, "--type", "total"});
  EXPECT_EQ(type.status, 2);
  EXPECT_NE(type.err.find("--type"), std::string::npos) << type.err;
  const Result noSim = RunCli({"--sim-seed", "3", "scan"}, '.', dir.path() / "none.cfg");
  EXPECT_EQ(noSim.status, 2);
  EXPECT_EQ(noSim.err, "pemra-cli: --sim-seed needs --simulate\n");
  const Result badNoise = RunCli({"--simulate", "--sim-noise", "gyro-arw=1,gyro-xx=2", "scan"},
                                 '.', dir.path() / "none.cfg");
  EXPECT_EQ(badNoise.status, 2);
  EXPECT_EQ(badNoise.err,
            "pemra-cli: --sim-noise: unknown key 'gyro-xx' (keys: gyro-arw, gyro-bi, gyro-rrw, "
            "accel-vrw, accel-bi, accel-rw)\n");
}

// The short closed loop: five minutes at 819.2 samples per second, still, burst reads,
// virtual clock; white noise and bias instability only (a random walk needs hours to be
// read well: the long loop in bench/ checks it; over five minutes the bias instability's
// longest levels may themselves rise like one).
TEST(Adev, AStillLogOfTheSimulatorGivesBackItsNoise) {
  testing::ScratchDir dir;
  const fs::path config = dir.path() / "CommPort.cfg";
  const Result log = RunCli(
      {"--simulate", "--sim-motion", "still", "--sim-clock", "virtual", "--sim-seed", "5",
       "--sim-noise", "gyro-arw=1.2,gyro-bi=50,gyro-rrw=0,accel-vrw=0.1,accel-bi=0.3,accel-rw=0",
       "log", "--burst", "--samples", "245760", "--channels", "XGYRO_OUT,XACCL_OUT", "--dir",
       dir.path().string(), "--no-nd"},
      '.', config);
  ASSERT_EQ(log.status, 0) << log.err;
  const fs::path yaml = dir.path() / "imu.yaml";
  const Result r = RunCli({"adev", (dir.path() / "DATALOG_1.csv").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  // N within 5%, B within 25%.
  auto figure = [&](const std::string& column, const std::string& name) {
    const size_t at = r.out.find(name, r.out.find("\n" + column + "\n"));
    EXPECT_NE(at, std::string::npos) << name;
    return r.out.substr(at + 29, r.out.find('\n', at) - at - 29);
  };
  auto value = [&](const std::string& column, const std::string& name) {
    return std::stod(figure(column, name));
  };
  EXPECT_NEAR(value("X Gryo", "N angle random walk") / 1.2, 1, 0.05) << r.out;
  EXPECT_NEAR(value("X Gryo", "B bias instability") / 50, 1, 0.25) << r.out;
  EXPECT_NEAR(value("X acc", "N velocity random walk") / 0.1, 1, 0.05) << r.out;
  EXPECT_NEAR(value("X acc", "B bias instability") / 0.3, 1, 0.25) << r.out;
  // No random walk in five minutes: imu.yaml would carry a guess, so it is not written.
  const Result kalibr =
      RunCli({"adev", (dir.path() / "DATALOG_1.csv").string(), "--kalibr", yaml.string()});
  EXPECT_EQ(kalibr.status, 1);
  EXPECT_NE(kalibr.err.find("pemra-cli: " + yaml.string() +
                            ": not written: gyroscope_random_walk (X Gryo: "),
            std::string::npos)
      << kalibr.err;
  EXPECT_FALSE(fs::exists(yaml));
}

// A generated log of white noise and random walk on both kinds of axis: every figure
// imu.yaml holds is determined, so it is written, with the topic its readers require.
TEST(Adev, WritesImuYamlWhenEveryFigureItHoldsIsDetermined) {
  testing::ScratchDir dir;
  const std::string text = testing::WhiteAndWalkLog(true);
  Write(dir.path() / "WALK_1.csv", text);
  const fs::path yaml = dir.path() / "imu.yaml";
  const Result r = RunCli({"adev", (dir.path() / "WALK_1.csv").string(), "--kalibr", yaml.string()});
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  const std::string written = testing::ReadWholeFile(yaml);
  EXPECT_TRUE(written.starts_with("# noise model from WALK_1.csv (overlapping Allan deviation; "))
      << written;
  for (const char* key : {"\ngyroscope_noise_density: ", "\ngyroscope_random_walk: ",
                          "\naccelerometer_noise_density: ", "\naccelerometer_random_walk: ",
                          "\nrostopic: /imu0/data\n", "\nupdate_rate: 100\n"})
    EXPECT_NE(written.find(key), std::string::npos) << key << "\n" << written;
  EXPECT_EQ(written.find("nan"), std::string::npos) << written;
}

}  // namespace
}  // namespace pemra::cli
