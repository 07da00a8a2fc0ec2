// What an analysis command makes of the files it is given: hostile inputs refused with the
// file, the line and the reason (and never waited on), plain files of numbers read, the
// bounds of the sample rate, and the session rule with and without joining.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "analysis/LogInput.h"
#include "support/ScratchDir.h"

namespace pemra {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

void Write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Header(const std::string& name, const std::string& begin, const std::string& end) {
  return "File Name," + name + "\r\nDate,12/07/26\r\nTime,11:00:21\r\nBegin Seconds," + begin +
         "\r\nEnd Seconds," + end + "\r\n \r\n";
}

// Sample #, Time, XgND, X Gryo: four rows at 0.25 s.
const char kRows[] =
    "Sample #,Time (sec),XgND,X Gryo,\r\n1,0,1,0.5,\r\n2,0.25,1,0.25,\r\n3,0.5,1,1,\r\n"
    "4,0.75,1,2,\r\n";

std::string EightRows() {
  std::string text = "Sample #,X Gryo,\r\n";
  for (int i = 1; i <= 8; ++i) text += std::to_string(i) + ",0.5,\r\n";
  return text;
}

TEST(LogInput, RefusesHostileInputsWithTheFileLineAndReason) {
  ScratchDir dir;
  const fs::path d = dir.path();
  ASSERT_EQ(::mkfifo((d / "FIFO_1.csv").c_str(), 0600), 0);
  fs::create_directory(d / "DIR_1.csv");
  Write(d / "OK_1.csv", kRows);
  Write(d / "LONG_1.csv", EightRows() + std::string((16u << 20) + 2, '1'));
  // Short rows, then 1 TiB of zeros with no line end: the size promises 10^11 rows.
  std::string rows = "Sample #,X Gryo,\r\n";
  for (int i = 1; i <= 200000; ++i) rows += std::to_string(i) + ",0.5,\r\n";
  Write(d / "SPARSE_1.csv", rows);
  std::error_code sparse;
  fs::resize_file(d / "SPARSE_1.csv", uint64_t{1} << 40, sparse);
  Write(d / "HUGE_1.csv", std::string(kRows) + "5,1,1,1e151,\r\n");
  Write(d / "FAST_1.csv", Header("FAST_1.csv", "1", "1.0000000001") + kRows);
  Write(d / "SLOW_1.csv", "Sample #,Time (sec),X Gryo,\r\n1,0,1,\r\n2,1e300,1,\r\n3,2e300,1,\r\n");
  struct Case {
    const char* file;
    std::vector<std::string> columns;
    std::optional<double> rate;
    std::string error;  // after the file's path; empty: read
  };
  const std::vector<Case> cases = {
      {"FIFO_1.csv", {}, {}, ": is a FIFO, not a regular file: not read"},
      {"DIR_1.csv", {}, {}, ": is a directory, not a data log"},
      {"LONG_1.csv", {}, {}, ":10: a line longer than 16 MiB"},
      {"SPARSE_1.csv", {}, {}, ":200002: a line longer than 16 MiB"},
      {"OK_1.csv", {"1"}, {}, ": column 1 (\"Sample #\") holds the sample number, no values to analyse"},
      {"OK_1.csv", {"XgND"}, {}, ": column 3 (\"XgND\") holds a new-data flag, no values to analyse"},
      {"OK_1.csv", {"x gyro", "time (sec)"}, {}, ": column 2 (\"Time (sec)\") holds the time, no values to analyse"},
      {"OK_1.csv", {"0"}, {}, ": has no column 0 (it has 4)"},
      {"OK_1.csv", {"5"}, {}, ": has no column 5 (it has 4)"},
      {"HUGE_1.csv", {}, {}, ":6: field 4 \"1e151\" is too large to analyse (its square overflows the sums)"},
      {"FAST_1.csv", {}, {}, ": the header's times give 4e+10 samples per second, outside 0.001 to 1e+06: give the rate"},
      {"FAST_1.csv", {}, 5e-324, ": the rate given is 4.94066e-324 samples per second, outside 0.001 to 1e+06"},
      {"FAST_1.csv", {}, 1000001, ": the rate given is 1e+06 samples per second, outside 0.001 to 1e+06"},
      {"FAST_1.csv", {}, 0.000999, ": the rate given is 0.000999 samples per second, outside 0.001 to 1e+06"},
      {"FAST_1.csv", {}, 1e6, ""},
      {"FAST_1.csv", {}, 1e-3, ""},
      {"SLOW_1.csv", {}, {}, ": the time column gives 1e-300 samples per second, outside 0.001 to 1e+06: give the rate"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.error);
    if (std::string(c.file) == "SPARSE_1.csv" && sparse) continue;  // no sparse files here
    LogInputOptions options;
    options.files = {d / c.file};
    options.columns = c.columns;
    options.rate = c.rate;
    LogInput input;
    const auto error = ReadLogInput(options, input);
    if (c.error.empty()) {
      EXPECT_FALSE(error) << error->Text();
      EXPECT_EQ(input.series.values, (std::vector<std::vector<double>>{{0.5, 0.25, 1, 2}}));
    } else if (!error) {
      ADD_FAILURE() << "read without an error";
    } else {
      EXPECT_EQ(error->Text(), (d / c.file).string() + c.error);
      EXPECT_FALSE(error->session);
    }
  }
}

TEST(LogInput, ReadsPlainFilesOfNumbers) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> columns;
    std::optional<double> rate;
    std::vector<std::string> titles;
    std::vector<std::vector<double>> values;
    double samplesPerSecond;
  };
  const std::vector<Case> cases = {
      {"one column, no names", "0.5\n0.25\n-1e-3\n", {}, 10, {""}, {{0.5, 0.25, -0.001}}, 10},
      {"TAB with names and a time column", "time\tgx\tgy\n0\t0.1\t0.2\n0.5\t0.3\t0.4\n1\t0.5\t0.6\n",
       {}, {}, {"time", "gx", "gy"}, {{0.1, 0.3, 0.5}, {0.2, 0.4, 0.6}}, 2},
      {"TAB, period decimals, no names", "1.5\t2\r\n2.5\t3\r\n", {}, 1, {"", ""},
       {{1.5, 2.5}, {2, 3}}, 1},
      {"semicolons, comma decimals, names", "a;b\r\n0,5;1,5\r\n0,25;1,25\r\n", {"b", "1"}, 1,
       {"a", "b"}, {{1.5, 1.25}, {0.5, 0.25}}, 1},
      {"runs of spaces, last line without its end", "  1.5   2.5\n  3.5   4.5\n 5 6", {"2"}, 1,
       {"", ""}, {{2.5, 4.5, 6}}, 1},
      {"commas with names, spaces around fields", "x, y\n1, 2\n3 ,4\n", {"Y"}, 4, {"x", "y"},
       {{2, 4}}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    Write(dir.path() / "data.txt", c.text);
    LogInputOptions options;
    options.files = {dir.path() / "data.txt"};
    options.columns = c.columns;
    options.rate = c.rate;
    LogInput input;
    const auto error = ReadLogInput(options, input);
    ASSERT_FALSE(error) << error->Text();
    EXPECT_TRUE(input.layout.plain);
    std::vector<std::string> titles;
    for (const LogColumn& column : input.layout.columns) titles.push_back(column.title);
    EXPECT_EQ(titles, c.titles);
    EXPECT_EQ(input.series.values, c.values);
    EXPECT_DOUBLE_EQ(input.rate.samplesPerSecond, c.samplesPerSecond);
  }
  ScratchDir dir;
  Write(dir.path() / "data.txt", "1 2\n3 4\n");
  LogInput input;
  LogInputOptions options;
  options.files = {dir.path() / "data.txt"};
  const auto error = ReadLogInput(options, input);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->Text(), (dir.path() / "data.txt").string() +
                               ": tells no sample rate (no header and no time column): give the rate");
}

TEST(LogInput, JoinsOnlyOneSessionsFilesThatFollowOnUnlessAskedTo) {
  // Four rows a file: 4 samples per second over the two seconds of two files, so a file may
  // begin up to 4 periods (1 s) + 2 x 0.0001 s of header rounding + 0.05 s after the other.
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // name, text
    std::string error;  // after the second file's path, without joining; empty: joined
    std::string gap;    // the gap's reason when joining
  };
  const std::string r = kRows;
  const std::vector<Case> cases = {
      {"one session", {{"S_1.csv", Header("S_1.csv", "100", "101") + r},
                       {"S_2.csv", Header("S_2.csv", "102.05", "103.05") + r}}, "", ""},
      {"just too late", {{"S_1.csv", Header("S_1.csv", "100", "101") + r},
                         {"S_2.csv", Header("S_2.csv", "102.06", "103.06") + r}},
       ": begins 1.06 s after S_1.csv ends: not one session", "begins 1.06 s after S_1.csv ends"},
      {"two runs", {{"S_1.csv", Header("S_1.csv", "100", "101") + r},
                    {"S_2.csv", Header("S_2.csv", "199", "200") + r}},
       ": begins 98 s after S_1.csv ends: not one session", "begins 98 s after S_1.csv ends"},
      {"overlapping", {{"S_1.csv", Header("S_1.csv", "100", "101") + r},
                       {"S_2.csv", Header("S_2.csv", "99", "100") + r}},
       ": begins 2 s before S_1.csv ends: not one session", "begins 2 s before S_1.csv ends"},
      {"over midnight", {{"S_1.csv", Header("S_1.csv", "86398.5", "86399.5") + r},
                         {"S_2.csv", Header("S_2.csv", "0", "1") + r}}, "", ""},
      {"a file missing", {{"S_1.csv", Header("S_1.csv", "100", "101") + r},
                          {"S_3.csv", Header("S_3.csv", "107", "108") + r}},
       ": follows S_1.csv with 1 file(s) of the session missing between them: not one session",
       "follows S_1.csv with 1 file(s) of the session missing between them"},
      {"two bases", {{"A_1.csv", Header("A_1.csv", "100", "101") + r},
                     {"B_2.csv", Header("B_2.csv", "101", "102") + r}},
       ": is not the file after A_1.csv in one session (by their names)", ""},
      {"no header", {{"S_1.csv", r}, {"S_2.csv", r}},
       ": has no header times that show it follows on from S_1.csv: not one session",
       "has no header times that show it follows on from S_1.csv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    LogInputOptions options;
    for (const auto& [name, text] : c.files) {
      Write(dir.path() / name, text);
      options.files.push_back(dir.path() / name);
    }
    LogInput input;
    const auto error = ReadLogInput(options, input);
    if (c.error.empty()) {
      EXPECT_FALSE(error) << error->Text();
      EXPECT_TRUE(input.gaps.empty());
      EXPECT_EQ(input.series.Rows(), 8);
      continue;
    }
    if (!error) {
      ADD_FAILURE() << "joined without a word";
      continue;
    }
    EXPECT_TRUE(error->session);
    const std::string second = options.files[1].string();
    if (c.gap.empty()) {
      EXPECT_EQ(error->Text(), second + c.error + ": not one session");
      continue;
    }
    EXPECT_EQ(error->Text(), second + c.error);
    options.join = true;
    EXPECT_FALSE(ReadLogInput(options, input));
    if (input.gaps.size() != 1u) {
      ADD_FAILURE() << input.gaps.size() << " gaps";
      continue;
    }
    EXPECT_EQ(input.gaps[0].file, 1u);
    EXPECT_EQ(input.gaps[0].firstRow, 4);
    EXPECT_EQ(input.gaps[0].reason, c.gap);
    EXPECT_EQ(input.warnings.back(), second + ": " + c.gap + ": a gap in the series");
    EXPECT_EQ(input.series.values[0], (std::vector<double>{0.5, 0.25, 1, 2, 0.5, 0.25, 1, 2}));
  }
  // The same file twice is never one series, joined or not.
  ScratchDir dir;
  Write(dir.path() / "S_1.csv", Header("S_1.csv", "100", "101") + r);
  fs::create_hard_link(dir.path() / "S_1.csv", dir.path() / "S_2.csv");
  for (bool join : {false, true}) {
    LogInput input;
    LogInputOptions options;
    options.files = {dir.path() / "S_1.csv", dir.path() / "S_2.csv"};
    options.join = join;
    const auto error = ReadLogInput(options, input);
    if (!error) {
      ADD_FAILURE() << "the same file read twice";
      continue;
    }
    EXPECT_EQ(error->Text(), (dir.path() / "S_2.csv").string() + ": is " +
                                 (dir.path() / "S_1.csv").string() + " again: one file given twice");
  }
}

}  // namespace
}  // namespace pemra
