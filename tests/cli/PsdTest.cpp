// pemra-cli psd: the CSV spectrum in the C locale, the refusals of bad input, and the closed
// loop: a log of white noise of known spread with a sine in it gives back the noise's level,
// its N and the sine's peak.

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>

#include "cli/CliRun.h"
#include "support/ScratchDir.h"

namespace pemra::cli {
namespace {

namespace fs = std::filesystem;

// 1 + 0.5 (-1)^t at 1 sample per second (time column). In segments of 4 less their mean
// 2/3 (scaled), windowed by 0, 1/2, 1, 1/2: 0, -0.25, 0.5, -0.25, so X1 = -0.5, X2 = 1 and,
// with sum w^2 = 1.5, S(0.25 Hz) = 2 * 0.25 / 1.5 = 1/3, S(0.5 Hz) = 1 / 1.5 = 2/3 (Nyquist
// once): densities 0.5773503 and 0.8164966; DC 0.
const char kAlternating[] =
    "Sample #,Time (sec),X Gryo,\r\n1,0,1.5,\r\n2,1,0.5,\r\n3,2,1.5,\r\n4,3,0.5,\r\n"
    "5,4,1.5,\r\n6,5,0.5,\r\n7,6,1.5,\r\n8,7,0.5,\r\n";

TEST(Psd, PrintsTheSpectrumAsCsv) {
  testing::ScratchDir dir;
  const std::string file = (dir.path() / "ALT_1.csv").string();
  Write(file, kAlternating);
  const Result r = RunCli({"psd", file, "--segment", "4", "--csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "column,frequency_hz,density");
  const double expected[][2] = {{0, 0}, {0.25, 0.5773503}, {0.5, 0.8164966}};
  for (const auto& row : expected) {
    ASSERT_TRUE(std::getline(lines, line));
    ASSERT_TRUE(line.starts_with("X Gryo,")) << line;
    const size_t comma = line.find(',', 7);
    EXPECT_EQ(std::stod(line.substr(7, comma - 7)), row[0]) << line;
    EXPECT_NEAR(std::stod(line.substr(comma + 1)), row[1], 1e-7) << line;
  }
  EXPECT_FALSE(std::getline(lines, line)) << line;
  EXPECT_TRUE(r.err.starts_with("8 samples at 1 samples/s (from the time column); Welch spectrum, "
                                "Hann window: 3 segments of 4 samples with 50% overlap, bins of "
                                "0.25 Hz\nX Gryo:\nflat band                    not determined: "
                                "too few frequency bins (segment 4 samples)\n"))
      << r.err;
}

// The summary in the user's numeric locale (decimal comma), the CSV lines in the C locale's.
TEST(Psd, SummaryInTheNumericLocaleCsvInTheCLocale) {
  testing::ScratchDir dir;
  const std::string file = (dir.path() / "ALT_1.csv").string();
  Write(file, kAlternating);
  const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr)
    GTEST_SKIP() << "no de_DE.UTF-8 locale on this machine";
  const Result text = RunCli({"psd", file, "--segment", "4"}, ',');
  const Result csv = RunCli({"psd", file, "--segment", "4", "--csv"}, ',');
  std::setlocale(LC_NUMERIC, previous.c_str());
  EXPECT_TRUE(text.out.starts_with("8 samples at 1 samples/s (from the time column); Welch "
                                   "spectrum, Hann window: 3 segments of 4 samples with 50% "
                                   "overlap, bins of 0,25 Hz\n"))
      << text.out;
  EXPECT_NE(csv.out.find("\nX Gryo,0.25,0.57735026918962"), std::string::npos) << csv.out;
}

TEST(Psd, BadInputExitsTwoNamingTheFileOrOption) {
  testing::ScratchDir dir;
  const std::string ok = (dir.path() / "ALT_1.csv").string();
  Write(ok, kAlternating);
  Write(dir.path() / "ONE_1.csv", "Sample #,X Gryo,\r\n1,0.5,\r\n");
  std::string huge = "Sample #,X Gryo,\r\n";
  for (int t = 1; t <= 64; ++t) huge += std::to_string(t) + (t % 2 ? ",1.5e300,\r\n" : ",-1.5e300,\r\n");
  Write(dir.path() / "HUGE_1.csv", huge);
  const std::string d = dir.path().string() + "/";
  const std::string segment = "is not a whole number of samples from 2 to 2147483647";
  struct Case {
    std::vector<std::string> args;
    std::string error;  // after "pemra-cli: "
  };
  const std::vector<Case> cases = {
      {{"psd", ok, "--segment", "0"}, "--segment: '0' " + segment},
      {{"psd", ok, "--segment", "1"}, "--segment: '1' " + segment},
      {{"psd", ok, "--segment", "-4"}, "--segment: '-4' " + segment},
      {{"psd", ok, "--segment", "4.5"}, "--segment: '4.5' " + segment},
      {{"psd", ok, "--segment", "abc"}, "--segment: 'abc' " + segment},
      {{"psd", ok, "--segment", "2147483648"}, "--segment: '2147483648' " + segment},
      {{"psd", ok, "--segment", "9"}, ok + ": 8 samples: fewer than one segment of 9 (--segment)"},
      {{"psd", ok, "--rate", "0"}, "--rate: '0' is not a number of samples per second above 0"},
      {{"psd", d + "NONE_1.csv"}, d + "NONE_1.csv: No such file or directory"},
      {{"psd", ok, "--columns", "Z acc"}, ok + ": has no column \"Z acc\""},
      {{"psd", d + "ONE_1.csv", "--rate", "10"},
       d + "ONE_1.csv: 1 samples: the spectrum needs at least 2"},
      // Values whose squares overflow are refused by the reader, before any spectrum.
      {{"psd", d + "HUGE_1.csv", "--rate", "1e-300", "--csv"},
       d + "HUGE_1.csv:2: field 2 \"1.5e300\" is too large to analyse (its square overflows the sums)"},
  };
  for (const Case& c : cases) {
    const Result r = RunCli(c.args);
    EXPECT_EQ(r.status, 2) << c.args[2];
    EXPECT_EQ(r.err, "pemra-cli: " + c.error + "\n");
    EXPECT_EQ(r.out, "");
  }
  // The whole log as one segment, and the shortest segment, are taken.
  EXPECT_EQ(RunCli({"psd", ok, "--segment", "8"}).status, 0);
  EXPECT_EQ(RunCli({"psd", ok, "--segment", "2"}).status, 0);
}

// The closed loop at 100 samples/s, 2^15 samples (two segments of 2^14 and one between):
// X Gryo white noise of 0.2 deg/s: one-sided level 0.2 * sqrt(2/100) = 0.0282843
// deg/s/sqrt(Hz), N = 0.2 / sqrt(100) = 0.02 deg/sqrt(s) = 1.2 deg/sqrt(h); plus a sine of
// 0.2 deg/s at 12.5 Hz (bin 2048 of 16384): S = 0.2^2 * 16384 / 300 + 0.0008 = 2.185333,
// a peak of 1.478287 deg/s/sqrt(Hz), known to some 0.8% (the cross term of sine and noise
// over three segments). X acc white noise of 0.001 g: 1.41421e-4 g/sqrt(Hz),
// N = 1e-4 g sqrt(s) = 1e-4 * 9.80665 * 60 = 0.0588399 m/s/sqrt(h). The levels are known to
// some 0.5%; bounds 2%, the peak's 4%.
TEST(Psd, WhiteNoiseAndASineGiveBackTheirLevelNAndPeak) {
  testing::ScratchDir dir;
  const fs::path file = dir.path() / "NOISE_1.csv";
  {
    std::ofstream out(file, std::ios::binary);
    out << "Sample #,X Gryo,X acc,\r\n";
    std::mt19937_64 generator(11);
    std::normal_distribution<double> normal(0.0, 1.0);
    out.precision(9);
    for (int t = 0; t < 32768; ++t) {
      const double gyro = 0.2 * normal(generator) +
                          0.2 * std::sin(2 * std::numbers::pi * 12.5 * t / 100.0);
      const double accel = 1.0 + 0.001 * normal(generator);
      out << t + 1 << ',' << gyro << ',' << accel << ",\r\n";
    }
  }
  const Result r = RunCli({"psd", file.string(), "--rate", "100"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with("32768 samples at 100 samples/s (from the given); Welch "
                                "spectrum, Hann window: 3 segments of 16384 samples with 50% "
                                "overlap, bins of 0.006103516 Hz\n"))
      << r.out;
  auto value = [&](const std::string& column, const std::string& name) {
    const size_t at = r.out.find("\n" + name, r.out.find("\n" + column + "\n"));
    EXPECT_NE(at, std::string::npos) << name << "\n" << r.out;
    if (at == std::string::npos) return 0.0;
    return std::stod(r.out.substr(at + 30, r.out.find('\n', at + 1) - at - 30));
  };
  EXPECT_NEAR(value("X Gryo", "flat band") / 0.0282843, 1, 0.02) << r.out;
  EXPECT_NEAR(value("X Gryo", "N angle random walk") / 1.2, 1, 0.02) << r.out;
  EXPECT_NEAR(value("X acc", "flat band") / 1.41421e-4, 1, 0.02) << r.out;
  EXPECT_NEAR(value("X acc", "N velocity random walk") / 0.0588399, 1, 0.02) << r.out;
  EXPECT_NE(r.out.find("deg/s/sqrt(Hz) (68%: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" deg/sqrt(h) (sqrt(S/2) of the flat band; 68%: "), std::string::npos);
  EXPECT_NE(r.out.find(" m/s/sqrt(h) (sqrt(S/2) of the flat band; 68%: "), std::string::npos);
  // The sine: the one peak of the gyro; none on the accelerometer.
  const std::string peak = "\npeak                         12.5 Hz: ";
  const size_t at = r.out.find(peak);
  ASSERT_NE(at, std::string::npos) << r.out;
  EXPECT_NEAR(std::stod(r.out.substr(at + peak.size())) / 1.478287, 1, 0.04) << r.out;
  EXPECT_EQ(r.out.find("\npeak ", at + 1), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\npeaks                        none clearly above the floor\n"),
            std::string::npos)
      << r.out;
}

}  // namespace
}  // namespace pemra::cli
