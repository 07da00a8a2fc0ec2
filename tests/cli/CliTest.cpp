// pemra-cli run in-process on the simulated rig with a test clock: output, errors, exit
// codes, scripts and the configuration file.

#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <future>
#include <fstream>
#include <sstream>

#include "cli/Cli.h"
#include "cli/InputText.h"
#include "core/Clock.h"
#include "sim/Rig.h"

namespace pemra::cli {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class CliTest : public ::testing::Test {
 protected:
  CliTest() {
    dir = fs::temp_directory_path() /
          (std::string("pemra-cli-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    env.clock = &clock;
    env.rig = &rig;
    env.configPath = dir / "CommPort.cfg";
    env.decimalSeparator = '.';
  }
  ~CliTest() override { fs::remove_all(dir); }

  int Run(const std::vector<std::string>& args, const std::string& input = "") {
    std::istringstream in(input);
    std::ostringstream outStream;
    std::ostringstream errStream;
    const int status = cli::Run(args, in, outStream, errStream, env);
    out = outStream.str();
    err = errStream.str();
    return status;
  }
  void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  fs::path dir;
  TestClock clock;
  sim::Rig rig{clock};
  Environment env;
  std::string out;
  std::string err;
};

TEST_F(CliTest, ReadPrintsNameHexAndValue) {
  rig.Sensor().PokeRegister(0x1A, 0x1FFF);  // XGYRO_ OFF = -1
  rig.Sensor().PokeRegister(0x26, 0xBEEF);  // ALM_MAG1
  ASSERT_EQ(Run({"--simulate", "read", "xgyro_off", "19", "SENS_AVG"}), 0) << err;
  EXPECT_EQ(Lines(out), (std::vector<std::string>{"XGYRO_ OFF\tFFFF\t-0.018315",
                                                  "ALM_MAG1\tBEEF\t48879",
                                                  "SENS_AVG\t0402\t1026"}));
  EXPECT_EQ(err, "");

  env.decimalSeparator = ',';
  ASSERT_EQ(Run({"--simulate", "--interface", "parallel", "read", "XGYRO_ OFF"}), 0) << err;
  EXPECT_EQ(out, "XGYRO_ OFF\tFFFF\t-0,018315\n");
}

TEST_F(CliTest, RefusedCommandsSendNothing) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"read", "NOPE"}, "unknown register 'NOPE'"},
      {{"read", "32"}, "unknown register '32'"},
      {{"read", "XGYRO_OUT", "COMMAND"}, "register COMMAND cannot be read"},
      {{"read", "Reserved"}, "register Reserved cannot be read"},
      {{"write", "STATUS", "1"}, "register STATUS cannot be written"},
      {{"write", "ALM_MAG1", "12345"}, "'12345' is not a register value"},
      {{"write", "ALM_MAG1", "12G4"}, "'12G4' is not a register value"},
      {{"write", "ALM_MAG1", "0x12"}, "'0x12' is not a register value"},
      {{"write", "ALM_MAG1", ""}, "'' is not a register value"},
      {{"write", "ALM_MAG1", "1 2"}, "'1 2' is not a register value"},
      {{"wait", "abc"}, "'abc' is not a time"},
      {{"wait", "1e9"}, "'1e9' is not a time"},
      {{"--model", "12", "read", "1"}, "the sensor model 12 is not known"},
      {{"--model", "x", "read", "1"}, "'x' is not a model code"},
      {{"--port", "12345", "read", "1"}, "'12345' is not a port address"},
      {{"--interface", "serial", "read", "1"}, "serial"},
      {{"read"}, "REG"},
      {{"frobnicate"}, "frobnicate"},
      {{}, "A subcommand is required"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--simulate"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const uint64_t transfers = rig.SimUsb().TransferCount();
    EXPECT_EQ(Run(args), 2) << c.message;
    EXPECT_TRUE(Contains(err, c.message)) << c.message << ": " << err;
    EXPECT_EQ(out, "") << c.message;
    EXPECT_EQ(rig.SimUsb().TransferCount(), transfers) << c.message;
  }
  EXPECT_EQ(rig.Sensor().PeekRegister(0x26), 0);  // ALM_MAG1 untouched
}

TEST_F(CliTest, WriteTakesOneToFourHexDigits) {
  for (const auto& [text, word] : std::vector<std::pair<std::string, uint16_t>>{
           {"1", 0x0001}, {"aB", 0x00AB}, {"BeEf", 0xBEEF}, {"0000", 0x0000}}) {
    ASSERT_EQ(Run({"--simulate", "write", "ALM_MAG2", text}), 0) << err;
    EXPECT_EQ(rig.Sensor().PeekRegister(0x28), word) << text;
    EXPECT_EQ(out, "");
  }
}

TEST_F(CliTest, SamplePeriodOverTheAdapterIsHeldOutOfLowPower) {
  ASSERT_EQ(Run({"--simulate", "write", "SMPL_PRD", "0A"}), 0);
  EXPECT_EQ(rig.Sensor().PeekRegister(0x36), 9);
  EXPECT_TRUE(Contains(err, "will place the 21420 into low power mode.\n")) << err;
  ASSERT_EQ(Run({"--simulate", "--interface", "parallel", "write", "SMPL_PRD", "0A"}), 0);
  EXPECT_EQ(rig.Sensor().PeekRegister(0x36), 10);
  EXPECT_EQ(err, "");
}

TEST_F(CliTest, ScanListsAllFourKinds) {
  ASSERT_EQ(Run({"--simulate", "scan"}), 0) << err;
  EXPECT_EQ(out,
            "Parallel\t0378\tparport0\n"
            "EzUsb0\tFIFO4\tTolvane\tUSB SPI Buffer\t2.1\t2.0\n"
            "FTDI\tFT232H\tFT5XYZ12\tSingle RS232-HS\t1-4\n"
            "SPI\t/dev/spidev0.0\n");

  sim::RigOptions options;
  options.adapters[1] = sim::AdapterOptions{true, kProductMcp, false};
  options.adapters[3] = sim::AdapterOptions{true, 0x1234, true};  // not a known board
  options.ftdiBoards = {sim::FtdiBoardOptions{kFtdiProductFt2232h, "FT6ABC34", "Dual RS232-HS", "2-1.3"}};
  options.spidevNodes = {{"/dev/spidev1.0"}, {"/dev/spidev0.1"}};
  options.portBase = 0xBC00;
  sim::Rig other{clock, options};
  env.rig = &other;
  env.decimalSeparator = ',';
  ASSERT_EQ(Run({"--simulate", "scan"}), 0) << err;
  EXPECT_EQ(out,
            "Parallel\tBC00\tparport0\n"
            "EzUsb0\tFIFO4\tTolvane\tUSB SPI Buffer\t2,1\t2,0\n"
            "EzUsb1\tMCP\tTolvane\tUSB SPI Buffer\t2,1\t1,1\n"
            "FTDI\tFT2232H\tFT6ABC34:A\tDual RS232-HS\t2-1.3\n"
            "FTDI\tFT2232H\tFT6ABC34:B\tDual RS232-HS\t2-1.3\n"
            "SPI\t/dev/spidev0.1\n"
            "SPI\t/dev/spidev1.0\n");

  // Without adapters the search says so; what else there is, is listed.
  sim::RigOptions none;
  none.adapters = {};
  none.ftdiBoards = {};
  sim::Rig empty{clock, none};
  env.rig = &empty;
  EXPECT_EQ(Run({"--simulate", "scan"}), 0);
  EXPECT_EQ(out, "Parallel\t0378\tparport0\nSPI\t/dev/spidev0.0\n");
  EXPECT_EQ(err, "No USB Buffers Found, Please Verify Setup and Restart\n");
}

TEST_F(CliTest, FtdiAndSpidevInterfacesWithTheirDevice) {
  rig.Sensor().PokeRegister(0x26, 0x0ABC);
  for (const std::vector<std::string>& choice :
       {std::vector<std::string>{"--interface", "ftdi"},
        std::vector<std::string>{"--interface", "ftdi", "--device", "FT5XYZ12"},
        std::vector<std::string>{"--interface", "spidev", "--device", "/dev/spidev0.0"}}) {
    std::vector<std::string> args = {"--simulate"};
    args.insert(args.end(), choice.begin(), choice.end());
    args.insert(args.end(), {"read", "ALM_MAG1"});
    ASSERT_EQ(Run(args), 0) << err;
    EXPECT_EQ(out, "ALM_MAG1\t0ABC\t2748\n");
  }
  EXPECT_EQ(Run({"--simulate", "--interface", "ftdi", "--device", "FT9NOPE", "read", "ALM_MAG1"}), 1);
  EXPECT_EQ(err, "FTDI board FT9NOPE not found\n");
  EXPECT_EQ(Run({"--simulate", "--interface", "spidev", "--device", "/dev/spidev9.9", "read",
                 "ALM_MAG1"}),
            1);
  EXPECT_EQ(err, "SPI device /dev/spidev9.9 not found\n");
  EXPECT_EQ(Run({"--simulate", "--interface", "usb", "--device", "FT5XYZ12", "read", "ALM_MAG1"}), 2);
  EXPECT_EQ(err, "pemra-cli: --device needs --interface ftdi or --interface spidev\n");
  // The file's device is used, and named, when no --device is given.
  WriteFile(env.configPath,
            "Interface =  4 \r\nPort Address =  0 \r\nFactory =  0 \r\nProduct =  21420 \r\n"
            "Device = /dev/spidev0.0\r\n");
  ASSERT_EQ(Run({"--simulate", "read", "ALM_MAG1"}), 0) << err;
  EXPECT_EQ(err,
            "pemra-cli: interface spidev, device /dev/spidev0.0, model 21420 from " +
                env.configPath.string() + "\n");
}

TEST_F(CliTest, DumpToTheTerminalAndToAFile) {
  rig.Sensor().SetNoise(false);
  rig.Sensor().PokeRegister(0x26, 0x1234);
  ASSERT_EQ(Run({"--simulate", "dump"}), 0) << err;
  const auto lines = Lines(out);
  ASSERT_EQ(lines.size(), 34u);
  EXPECT_EQ(lines[0], "Name\t\tAddr\thexValue\t   decValue");
  EXPECT_EQ(lines[21], "ALM_MAG1     \t0026\t1234\t   4660.0");
  EXPECT_FALSE(Contains(out, "\r"));

  const fs::path file = dir / "Registers_LOG.txt";
  ASSERT_EQ(Run({"--simulate", "dump", "--file", file.string()}), 0) << err;
  EXPECT_EQ(out, "");
  const std::string saved = ReadFile(file);
  EXPECT_TRUE(saved.ends_with("\t   ----\r\n\r\n"));
  EXPECT_TRUE(saved.starts_with("Name\t\tAddr\thexValue\t   decValue\r\n"));
  EXPECT_TRUE(Contains(saved, "\r\nALM_MAG1     \t0026\t1234\t   4660.0\r\n"));

  EXPECT_EQ(Run({"--simulate", "dump", "--file", (dir / "missing" / "x.txt").string()}), 1);
  EXPECT_TRUE(Contains(err, (dir / "missing" / "x.txt").string())) << err;
}

TEST_F(CliTest, WaitPassesTimeOnTheSessionClock) {
  ASSERT_EQ(Run({"--simulate", "wait", "250"}), 0) << err;
  ASSERT_EQ(Run({"--simulate", "wait", "0.5"}), 0) << err;
  env.decimalSeparator = ',';
  ASSERT_EQ(Run({"--simulate", "wait", "1,25"}), 0) << err;
  EXPECT_EQ(clock.Waits(),
            (std::vector<Nanoseconds>{std::chrono::milliseconds(250),
                                      std::chrono::microseconds(500),
                                      std::chrono::microseconds(1250)}));
}

TEST_F(CliTest, TraceShowsFramesAndTransfers) {
  rig.Sensor().PokeRegister(0x26, 0xBEEF);
  ASSERT_EQ(Run({"--simulate", "--trace", "read", "ALM_MAG1"}), 0);
  const auto lines = Lines(err);
  // The model's gyro scales are read before the command's register.
  const auto sensAvg = std::find(lines.begin(), lines.end(), "spi > 3800 < 0402");
  const auto request = std::find(lines.begin(), lines.end(), "usb > pipe 0: 0D 01 02 26 00 26 00");
  ASSERT_NE(sensAvg, lines.end()) << err;
  ASSERT_NE(request, lines.end()) << err;
  EXPECT_LT(sensAvg, request);
  ASSERT_GE(lines.end() - request, 4);
  EXPECT_EQ(request[1].substr(0, 20), "usb < pipe 1: 04 02 ");  // first word: the previous answer
  EXPECT_EQ(request[1].substr(19), " BE EF");
  EXPECT_EQ(request[3], "spi > 2600 < BEEF");
  EXPECT_EQ(lines.front(), "usb > pipe 0: 00");  // the firmware revision of the search

  ASSERT_EQ(Run({"--simulate", "--interface", "parallel", "--trace", "read", "ALM_MAG1"}), 0);
  const auto portTrace = Lines(err);
  ASSERT_GE(portTrace.size(), 2u);
  EXPECT_EQ(portTrace.back(), "spi > 0000 < BEEF");
  EXPECT_EQ(portTrace.end()[-2], "spi > 2600 < ----");
}

TEST_F(CliTest, TransportFailuresExitWithOne) {
  // The search (2 transfers), the settings (2) and the gyro-scale read (2) come first.
  rig.SimUsb().FailNthTransfer(8);
  EXPECT_EQ(Run({"--simulate", "read", "ALM_MAG1", "ALM_MAG2"}), 1);
  // The fixed text, then the register and the back end's reason.
  EXPECT_EQ(err, "Error Reading SPI (reading ALM_MAG1: pipe error (injected fault))\n");
  EXPECT_EQ(out, "");

  rig.SimUsb().FailOpen(0);
  EXPECT_EQ(Run({"--simulate", "write", "ALM_MAG1", "1"}), 1);
  EXPECT_EQ(err, "No USB Buffers Found, Please Verify Setup and Restart\n");
  rig.SimUsb().FailOpen(0, false);

  EXPECT_EQ(Run({"--simulate", "--interface", "parallel", "--port", "278", "read", "1"}), 1);
  EXPECT_TRUE(err.starts_with("The required I/O drivers could not be installed.\n")) << err;
}

TEST_F(CliTest, ScriptRunsOnOneConnection) {
  const std::string script =
      "# offsets\n"
      "\n"
      "write \"XGYRO_ OFF\" 0123\r\n"
      "   read XGYRO_OFF\n"
      "wait 100\n"
      "write ALM_MAG1 BEEF\n"
      "read 19\n";
  WriteFile(dir / "script.txt", script);
  ASSERT_EQ(Run({"--simulate", "script", (dir / "script.txt").string()}), 0) << err;
  EXPECT_EQ(Lines(out), (std::vector<std::string>{"XGYRO_ OFF\t0123\t5.329665",
                                                  "ALM_MAG1\tBEEF\t48879"}));
  // One search for the whole script.
  ASSERT_EQ(Run({"--simulate", "--trace", "script", "-"}, script), 0) << err;
  const auto trace = Lines(err);
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "usb > pipe 0: 00"), 1);
}

TEST_F(CliTest, ScriptStopsAtTheFirstFailingLine) {
  struct Case {
    std::string script;
    int status;
    std::string stop;
    size_t linesOut;
  };
  const std::vector<Case> cases = {
      {"read 19\nread NOPE\nread 19\n", 2, "line 2 of standard input: read NOPE", 1},
      {"read 19\n# note\n\nwrite 19 XYZ\nread 19\n", 2, "line 4 of standard input: write 19 XYZ",
       1},
      {"read \"XGYRO_ OFF\nread 19\n", 2, "line 1 of standard input: read \"XGYRO_ OFF", 0},
      {"script other.txt\n", 2, "line 1 of standard input: script other.txt", 0},
      {"--trace read 19\n", 2, "line 1 of standard input: --trace read 19", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run({"--simulate", "script", "-"}, c.script), c.status) << c.script;
    EXPECT_TRUE(Contains(err, "pemra-cli: the script stopped at " + c.stop + "\n"))
        << c.script << err;
    EXPECT_EQ(Lines(out).size(), c.linesOut) << c.script;
  }
  // A device failure stops the script with 1.
  rig.SimUsb().FailNthTransfer(8);
  EXPECT_EQ(Run({"--simulate", "script", "-"}, "read 19\nread 20\n"), 1);
  EXPECT_TRUE(Contains(err, "Error Reading SPI (reading ALM_MAG1: ")) << err;
  EXPECT_TRUE(Contains(err, "line 1 of standard input: read 19")) << err;

  EXPECT_EQ(Run({"--simulate", "script", (dir / "none.txt").string()}), 2);
  EXPECT_TRUE(Contains(err, (dir / "none.txt").string() + ": No such file or directory")) << err;
}

TEST_F(CliTest, DefaultsComeFromTheConfigurationFileWhichIsNeverWritten) {
  const std::string config =
      "Interface =  1 \r\nPort Address =  888 \r\nFactory =  0 \r\nProduct =  21410 \r\n";
  WriteFile(env.configPath, config);
  ASSERT_EQ(Run({"--simulate", "--trace", "read", "1"}), 0) << err;
  EXPECT_TRUE(Contains(err, "spi > 0200 < ----")) << err;  // the parallel port
  EXPECT_FALSE(Contains(err, "usb"));
  // Model 21410 names its outputs 9 and 10 differently from the common table.
  ASSERT_EQ(Run({"--simulate", "read", "9"}), 0) << err;
  EXPECT_FALSE(out.starts_with("YTEMP_OUT")) << out;

  // The options win over the file.
  ASSERT_EQ(Run({"--simulate", "--interface", "usb", "--model", "21420", "--trace", "read", "9"}),
            0);
  EXPECT_TRUE(out.starts_with("YTEMP_OUT\t")) << out;
  EXPECT_TRUE(Contains(err, "usb > pipe 0: 0D 01 02 12 00 12 00")) << err;
  EXPECT_EQ(ReadFile(env.configPath), config);

  // A file that names no interface: the user must choose one.
  WriteFile(env.configPath, "Interface =  0 \r\nProduct =  21420 \r\n");
  EXPECT_EQ(Run({"--simulate", "read", "1"}), 2);
  EXPECT_TRUE(Contains(err, "no interface selected")) << err;
}

TEST_F(CliTest, SimulatedSensorIsTheChosenModel) {
  // The simulated supply is 5.0 V; each model has its own supply format (12 bits at
  // 1.8315 mV or 14 bits at 2.418 mV), which only reads back as 5 V from a sensor of
  // that model.
  env.rig = nullptr;  // the program makes its own rig, on the test clock
  for (const int16_t model : kModelCodes) {
    ASSERT_EQ(Run({"--simulate", "--model", std::to_string(model), "read", "SUPPLY_OUT"}), 0)
        << model << ": " << err;
    const auto fields = Lines(out);
    ASSERT_EQ(fields.size(), 1u) << model;
    const std::string value = fields[0].substr(fields[0].rfind('\t') + 1);
    EXPECT_NEAR(std::stod(value), 5.0, 0.05) << model << ": " << out;
  }
}

TEST_F(CliTest, NumbersFollowTheNumericLocale) {
  const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
    GTEST_SKIP() << "no de_DE.UTF-8 locale on this machine";
  }
  env.decimalSeparator.reset();
  rig.Sensor().PokeRegister(0x1A, 0x1FFF);
  const int readStatus = Run({"--simulate", "read", "XGYRO_OFF"});
  const std::string readOut = out;
  sim::RigOptions options;
  options.adapters[0] = sim::AdapterOptions{true, kProductFifo4, false};
  sim::Rig fullSpeed{clock, options};
  env.rig = &fullSpeed;
  const int scanStatus = Run({"--simulate", "scan"});
  std::setlocale(LC_NUMERIC, previous.c_str());
  EXPECT_EQ(readStatus, 0);
  EXPECT_EQ(readOut, "XGYRO_ OFF\tFFFF\t-0,018315\n");
  EXPECT_EQ(scanStatus, 0);
  EXPECT_EQ(out,
            "Parallel\t0378\tparport0\nEzUsb0\tFIFO4\tTolvane\tUSB SPI Buffer\t2,1\t1,1\n"
            "FTDI\tFT232H\tFT5XYZ12\tSingle RS232-HS\t1-4\nSPI\t/dev/spidev0.0\n");
}

TEST(DecimalSeparatorTest, OneByteSeparatorsOnlyElseAPoint) {
  struct Case {
    const char* decimalPoint;
    char separator;
  };
  const std::vector<Case> cases = {
      {".", '.'}, {",", ','}, {"", '.'}, {nullptr, '.'},
      {"\xD9\xAB", '.'},  // U+066B ARABIC DECIMAL SEPARATOR, two bytes in UTF-8
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecimalSeparatorOf(c.decimalPoint), c.separator)
        << (c.decimalPoint != nullptr ? c.decimalPoint : "(null)");
  }
}

TEST_F(CliTest, HelpIsNotAnError) {
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_TRUE(Contains(out, "script")) << out;
  EXPECT_EQ(err, "");
}

TEST(InputText, EchoesAreEscapedAndCutAndReadErrorsAreNotTheEnd) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a\tb\r\nc", "a\\tb\\r\\nc"},
      {std::string("\x1b[2J\0\x7f", 6), "\\x1B[2J\\x00\\x7F"},
      {"gr\xC3\xBC\xC3\x9F", "gr\xC3\xBC\xC3\x9F"},  // UTF-8 passes, but not a C1 control
      {"\xC2\x9B" "31m\xFF", "\\xC2\\x9B31m\\xFF"},
      {std::string(100, 'x'), std::string(60, 'x') + "..."},
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(Shown(text), shown);
  const int fd = ::open(fs::temp_directory_path().c_str(), O_RDONLY | O_DIRECTORY);
  FdInputBuffer directory(fd, true);
  LineReader reader(directory);
  std::string line;
  EXPECT_EQ(reader.Next(line), LineReader::Status::ReadError);
  EXPECT_EQ(reader.ReadErrorCode(), EISDIR);
}

TEST_F(CliTest, ScriptInputIsBoundedAndSplitAtCarriageReturns) {
  struct Case {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"script", "-"}, std::string(1 << 20, 'r'),
       2, "line 1 of standard input: the line is longer than 65536 bytes\n"},
      {{"script", "/dev/zero"}, "", 2, "line 1 of /dev/zero: the line is longer than 65536 bytes\n"},
      {{"script", "-"}, "#" + std::string(65535, 'c') + "\nread 19\n", 0, ""},  // at the limit
      {{"script", dir.string()}, "", 1, "cannot read the script " + dir.string() + ": Is a directory"},
      {{"script", "-"}, "write ALM_MAG1 BEEF\rread 19\r\r\nread 20", 0, ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--simulate"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(Run(args, c.input), c.status) << c.err;
    EXPECT_TRUE(Contains(err, c.err)) << err;
    EXPECT_LT(err.size(), 200u);
  }
  EXPECT_EQ(out, "ALM_MAG1\tBEEF\t48879\nALM_MAG2\t0000\t0\n");
}

TEST_F(CliTest, EchoedWordsAreEscapedShortAndEmptyValuesAreErrors) {
  const std::string hostile = "\x1b]0;owned\x07" + std::string(10 << 10, 'A');
  const std::string escaped = "\\x1B]0;owned\\x07AAA";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"read", hostile}, "unknown register '" + escaped},
      {{"write", "ALM_MAG1", hostile}, "'" + escaped},
      {{"--port", hostile, "read", "1"}, "'" + escaped},
      {{hostile}, "unknown command '\\x1B]0;owned"},
      {{"script", "-"}, "line 1 of standard input: read \"" + escaped},
      {{"read", std::string(70000, 'Z')}, "argument 3 ('ZZZ"},
      {{"--port", "", "read", "1"}, "--port: an empty value is not allowed"},
      {{"--port=", "read", "1"}, "--port: an empty value is not allowed"},
      {{"--model", "", "read", "1"}, "--model: an empty value is not allowed"},
      {{"dump", "--file", ""}, "--file: an empty value is not allowed"},
      {{"script", ""}, "an empty value is not allowed"},
  };
  for (const auto& [words, part] : cases) {
    std::vector<std::string> args = {"--simulate"};
    args.insert(args.end(), words.begin(), words.end());
    const uint64_t transfers = rig.SimUsb().TransferCount();
    EXPECT_EQ(Run(args, "read \"" + hostile + "\"\n"), 2) << part;
    EXPECT_TRUE(Contains(err, part)) << err;
    EXPECT_FALSE(Contains(err, "\x1b")) << part;
    EXPECT_LT(err.size(), 600u) << part;
    EXPECT_EQ(rig.SimUsb().TransferCount(), transfers) << part;
  }
}

// A parallel port with nothing on it: DOUT floats high and reads (inverted) as 0.
class EmptyPort final : public PortIo {
 public:
  bool EnableAccess(uint16_t, std::string&, std::string&) override { return true; }
  void Out(uint16_t, uint8_t) override {}
  uint8_t In(uint16_t) override { return 0x00; }
};

TEST_F(CliTest, WarnsWhenNoSensorSeemsToAnswer) {
  EmptyPort empty;
  env.portIo = &empty;
  env.usbDriver = &rig.Usb();
  for (const auto& [command, warned] : std::vector<std::pair<std::vector<std::string>, bool>>{
           {{"read", "STATUS"}, true}, {{"read", "1", "XGYRO_OUT"}, true}, {{"dump"}, true},
           {{"write", "ALM_MAG1", "1"}, false}}) {
    std::vector<std::string> args = {"--interface", "parallel", "--port", "378", "--model", "21420"};
    args.insert(args.end(), command.begin(), command.end());
    EXPECT_EQ(Run(args), 0) << err;
    EXPECT_EQ(Contains(err, "no sensor seems to answer on the parallel port at 0378"), warned)
        << command[0] << ": " << err;
  }
  // The simulated sensor answers, also when one of the registers holds FFFF.
  rig.Sensor().PokeRegister(0x26, 0xFFFF);
  EXPECT_EQ(Run({"--simulate", "--interface", "parallel", "read", "ALM_MAG1", "1"}), 0);
  EXPECT_FALSE(Contains(err, "no sensor")) << err;
}

TEST_F(CliTest, NamesTheConfigurationFileForWhatItGives) {
  WriteFile(env.configPath, "Interface =  1 \r\nPort Address =  888 \r\nProduct =  21410 \r\n");
  const std::string from = " from " + env.configPath.string() + "\n";
  ASSERT_EQ(Run({"--simulate", "read", "1"}), 0) << err;
  EXPECT_TRUE(Contains(err, "pemra-cli: interface parallel, port 0378, model 21410" + from)) << err;
  ASSERT_EQ(Run({"--simulate", "--interface", "usb", "read", "1"}), 0) << err;
  EXPECT_TRUE(Contains(err, "pemra-cli: model 21410" + from)) << err;
  ASSERT_EQ(Run({"--simulate", "--interface", "usb", "--model", "21420", "read", "1"}), 0);
  EXPECT_FALSE(Contains(err, from)) << err;

  // A saved port address is kept with --simulate, whose port is at 0378 only.
  WriteFile(env.configPath, "Interface =  1 \r\nPort Address =  632 \r\nProduct =  21420 \r\n");
  EXPECT_EQ(Run({"--simulate", "read", "1"}), 1);
  EXPECT_TRUE(Contains(err, "interface parallel, port 0278, model 21420" + from)) << err;
  EXPECT_TRUE(Contains(err, "The required I/O drivers could not be installed.")) << err;

  fs::remove(env.configPath);
  fs::create_directory(env.configPath);  // there, but not readable as a file
  EXPECT_EQ(Run({"--simulate", "read", "1"}), 0);
  EXPECT_TRUE(Contains(err, "Cannot read " + env.configPath.string() + ": Is a directory")) << err;
}

TEST_F(CliTest, WaitLimitAndTheHighestSamplePeriodOverTheAdapter) {
  ASSERT_EQ(Run({"--simulate", "wait", "86400000"}), 0) << err;
  EXPECT_EQ(clock.Waits().back(), std::chrono::milliseconds(86400000));
  EXPECT_EQ(Run({"--simulate", "wait", "86400000.01"}), 2);
  ASSERT_EQ(Run({"--simulate", "write", "SMPL_PRD", "9"}), 0);
  EXPECT_EQ(rig.Sensor().PeekRegister(0x36), 9);
  EXPECT_EQ(err, "");  // no low-power warning
}

TEST_F(CliTest, ReadAndDumpWithFields) {
  rig.Sensor().PokeRegister(0x2E, 0x0200);  // ALM_CTRL: alarm 1 on the X gyro
  rig.Sensor().PokeRegister(0x26, 0x8555);  // ALM_MAG1: greater than 100 deg/s
  ASSERT_EQ(Run({"--simulate", "read", "MSC_CTRL", "SMPL_PRD", "ALM_MAG1", "--fields"}), 0) << err;
  EXPECT_EQ(out,
            "MSC_CTRL\t0006\t6\n"
            "  dr_line\t0\t0\tDI/O1\n"
            "  dr_polarity\t1\t1\thigh\n"
            "  dr_enable\t2\t1\ton\n"
            "  self_test\t8\t0\toff\n"
            "  auto_self_test\t10\t0\toff\n"
            "SMPL_PRD\t0001\t1\n"
            "  multiplier\t0-6\t1\tsample period 1.2207 ms, 819.2 samples/s\n"
            "  time_base\t7\t0\t0.61035 ms\n"
            "ALM_MAG1\t8555\t34133\n"
            "  level\t0-13\t1365\t100.000 deg/s (X_Gyro)\n"
            "  polarity\t15\t1\tgreater than\n");
  EXPECT_EQ(err, "");

  ASSERT_EQ(Run({"--simulate", "dump", "--fields"}), 0) << err;
  const auto lines = Lines(out);
  // 34 listing lines and 76 field lines: none for Reserved and COMMAND, which are not read.
  ASSERT_EQ(lines.size(), 110u);
  const auto msc = std::find(lines.begin(), lines.end(), "MSC_CTRL     \t0034\t0006\t   6.0");
  ASSERT_NE(msc, lines.end()) << out;
  EXPECT_EQ(msc[3], "  dr_enable\t2\t1\ton");
  EXPECT_EQ(msc[6].substr(0, 8), "SMPL_PRD");
  const auto mag = std::find(lines.begin(), lines.end(), "ALM_MAG1     \t0026\t8555\t   34133.0");
  ASSERT_NE(mag, lines.end()) << out;
  EXPECT_EQ(mag[1], "  level\t0-13\t1365\t100.000 deg/s (X_Gyro)");  // ALM_CTRL read later
  EXPECT_EQ(lines.back(), "COMMAND     \t003E\t----\t   ----");
  EXPECT_EQ(std::find(lines.begin(), lines.end(), "Reserved     \t0018\t----\t   ----")[1].substr(0, 10),
            "XGYRO_ OFF");
}

// One field changed; every other bit of the word stays as the sensor held it.
TEST_F(CliTest, SetChangesOneFieldOnly) {
  struct Case {
    uint8_t address;
    uint16_t before;
    std::vector<std::string> args;
    uint16_t after;
    std::string out;
  };
  const std::vector<Case> cases = {
      {0x34, 0x0107, {"set", "MSC_CTRL.dr_polarity", "0"}, 0x0105,
       "MSC_CTRL\t0107 -> 0105\n  dr_polarity\t1\t0\tlow\n"},
      {0x34, 0x0006, {"set", "msc_ctrl.DR_ENABLE", "off"}, 0x0002,
       "MSC_CTRL\t0006 -> 0002\n  dr_enable\t2\t0\toff\n"},
      {0x38, 0x0402, {"set", "SENS_AVG.taps_exponent", "5"}, 0x0405,
       "SENS_AVG\t0402 -> 0405\n  taps_exponent\t0-2\t5\t32 taps\n"},
      {0x38, 0x0402, {"set", "SENS_AVG.gyro_range", "1"}, 0x0102,
       "SENS_AVG\t0402 -> 0102\n  gyro_range\t8-10\t1\tlowest range, 0.018315 deg/s per LSB\n"},
      {0x32, 0x0103, {"set", "GPIO_CTRL.level1", "high"}, 0x0303,
       "GPIO_CTRL\t0103 -> 0303\n  level1\t9\t1\thigh\n"},
      // A line made an input reads its pin's level (low here), not the level set.
      {0x32, 0x0303, {"set", "GPIO_CTRL.dir0", "0"}, 0x0202,
       "GPIO_CTRL\t0303 -> 0202\n  dir0\t0\t0\tinput\n"},
      {0x1A, 0x0005, {"set", "XGYRO_OFF.offset", "-1"}, 0x1FFF,
       "XGYRO_ OFF\t0005 -> 1FFF\n  offset\t0-12\t-1\t-0.018315 deg/s\n"},
      {0x2E, 0x0247, {"set", "ALM_CTRL.source2", "11"}, 0xB247,
       "ALM_CTRL\t0247 -> B247\n  source2\t12-15\t11\tAux_ADC\n"},
      {0x26, 0x8AAA, {"set", "ALM_MAG1.polarity", "less than"}, 0x0AAA,
       "ALM_MAG1\t8AAA -> 0AAA\n  polarity\t15\t0\tless than\n"},
      {0x36, 0x0001, {"set", "SMPL_PRD.multiplier", "9"}, 0x0009,
       "SMPL_PRD\t0001 -> 0009\n"
       "  multiplier\t0-6\t9\tsample period 6.1035 ms, 163.84 samples/s\n"},
      {0x36, 0x0001, {"--interface", "parallel", "set", "SMPL_PRD.time_base", "1"}, 0x0081,
       "SMPL_PRD\t0001 -> 0081\n  time_base\t7\t1\t18.921 ms\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[c.args.size() - 2]);
    rig.Sensor().PokeRegister(c.address, c.before);
    std::vector<std::string> args = {"--simulate"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(Run(args), 0) << err;
    EXPECT_EQ(out, c.out);
    EXPECT_EQ(err, "");
    EXPECT_EQ(rig.Sensor().PeekRegister(c.address), c.after);
  }
  // A command is written alone, with no read before or after; ENDURANCE counts the update.
  rig.Sensor().PokeRegister(0x36, 0x0001);  // out of low-power sampling for the adapter
  ASSERT_EQ(Run({"--simulate", "script", "-"},
                "set COMMAND.flash_update 1\nwait 100\nread ENDURANCE\n"),
            0)
      << err;
  EXPECT_EQ(out, "COMMAND\t-> 0008\n  flash_update\t3\t1\trun\nENDURANCE\t0001\t1\n");
}

// A field that does not read back as written is a failure: here the sensor is busy with a
// flash update, ignores the write and answers 0.
TEST_F(CliTest, SetThatDoesNotHoldFails) {
  EXPECT_EQ(Run({"--simulate", "script", "-"},
                "set COMMAND.flash_update 1\nset MSC_CTRL.dr_enable 1\n"),
            1);
  EXPECT_TRUE(Contains(err, "pemra-cli: MSC_CTRL.dr_enable reads back 0, not the 1 written\n"))
      << err;
}

// One read, one write and one read-back, two frames each, after the opening's reads.
TEST_F(CliTest, SetTraceIsReadWriteReadBack) {
  ASSERT_EQ(Run({"--simulate", "--interface", "parallel", "--trace", "set", "MSC_CTRL.dr_enable",
                 "0"}),
            0)
      << err;
  const auto lines = Lines(err);
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 6, lines.end()),
            (std::vector<std::string>{"spi > 3400 < ----", "spi > 0000 < 0006",
                                      "spi > B500 < ----", "spi > B402 < ----",
                                      "spi > 3400 < ----", "spi > 0000 < 0002"}));
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.starts_with("spi > B"); }),
            2);
}

TEST_F(CliTest, SetRefusalsWriteNothing) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"set", "MSC_CTRL.dr_enable", "2"},
       "pemra-cli: 2 does not fit MSC_CTRL.dr_enable (bits 2): give 0 to 1\n"},
      {{"set", "XGYRO_OFF.offset", "4096"},
       "pemra-cli: 4096 does not fit XGYRO_ OFF.offset (bits 0-12): give -4096 to 4095\n"},
      {{"set", "SENS_AVG.taps_exponent", "-1"},
       "pemra-cli: -1 does not fit SENS_AVG.taps_exponent (bits 0-2): give 0 to 7\n"},
      {{"set", "STATUS.alarm1", "0"}, "pemra-cli: STATUS.alarm1 is read-only\n"},
      {{"set", "XGYRO_OUT.data", "1"}, "pemra-cli: XGYRO_OUT.data is read-only\n"},
      {{"set", "GPIO_CTRL.dir2", "1"},
       "pemra-cli: GPIO_CTRL has no field 'dir2': its fields are dir0, dir1, level0, level1\n"},
      {{"set", "NOPE.dir0", "1"},
       "pemra-cli: unknown register 'NOPE': give a register name or an index from 0 to 31\n"},
      {{"set", "MSC_CTRL", "1"},
       "pemra-cli: 'MSC_CTRL' is not REG.FIELD (for example MSC_CTRL.dr_enable)\n"},
      {{"set", "MSC_CTRL.dr_line", "DI/O3"},
       "pemra-cli: 'DI/O3' is not a value of MSC_CTRL.dr_line: give a number or one of DI/O1, "
       "DI/O2\n"},
      {{"set", "SMPL_PRD.multiplier", "10"},
       "pemra-cli: SMPL_PRD 000A would put the sensor into low-power sampling, which the USB "
       "adapter cannot follow: over the adapter SMPL_PRD stays at 0009 or below\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    std::vector<std::string> args = {"--simulate", "--trace"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(Run(args), 2);
    const auto lines = Lines(err);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back() + "\n", c.message);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.starts_with("spi > B"); }),
              0)
        << err;
    EXPECT_EQ(out, "");
  }
  EXPECT_EQ(rig.Sensor().PeekRegister(0x36), 1);
  EXPECT_EQ(rig.Sensor().PeekRegister(0x34), 6);
}

TEST_F(CliTest, ScriptsTakeSet) {
  ASSERT_EQ(Run({"--simulate", "script", "-"},
                "set MSC_CTRL.self_test on\nset MSC_CTRL.dr_line 1\nread MSC_CTRL\n"),
            0)
      << err;
  EXPECT_EQ(Lines(out).back(), "MSC_CTRL\t0107\t263");
}

struct Faulted {
  int status = 0;
  std::string err;
  uint64_t transfers = 0;
};

// A command on a fresh rig whose failAt-th transfer fails and after which the adapter is
// gone (0: no fault).
Faulted RunWithFault(const std::vector<std::string>& args, const std::string& input,
                     uint64_t failAt) {
  TestClock clock;
  sim::Rig rig{clock};
  Environment env;
  env.clock = &clock;
  env.rig = &rig;
  env.configPath = fs::temp_directory_path() / "pemra-fault-sweep-none.cfg";
  if (failAt > 0) {
    rig.SimUsb().FailNthTransfer(failAt);
    rig.SimUsb().UnplugAfter(failAt);
  }
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  const int status = cli::Run(args, in, out, err, env);
  return {status, err.str(), rig.SimUsb().TransferCount()};
}

TEST(CliFaultSweep, EveryTransferOfEveryCommandFailsCleanly) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--simulate", "read", "ALM_MAG1", "XGYRO_OUT", "STATUS"}, ""},
      {{"--simulate", "write", "ALM_MAG1", "BEEF"}, ""},
      {{"--simulate", "set", "MSC_CTRL.dr_enable", "0"}, ""},
      {{"--simulate", "dump"}, ""},
      {{"--simulate", "script", "-"}, "write ALM_MAG2 12\nread 19\nwait 5\nread 20\n"},
  };
  int runs = 0;
  for (const auto& [args, input] : cases) {
    const Faulted clean = RunWithFault(args, input, 0);
    ASSERT_EQ(clean.status, 0) << args[1] << clean.err;
    for (uint64_t k = 1; k <= clean.transfers; ++k, ++runs) {
      auto run = std::async(std::launch::async, RunWithFault, args, input, k);
      ASSERT_EQ(run.wait_for(std::chrono::seconds(20)), std::future_status::ready)
          << args[1] << " hangs when transfer " << k << " fails";
      const Faulted f = run.get();
      EXPECT_EQ(f.status, 1) << args[1] << " transfer " << k << ": " << f.err;
      EXPECT_FALSE(f.err.empty()) << args[1] << " transfer " << k;
      EXPECT_EQ(f.transfers, k) << args[1] << " went on after transfer " << k << ": " << f.err;
    }
  }
  EXPECT_GT(runs, 40);
  // The write's own exchange: its OUT transfer, then its IN transfer.
  EXPECT_TRUE(RunWithFault(cases[1].first, "", 7).err.starts_with(
      "Error Writing SPI (writing ALM_MAG1: pipe error (injected fault))"));
  EXPECT_TRUE(RunWithFault(cases[1].first, "", 8).err.starts_with(
      "Error Reading SPI (writing ALM_MAG1: pipe error (injected fault))"));
}

}  // namespace
}  // namespace pemra::cli
