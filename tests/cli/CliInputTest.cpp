// pemra-cli against hostile input and failing hardware: bounded and checked script input,
// escaped echoes, empty option values, a port with nothing attached, where the settings come
// from, and a sweep that fails every transfer of every command in turn.

#include <gtest/gtest.h>
#include <fcntl.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include "cli/Cli.h"
#include "cli/InputText.h"
#include "core/Clock.h"
#include "sim/Rig.h"

namespace pemra::cli {
namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class CliInputTest : public ::testing::Test {
 protected:
  CliInputTest() {
    dir = fs::temp_directory_path() /
          (std::string("pemra-cli-input-") +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    env.clock = &clock;
    env.rig = &rig;
    env.configPath = dir / "CommPort.cfg";
    env.decimalSeparator = '.';
  }
  ~CliInputTest() override { fs::remove_all(dir); }

  int Run(const std::vector<std::string>& args, std::istream& in) {
    std::ostringstream outStream;
    std::ostringstream errStream;
    const int status = cli::Run(args, in, outStream, errStream, env);
    out = outStream.str();
    err = errStream.str();
    return status;
  }
  int Run(const std::vector<std::string>& args, const std::string& input = "") {
    std::istringstream in(input);
    return Run(args, in);
  }

  fs::path dir;
  TestClock clock;
  sim::Rig rig{clock};
  Environment env;
  std::string out;
  std::string err;
};

TEST(ShownText, EscapesControlBytesAndCutsLongText) {
  struct Case {
    std::string text;
    std::string shown;
  };
  const std::vector<Case> cases = {
      {"XGYRO_OUT", "XGYRO_OUT"},
      {"a\tb\r\nc", "a\\tb\\r\\nc"},
      {std::string("\x1b[2J\0\x7f", 6), "\\x1B[2J\\x00\\x7F"},
      {"gr\xC3\xBC\xC3\x9F", "gr\xC3\xBC\xC3\x9F"},      // UTF-8 passes
      {"\xC2\x9B" "31m", "\\xC2\\x9B31m"},                 // a C1 control does not
      {"\xFF\xC3", "\\xFF\\xC3"},                          // broken UTF-8
      {std::string(100, 'x'), std::string(60, 'x') + "..."},
      {std::string(30, '\x01'), std::string(60, 'x').replace(0, 60, "") + [] {
         std::string s;
         for (int i = 0; i < 15; ++i) s += "\\x01";
         return s + "...";
       }()},
  };
  for (const Case& c : cases) EXPECT_EQ(Shown(c.text), c.shown) << c.shown;
}

TEST_F(CliInputTest, ScriptInputIsBoundedAndReadErrorsAreReported) {
  // A line without end, from a stream and from a device: refused after 64 KiB, at once.
  EXPECT_EQ(Run({"--simulate", "script", "-"}, std::string(1 << 20, 'r')), 2);
  EXPECT_TRUE(Contains(err, "line 1 of standard input: the line is longer than 65536 bytes"))
      << err;
  EXPECT_EQ(Run({"--simulate", "script", "/dev/zero"}), 2);
  EXPECT_TRUE(Contains(err, "line 1 of /dev/zero: the line is longer than 65536 bytes")) << err;
  EXPECT_LT(err.size(), 200u);
  // Exactly the limit is still a line (a comment here).
  EXPECT_EQ(Run({"--simulate", "script", "-"}, "#" + std::string(65535, 'c') + "\nread 19\n"), 0)
      << err;

  // A directory as the script, by name and as standard input.
  EXPECT_EQ(Run({"--simulate", "script", dir.string()}), 1);
  EXPECT_TRUE(Contains(err, "cannot read the script " + dir.string() + ": Is a directory")) << err;
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  FdInputBuffer directory(fd, true);
  std::istream in(&directory);
  EXPECT_EQ(Run({"--simulate", "script", "-"}, in), 1);
  EXPECT_TRUE(Contains(err, "cannot read the script standard input: Is a directory")) << err;
}

TEST_F(CliInputTest, CarriageReturnAloneEndsAScriptLine) {
  ASSERT_EQ(Run({"--simulate", "script", "-"}, "write ALM_MAG1 BEEF\rread 19\r\r\nread 20"), 0)
      << err;
  EXPECT_EQ(out, "ALM_MAG1\tBEEF\t48879\nALM_MAG2\t0000\t0\n");
}

TEST_F(CliInputTest, EchoedWordsAreEscapedAndShort) {
  const std::string hostile = "\x1b]0;owned\x07" + std::string(10 << 10, 'A');
  struct Case {
    std::vector<std::string> args;
    std::string input;
    std::string part;
  };
  const std::vector<Case> cases = {
      {{"read", hostile}, "", "unknown register '\\x1B]0;owned\\x07AAA"},
      {{"write", "ALM_MAG1", hostile}, "", "'\\x1B]0;owned\\x07AAA"},
      {{"--port", hostile, "read", "1"}, "", "'\\x1B]0;owned\\x07AAA"},
      {{hostile}, "", "unknown command '\\x1B]0;owned"},
      {{"script", "-"}, "read \"" + hostile + "\"\n", "line 1 of standard input: read \"\\x1B"},
      {{"read", std::string(70000, 'Z')}, "", "argument 3 ('ZZZ"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--simulate"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(Run(args, c.input), 2) << c.part;
    EXPECT_TRUE(Contains(err, c.part)) << err;
    EXPECT_FALSE(Contains(err, "\x1b")) << c.part;
    EXPECT_LT(err.size(), 600u) << c.part;
  }
}

TEST_F(CliInputTest, EmptyOptionValuesAreErrors) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--port", "", "read", "1"},
           {"--port=", "read", "1"},
           {"--model", "", "read", "1"},
           {"--interface", "", "read", "1"},
           {"dump", "--file", ""},
           {"script", ""}}) {
    std::vector<std::string> full = {"--simulate"};
    full.insert(full.end(), args.begin(), args.end());
    const uint64_t transfers = rig.SimUsb().TransferCount();
    EXPECT_EQ(Run(full), 2) << args[0] << " " << args[1];
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(rig.SimUsb().TransferCount(), transfers);
  }
}

// A parallel port with nothing on it: the status line floats, every bit reads as one.
class EmptyPort final : public PortIo {
 public:
  bool EnableAccess(uint16_t, std::string&, std::string&) override { return true; }
  void Out(uint16_t, uint8_t) override {}
  uint8_t In(uint16_t) override { return 0x00; }  // DOUT is read inverted
};

TEST_F(CliInputTest, WarnsWhenNoSensorSeemsToAnswer) {
  EmptyPort empty;
  env.portIo = &empty;
  env.usbDriver = &rig.Usb();
  const std::vector<std::string> port = {"--interface", "parallel", "--port", "378", "--model",
                                         "21420"};
  struct Case {
    std::vector<std::string> command;
    bool warned;
  };
  for (const Case& c : {Case{{"read", "STATUS"}, true}, Case{{"read", "1", "XGYRO_OUT"}, true},
                        Case{{"dump"}, true}, Case{{"write", "ALM_MAG1", "1"}, false}}) {
    std::vector<std::string> args = port;
    args.insert(args.end(), c.command.begin(), c.command.end());
    EXPECT_EQ(Run(args), 0) << c.command[0] << err;
    EXPECT_EQ(Contains(err, "no sensor seems to answer on the parallel port at 0378"), c.warned)
        << c.command[0] << ": " << err;
  }
  // The simulated sensor answers: no warning, also when one register reads FFFF.
  env.portIo = nullptr;
  env.usbDriver = nullptr;
  rig.Sensor().PokeRegister(0x26, 0xFFFF);
  EXPECT_EQ(Run({"--simulate", "--interface", "parallel", "read", "ALM_MAG1", "1"}), 0);
  EXPECT_FALSE(Contains(err, "no sensor")) << err;
}

TEST_F(CliInputTest, NamesTheConfigurationFileForTheSettingsItGives) {
  std::ofstream(env.configPath, std::ios::binary)
      << "Interface =  1 \r\nPort Address =  888 \r\nProduct =  21410 \r\n";
  ASSERT_EQ(Run({"--simulate", "read", "1"}), 0) << err;
  EXPECT_TRUE(Contains(err, "pemra-cli: interface parallel, port 0378, model 21410 from " +
                                env.configPath.string() + "\n"))
      << err;
  ASSERT_EQ(Run({"--simulate", "--interface", "usb", "read", "1"}), 0) << err;
  EXPECT_TRUE(Contains(err, "pemra-cli: model 21410 from ")) << err;
  ASSERT_EQ(Run({"--simulate", "--interface", "usb", "--model", "21420", "read", "1"}), 0);
  EXPECT_FALSE(Contains(err, "CommPort.cfg")) << err;

  // A saved port address is kept with --simulate: the simulated port is at 0378 only.
  std::ofstream(env.configPath, std::ios::binary) << "Interface =  1 \r\nPort Address =  632 \r\nProduct =  21420 \r\n";
  EXPECT_EQ(Run({"--simulate", "read", "1"}), 1);
  EXPECT_TRUE(Contains(err, "port 0278")) << err;
  EXPECT_TRUE(Contains(err, "The required I/O drivers could not be installed.")) << err;

  // A file there that cannot be read is said once, and nothing of it is used.
  fs::remove(env.configPath);
  fs::create_directory(env.configPath);
  EXPECT_EQ(Run({"--simulate", "read", "1"}), 0);
  EXPECT_TRUE(Contains(err, "Cannot read " + env.configPath.string() + ": Is a directory")) << err;
}

TEST_F(CliInputTest, CommandLimitsAndLowPowerBoundary) {
  ASSERT_EQ(Run({"--simulate", "wait", "86400000"}), 0) << err;
  EXPECT_EQ(clock.Waits().back(), std::chrono::milliseconds(86400000));
  EXPECT_EQ(Run({"--simulate", "wait", "86400000.01"}), 2);

  ASSERT_EQ(Run({"--simulate", "write", "SMPL_PRD", "9"}), 0);
  EXPECT_EQ(rig.Sensor().PeekRegister(0x36), 9);
  EXPECT_EQ(err, "");  // the highest period that keeps the adapter talking: no warning
}

// Runs a command on a fresh rig whose `failAt`-th bulk transfer fails and after which the
// adapter is gone; 0 runs it without a fault.
struct Faulted {
  int status = 0;
  std::string err;
  uint64_t transfers = 0;
};

Faulted RunWithFault(const std::vector<std::string>& args, const std::string& input,
                     uint64_t failAt) {
  TestClock clock;
  sim::Rig rig{clock};
  Environment env;
  env.clock = &clock;
  env.rig = &rig;
  env.configPath = fs::temp_directory_path() / "pemra-fault-sweep-no-such.cfg";
  env.decimalSeparator = '.';
  if (failAt > 0) {
    rig.SimUsb().FailNthTransfer(failAt);
    rig.SimUsb().UnplugAfter(failAt);
  }
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  Faulted result;
  result.status = cli::Run(args, in, out, err, env);
  result.err = err.str();
  result.transfers = rig.SimUsb().TransferCount();
  return result;
}

TEST(CliFaultSweep, EveryTransferOfEveryCommandFailsCleanly) {
  struct Case {
    std::vector<std::string> args;
    std::string input;
  };
  const std::vector<Case> cases = {
      {{"--simulate", "read", "ALM_MAG1", "XGYRO_OUT", "STATUS"}, ""},
      {{"--simulate", "write", "ALM_MAG1", "BEEF"}, ""},
      {{"--simulate", "dump"}, ""},
      {{"--simulate", "script", "-"}, "write ALM_MAG2 12\nread 19\nwait 5\nread 20\n"},
  };
  int runs = 0;
  for (const Case& c : cases) {
    const Faulted clean = RunWithFault(c.args, c.input, 0);
    ASSERT_EQ(clean.status, 0) << c.args[1] << clean.err;
    ASSERT_GT(clean.transfers, 4u);
    for (uint64_t k = 1; k <= clean.transfers; ++k) {
      auto run = std::async(std::launch::async, RunWithFault, c.args, c.input, k);
      ASSERT_EQ(run.wait_for(std::chrono::seconds(20)), std::future_status::ready)
          << c.args[1] << ": hangs with transfer " << k << " failed";
      const Faulted f = run.get();
      EXPECT_EQ(f.status, 1) << c.args[1] << " transfer " << k << ": " << f.err;
      EXPECT_FALSE(f.err.empty()) << c.args[1] << " transfer " << k;
      EXPECT_EQ(f.transfers, k) << c.args[1] << " went on after transfer " << k << ": " << f.err;
      ++runs;
    }
  }
  EXPECT_GT(runs, 40);
}

TEST_F(CliInputTest, AFailedWriteTransferIsReportedWithTheRegister) {
  // The search (2 transfers), the settings (2) and the gyro-scale read (2) come first; the
  // write is one exchange of an OUT and an IN transfer.
  for (const uint64_t n : {7u, 8u}) {
    TestClock localClock;
    sim::Rig local{localClock};
    env.rig = &local;
    env.clock = &localClock;
    local.SimUsb().FailNthTransfer(n);
    EXPECT_EQ(Run({"--simulate", "write", "ALM_MAG1", "BEEF"}), 1);
    EXPECT_TRUE(err.starts_with(n == 7 ? "Error Writing SPI (writing ALM_MAG1: "
                                       : "Error Reading SPI (writing ALM_MAG1: "))
        << err;
  }
}

}  // namespace
}  // namespace pemra::cli
