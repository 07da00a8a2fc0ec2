// pemra-cli log on the simulated sensor's test pattern with a test clock: the files, the
// argument checks, file errors, a stop by signal and log as a script command.

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sstream>

#include "cli/Cli.h"
#include "cli/LogCommand.h"
#include "core/Clock.h"
#include "datalog/DatalogTestSupport.h"
#include "datalog/SpooledFile.h"
#include "datalog/TimeOfDay.h"
#include "sim/Rig.h"

namespace pemra::cli {
namespace {

namespace fs = std::filesystem;

// Raises a signal when the time of day is read for the n-th time (the time column reads it
// at the start of every sample).
class SignallingTimeOfDay final : public TimeOfDay {
 public:
  float SecondsSinceMidnight() override {
    if (++reads == raiseAt) std::raise(signal);
    return 3600.0f;
  }
  std::string DateText() override { return "07.12.2026"; }
  std::string TimeText() override { return "01:00:00"; }
  int reads = 0;
  int raiseAt = -1;
  int signal = SIGTERM;
};

class LogCommandTest : public ::testing::Test {
 protected:
  LogCommandTest() {
    dir = fs::temp_directory_path() /
          ("pemra-cli-log-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    env.clock = &clock;
    env.rig = &rig;
    env.configPath = dir / "CommPort.cfg";
    env.decimalSeparator = '.';
    env.timeOfDay = &day;
  }
  ~LogCommandTest() override { fs::remove_all(dir); }

  int Run(std::vector<std::string> args, const std::string& input = "") {
    std::istringstream in(input);
    std::ostringstream o, e;
    const int status = cli::Run(args, in, o, e, env);
    err = e.str();
    return status;
  }
  std::string File(const std::string& name) { return testing::ReadWholeFile(dir / name); }

  fs::path dir;
  TestClock clock;
  sim::Rig rig{clock, testing::PatternRig()};
  SignallingTimeOfDay day;
  Environment env;
  std::string err;
};

TEST_F(LogCommandTest, WritesTheFilesOfTheDatalogWindow) {
  // The time of day runs with the session clock from 01:00:00: begin and end seconds and
  // the time column follow the sample delay.
  ClockTimeOfDay running(clock, 3600.0, "07.12.2026", "01:00:00");
  env.timeOfDay = &running;
  ASSERT_EQ(Run({"--simulate", "log", "--dir", dir.string(), "--name", "run", "--files", "2",
                 "--samples", "2", "--delay", "20.5", "--channels", "xgyro_out, 8", "--time"}),
            0)
      << err;
  EXPECT_EQ(File("run_2.csv"),
            "File Name,run_2.csv\r\nDate,07.12.2026\r\nTime,01:00:00\r\n"
            "Begin Seconds,3600.041\r\nEnd Seconds,3600.082\r\n \r\n"
            "Sample #,Time (sec),XgND,X Gryo,XtND,X Temp,\r\n"
            "1,0,1,2.41758,1,29.7949,\r\n2,0.02050781,1,3.663,1,32.265,\r\n");
  EXPECT_TRUE(fs::exists(dir / "run_1.csv"));
}

TEST_F(LogCommandTest, AllElevenChannelsRawWithoutFlagsOrHeaderByDefault) {
  // The pattern's first sample is all zeros: the second, 10 ms on, is not.
  ASSERT_EQ(Run({"--simulate", "log", "--dir", dir.string(), "--samples", "2", "--delay", "10",
                 "--raw", "--no-nd", "--no-header"}),
            0)
      << err;
  EXPECT_EQ(File("DATALOG_1.csv"),
            "1,0,0,0,0,0,0,0,0,0,0,0,\r\n2,8,8,8,8,8,8,8,8,8,8,8,\r\n");
}

TEST_F(LogCommandTest, BadArgumentsAreUsageErrorsBeforeAnythingIsWritten) {
  const std::string nul("a\0b", 3);
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--samples", "0"}, "'0' is not a number of samples"},
      {{"--samples", "2147483648"}, "'2147483648' is not a number of samples"},
      {{"--files", "x"}, "'x' is not a number of files"},
      {{"--delay", "32001"}, "'32001' is not a sample delay"},
      {{"--delay", "-0.5"}, "'-0.5' is not a sample delay"},
      {{"--channels", "1,STATUS"}, "'STATUS' is not a channel"},
      {{"--channels", "12"}, "'12' is not a channel"},
      {{"--name", "a/b"},
       "'a/b' is not a file name: a file name cannot hold '/' or be '.' or '..' (give the "
       "directory with --dir)\n"},
      {{"--name", ".."},
       "'..' is not a file name: a file name cannot hold '/' or be '.' or '..'\n"},
      {{"--name", nul},
       "'a\\x00b' is not a file name: a file name cannot hold control characters (NUL, a line "
       "end, ESC, ...)\n"},
      {{"--name", "a\nb"}, "'a\\nb' is not a file name: a file name cannot hold control"},
      {{"--name", std::string(201, 'n')},
       "...' is not a file name: a file name can be at most 200 bytes long\n"},
      {{"--dir", std::string("/tmp/x/d\0e", 10)},
       "'/tmp/x/d\\x00e' is not a directory name: a path cannot hold control characters"},
      // Escape sequences and long values are echoed escaped and cut.
      {{"--samples", "\x1b]0;X\a"}, "'\\x1B]0;X\\x07' is not a number of samples"},
      {{"--samples", std::string(65000, '9')}, "999...' is not a number of samples"},
      {{"--channels", "1,\x1b[2J"}, "'\\x1B[2J' is not a channel"},
  };
  for (const auto& [options, message] : cases) {
    std::vector<std::string> args = {"--simulate", "log"};
    if (options[0] != "--dir") args.insert(args.end(), {"--dir", dir.string()});
    args.insert(args.end(), options.begin(), options.end());
    EXPECT_EQ(Run(args), kExitUsage) << message;
    EXPECT_NE(err.find(message), std::string::npos) << err;
    EXPECT_LT(err.size(), 300u);
    EXPECT_EQ(std::count_if(err.begin(), err.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x20 && c != '\n';
              }), 0) << err;
  }
  EXPECT_EQ(fs::directory_iterator(dir), fs::directory_iterator());
  // A script line is held to the same rules.
  const std::string script = "log --dir " + dir.string() + " --name \"a" + std::string(1, '\0') +
                             "b\" --samples 20 --channels 1\n";
  EXPECT_EQ(Run({"--simulate", "script", "-"}, script), kExitUsage);
  EXPECT_NE(err.find("'a\\x00b' is not a file name"), std::string::npos) << err;
  EXPECT_EQ(fs::directory_iterator(dir), fs::directory_iterator());
}

TEST_F(LogCommandTest, ASecondRunIntoTheSameNameFailsWithTheFileAccessErrorAndItsReason) {
  SpooledFile first;
  ASSERT_TRUE(first.Create(dir / "DATALOG_1.csv", Nanoseconds{0}));
  EXPECT_EQ(Run({"--simulate", "log", "--dir", dir.string(), "--samples", "3"}), kExitFailed);
  EXPECT_NE(err.find("\nFILE ACCESS ERROR\n\nFile name = DATALOG_1.csv\n\n"
                     "This file may already be open by another application.\n\n"
                     "Close the file or choose a different file name.\n\n" +
                     (dir / "DATALOG_1.csv").string() +
                     ": another run is writing this file (it is locked)\n"),
            std::string::npos)
      << err;
}

// A slow sensor on the port (2.4 s between samples): the signal comes while the capture
// waits for the second sample, which is then never logged.
TEST_F(LogCommandTest, SignalDuringABurstCapturesWaitEndsItAtOnceAsACancel) {
  day.raiseAt = 3;  // begin seconds, the first sample's time, the second's
  day.signal = SIGINT;
  const std::string script = "write SMPL_PRD 00FF\nlog --burst --time --no-header --channels 1 "
                             "--samples 5 --dir " + dir.string() + "\n";
  EXPECT_EQ(Run({"--simulate", "--interface", "parallel", "script", "-"}, script),
            kExitInterrupted)
      << err;
  const std::string text = File("DATALOG_1.csv");
  EXPECT_TRUE(text.starts_with("1,")) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  EXPECT_EQ(err.find("can no longer be reached"), std::string::npos) << err;
}

// Model 21410 has no Y and Z gyros: a burst log of only those is paced by an output it has.
TEST_F(LogCommandTest, BurstLogOfAbsentChannelsIsPacedByAnOutputTheModelHas) {
  sim::Rig angles{clock, testing::PatternRig(21410)};
  env.rig = &angles;
  ASSERT_EQ(Run({"--simulate", "--model", "21410", "log", "--burst", "--samples", "3",
                 "--channels", "3,4", "--no-header", "--dir", dir.string()}),
            0)
      << err;
  EXPECT_EQ(File("DATALOG_1.csv"), "1,0,0,0,0,\r\n2,0,0,0,0,\r\n3,0,0,0,0,\r\n");
  EXPECT_EQ(err.find("can no longer be reached"), std::string::npos) << err;
}

TEST_F(LogCommandTest, AMissingDirectoryIsAFileErrorWithTheReason) {
  EXPECT_EQ(Run({"--simulate", "log", "--dir", (dir / "missing").string()}), kExitFailed);
  EXPECT_NE(err.find("FILE ACCESS ERROR\n\nFile name = DATALOG_1.csv"), std::string::npos) << err;
  EXPECT_TRUE(err.ends_with("Close the file or choose a different file name.\n\n" +
                            (dir / "missing/DATALOG_1.csv").string() +
                            ": No such file or directory\n"))
      << err;
}

TEST_F(LogCommandTest, SignalEndsTheRunAfterTheSampleWithTheFileComplete) {
  for (const auto& [signal, status] : {std::pair{SIGTERM, kExitTerminated}, {SIGINT, kExitInterrupted}}) {
    day.reads = 0;
    day.raiseAt = 3;  // begin seconds, then the second sample's time
    day.signal = signal;
    EXPECT_EQ(Run({"--simulate", "log", "--dir", dir.string(), "--samples", "1000", "--files",
                   "3", "--time", "--channels", "1"}),
              status);
    const std::string text = File("DATALOG_1.csv");
    EXPECT_TRUE(text.ends_with("\r\n2,0,0,0,\r\n")) << text;
    EXPECT_EQ(text.find("\r\n3,"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(dir / "DATALOG_2.csv"));
  }
}

// The largest delay and the last channel are accepted; a signal cuts the delay short.
TEST_F(LogCommandTest, LongestDelayAndLastChannelAreTakenAndASignalEndsTheDelay) {
  day.raiseAt = 2;  // begin seconds, then the first sample's time: SIGTERM before its delay
  const Nanoseconds start = clock.Now();
  EXPECT_EQ(Run({"--simulate", "log", "--dir", dir.string(), "--samples", "3", "--delay", "32000",
                 "--channels", "11", "--time", "--raw", "--no-nd", "--no-header"}),
            kExitTerminated)
      << err;
  EXPECT_EQ(File("DATALOG_1.csv"), "1,0,0,\r\n");
  EXPECT_LT(clock.Now() - start, std::chrono::milliseconds(50));
}

TEST_F(LogCommandTest, LogIsAScriptCommandOnTheScriptsConnection) {
  // A tenth of the sample rate: 30 ms on, the second row is sample 4, not 24.
  const std::string script = "write SMPL_PRD 0009\nlog --dir " + dir.string() +
                             " --samples 2 --delay 30 --channels 1 --raw --no-nd --no-header\n";
  ASSERT_EQ(Run({"--simulate", "script", "-"}, script), 0) << err;
  // The write and the log ran one after the other on one connection.
  EXPECT_EQ(File("DATALOG_1.csv"), "1,0,\r\n2,4,\r\n");
  EXPECT_EQ(rig.Sensor().PeekRegister(0x36), 0x0009);
}

TEST_F(LogCommandTest, CapturePriorityNormalKeepsTheOrdinaryOne) {
  // On the real clock the capture has a thread of its own, which asks for a raised priority
  // unless told not to (granted or not, the summary then names what was asked).
  struct Case {
    const char* value;
    int status;
    bool plainNormal;  // the summary says "capture priority: normal"
  };
  const Case cases[] = {{"normal", 0, true}, {"auto", 0, false}, {"fast", 2, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    RealClock real;
    sim::Rig realRig{real, testing::PatternRig()};
    env.clock = &real;
    env.rig = &realRig;
    SystemTimeOfDay systemDay;
    env.timeOfDay = &systemDay;
    EXPECT_EQ(Run({"--simulate", "log", "--dir", dir.string(), "--burst", "--samples", "20",
                   "--channels", "SUPPLY_OUT", "--capture-priority", c.value}),
              c.status)
        << err;
    if (c.status != 0) {
      EXPECT_NE(err.find("--capture-priority"), std::string::npos) << err;
      continue;
    }
    EXPECT_EQ(err.find("capture priority: normal\n") != std::string::npos, c.plainNormal) << err;
  }
}

}  // namespace
}  // namespace pemra::cli
