// The log reader on every variant of the files the program writes, written out byte for
// byte, and on the files the logging engine itself writes with every combination of its
// settings; the errors name the file and the line.

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstdio>
#include <fstream>

#include "analysis/LogReader.h"
#include "support/ScratchDir.h"
#include "datalog/DatalogTestSupport.h"

namespace pemra {
namespace {

using testing::ScratchDir;

void Write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

struct Read {
  std::optional<LogError> error;
  LogLayout layout;
  LogSeries series;
};

Read ReadFiles(const std::vector<std::filesystem::path>& files,
               const std::vector<std::string>& names, const ReadControl& control = {}) {
  Read r;
  r.error = InspectLog(files, r.layout);
  if (r.error) return r;
  std::vector<int> columns;
  r.error = ChooseColumns(r.layout, names, columns);
  if (r.error) return r;
  r.error = ReadLog(r.layout, columns, control, r.series);
  return r;
}

const char kHeaderCsv[] =
    "File Name,DATALOG_1.csv\r\nDate,12/07/26\r\nTime,11:00:21\r\n"
    "Begin Seconds,39621.21\r\nEnd Seconds,39621.71\r\n \r\n";

struct Variant {
  const char* name;
  const char* file;
  std::string text;
  std::vector<std::string> columns;
  // Expected: titles of all columns, units of the chosen ones, the values per chosen column.
  std::vector<std::string> titles;
  std::vector<std::string> units;
  std::vector<std::vector<double>> values;
  std::optional<double> beginSeconds;
};

TEST(LogReader, ReadsEveryVariantOfTheFiles) {
  const std::vector<Variant> variants = {
      {"csv, header, time, new-data flags",
       "DATALOG_1.csv",
       std::string(kHeaderCsv) +
           "Sample #,Time (sec),PvND,Power V,XgND,X Gryo,XtND,X Temp,\r\n"
           "1,0,1,5.001826,1,1.17216,1,24.8547,\r\n"
           "2,0.1015625,1,4.999995,1,10.69596,1,25,\r\n"
           "3,0.203125,0,5.001826,1,-1E-05,1,25,\r\n",
       {"X Gyro", "Power V"},
       {"Sample #", "Time (sec)", "PvND", "Power V", "XgND", "X Gryo", "XtND", "X Temp"},
       {"deg/s", "V"},
       {{1.17216, 10.69596, -1e-5}, {5.001826, 4.999995, 5.001826}},
       39621.21},
      {"txt, TAB, decimal commas, header",
       "DATALOG_1.txt",
       "File Name\tDATALOG_1.txt\r\nDate\t12.07.26\r\nTime\t11:00:21\r\n"
       "Begin Seconds\t39621,21\r\nEnd Seconds\t39621,71\r\n \r\n"
       "Sample #\tXaND\tX acc\tYaND\tY acc\tZaND\tZ acc\t\r\n"
       "1\t1\t0,0302\t1\t-0,02018\t1\t1,049152\t\r\n"
       "2\t1\t0,02522\t1\t-0,0227\t1\t1,04411\t\r\n",
       {"z acc", "X ACC"},
       {"Sample #", "XaND", "X acc", "YaND", "Y acc", "ZaND", "Z acc"},
       {"g", "g"},
       {{1.049152, 1.04411}, {0.0302, 0.02522}},
       39621.21},
      {"csv without header, by position",
       "DATALOG_1.csv",
       "1,1,1.17216,1,-2.3,\r\n2,1,10.69596,1,1.2E+07,\r\n",
       {"3", "5"},
       {"", "", "", "", ""},
       {"", ""},
       {{1.17216, 10.69596}, {-2.3, 1.2e7}},
       std::nullopt},
      {"no new-data flags, no time, raw values, register names",
       "RAW_1.csv",
       std::string(kHeaderCsv) + "Sample #,X Gryo,Y Gyro,Z Gyro,YTEMP_OUT,\r\n"
                                 "1,16,-3,8191,-2048,\r\n2,146,-8192,0,2047,\r\n",
       {"ZGYRO_OUT", "ytemp_out", "xgyro_out"},
       {"Sample #", "X Gryo", "Y Gyro", "Z Gyro", "YTEMP_OUT"},
       {"deg/s", "degC", "deg/s"},
       {{8191, 0}, {-2048, 2047}, {16, 146}},
       39621.21},
      {"model with angle outputs, lines ending in LF only",
       "ANGLE_1.csv",
       "Sample #,pitchND,Pitch_OUT,rollND,Roll_OUT,\n1,1,1.5,1,-0.25,\n",
       {"Pitch_OUT", "5"},
       {"Sample #", "pitchND", "Pitch_OUT", "rollND", "Roll_OUT"},
       {"deg", "deg"},
       {{1.5}, {-0.25}},
       std::nullopt},
  };
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.name);
    ScratchDir dir;
    Write(dir.path() / v.file, v.text);
    const Read r = ReadFiles({dir.path() / v.file}, v.columns);
    ASSERT_FALSE(r.error) << r.error->Text();
    std::vector<std::string> titles;
    for (const LogColumn& c : r.layout.columns) titles.push_back(c.title);
    EXPECT_EQ(titles, v.titles);
    std::vector<std::string> units;
    for (int c : r.series.columns) units.push_back(r.layout.columns[static_cast<size_t>(c)].unit);
    EXPECT_EQ(units, v.units);
    EXPECT_EQ(r.series.values, v.values);
    EXPECT_EQ(r.layout.files.front().beginSeconds, v.beginSeconds);
  }
}

TEST(LogReader, ReadsTheFilesOfASessionInNumberOrderAsOneSeries) {
  ScratchDir dir;
  const std::string titles = "Sample #,Time (sec),XgND,X Gryo,\r\n";
  Write(dir.path() / "RUN_1.csv", titles + "1,0,1,1,\r\n2,0.5,1,2,\r\n");
  Write(dir.path() / "RUN_2.csv", titles + "1,0,1,3,\r\n");
  Write(dir.path() / "RUN_10.csv", titles + "1,0,1,4,\r\n2,0.5,0,5,\r\n");
  const Read r = ReadFiles({dir.path() / "RUN_10.csv", dir.path() / "RUN_2.csv",
                            dir.path() / "RUN_1.csv"},
                           {});  // default: the gyro and accelerometer columns
  ASSERT_FALSE(r.error) << r.error->Text();
  ASSERT_EQ(r.series.values.size(), 1u);
  EXPECT_EQ(r.series.values[0], (std::vector<double>{1, 2, 3, 4, 5}));
  ASSERT_EQ(r.series.files.size(), 3u);
  EXPECT_EQ(r.series.files[2].rows, 2);
  EXPECT_EQ(r.series.newDataZeros, (std::vector<int64_t>{0, 0, 1, 0}));
  EXPECT_EQ(r.series.wholeNumbers, std::vector<bool>{true});
  // BASE_1 .. BASE_k as long as they exist: RUN_10 is not reached.
  EXPECT_EQ(SessionFiles(dir.path() / "RUN_2.csv"),
            (std::vector<std::filesystem::path>{dir.path() / "RUN_1.csv", dir.path() / "RUN_2.csv"}));
}

TEST(LogReader, NamesTheFileAndLineOfEveryMalformedLine) {
  struct Case {
    const char* text;
    std::vector<std::string> columns;
    std::string error;  // after "<dir>/F_1.csv"
  };
  const std::string titles = "Sample #,XgND,X Gryo,\r\n";
  const std::vector<Case> cases = {
      {"Sample #,XgND,X Gryo,\r\n1,1,0.5,\r\n2,1,0.5,7,\r\n", {}, ":3: more than 3 fields"},
      {"Sample #,XgND,X Gryo,\r\n1,1,0.5,\r\n2,1,\r\n", {}, ":3: 2 fields where the columns are 3"},
      {"Sample #,XgND,X Gryo,\r\n1,1,0.5x,\r\n", {}, ":2: field 3 \"0.5x\" is not a number"},
      {"Sample #,XgND,X Gryo,\r\n1,1,nan,\r\n", {}, ":2: field 3 \"nan\" is not a number"},
      {"Sample #,XgND,X Gryo,\r\n1,1,1,\r\n3,1,1,\r\n", {}, ":3: sample number 3 where 2 was due"},
      {"Sample #,XgND,X Gryo,\r\n1,1,1,\r\n\r\n2,1,1,\r\n", {}, ":3: empty line"},
      {"Sample #,XgND,X Gryo,\r\n1,1,1,\r\n2,1,1", {}, ":3: the last line is incomplete (no line end)"},
      {"Sample #,XgND,X Gryo,\r\n", {}, ": holds no rows"},
      {"", {}, ": is empty: no rows to read"},
      {"[Interface]\nType=2\n", {}, ":1: is not a data log of this program (a line starts \"[Interface]\")"},
      {"File Name,F_1.csv\r\nDate,1\r\n", {}, ": has a header block but no title line (\"Sample #\")"},
      {"File Name,F_1.csv\r\nBegin Seconds,x\r\n", {}, ":2: \"Begin Seconds,x\" is not a number of seconds"},
      {"Sample #,XgND,X Gryo,\r\n1,1,1,\r\n", {"Y Gyro"}, ": has no column \"Y Gyro\""},
      {"Sample #,XgND,X Gryo,\r\n1,1,1,\r\n", {"4"}, ": has no column 4 (it has 3)"},
      {"Sample #,PvND,Power V,\r\n1,1,1,\r\n", {}, ": has no gyro or accelerometer column: name the columns"},
      {"1,1,1,\r\n", {}, ": has no title line: choose the columns by position"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ScratchDir dir;
    Write(dir.path() / "F_1.csv", c.text);
    const Read r = ReadFiles({dir.path() / "F_1.csv"}, c.columns);
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->Text(), (dir.path() / "F_1.csv").string() + c.error);
  }
  ScratchDir dir;
  const Read missing = ReadFiles({dir.path() / "NONE_1.csv"}, {});
  ASSERT_TRUE(missing.error);
  EXPECT_EQ(missing.error->Text(), (dir.path() / "NONE_1.csv").string() + ": No such file or directory");
  Write(dir.path() / "A_1.csv", "Sample #,XgND,X Gryo,\r\n1,1,1,\r\n");
  Write(dir.path() / "A_2.csv", "Sample #,X Gryo,\r\n1,1,\r\n");
  const Read mixed = ReadFiles({dir.path() / "A_1.csv", dir.path() / "A_2.csv"}, {});
  ASSERT_TRUE(mixed.error);
  EXPECT_EQ(mixed.error->Text(), (dir.path() / "A_2.csv").string() + ":1: has other columns than " +
                                     (dir.path() / "A_1.csv").string());
}

// Every value is the double nearest to its text, bit for bit (the sign of a zero too),
// whether the text is a short plain decimal or needs the general parser (more than 15
// digits, an exponent, a point at either end).
TEST(LogReader, ReadsEachValueAsTheNearestDouble) {
  struct Case {
    const char* text;
    double value;
  };
  const std::vector<Case> cases = {
      {"0.3", 0.3},  // 3 times the double nearest 0.1 is 0.30000000000000004
      {"-0.1", -0.1},
      {"0.0069", 0.0069},
      {"-1.2345678", -1.2345678},
      {"25.37012", 25.37012},
      {"7", 7},
      {"007.50", 7.5},
      {"-0", -0.0},
      {"0.000", 0},
      {"123456789.012345", 123456789.012345},          // 15 digits
      {"0.1234567890123456", 0.1234567890123456},      // 16 digits
      {"9007199254740993", 9007199254740992},          // 2^53 + 1: ties to even
      {"-1234567890123456789.5", -1234567890123456789.5},
      {"1e3", 1000},
      {"-2.5E-3", -0.0025},
      {".5", 0.5},
      {"5.", 5},
  };
  std::string text = "Sample #,X Gryo,\r\n";
  for (size_t i = 0; i < cases.size(); ++i)
    text += std::to_string(i + 1) + "," + cases[i].text + ",\r\n";
  ScratchDir dir;
  Write(dir.path() / "N_1.csv", text);
  const Read r = ReadFiles({dir.path() / "N_1.csv"}, {"X Gryo"});
  ASSERT_FALSE(r.error) << r.error->Text();
  ASSERT_EQ(r.series.values.size(), 1u);
  ASSERT_EQ(r.series.values[0].size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i)
    EXPECT_EQ(std::bit_cast<uint64_t>(r.series.values[0][i]), std::bit_cast<uint64_t>(cases[i].value))
        << cases[i].text << " read as " << r.series.values[0][i];
}

TEST(LogReader, ReportsProgressAndStopsWhenCancelled) {
  ScratchDir dir;
  std::string text = "Sample #,X Gryo,\r\n";
  for (int i = 1; i <= 300000; ++i) text += std::to_string(i) + ",0.25,\r\n";
  Write(dir.path() / "BIG_1.csv", text);
  for (int threads : {1, 2}) {  // in order, and in two stretches of two buffers each
    SCOPED_TRACE(threads);
    std::vector<std::pair<uint64_t, uint64_t>> calls;
    std::atomic<bool> cancel{false};
    ReadControl control{[&](uint64_t done, uint64_t total) { calls.emplace_back(done, total); },
                        &cancel, threads};
    Read r = ReadFiles({dir.path() / "BIG_1.csv"}, {}, control);
    ASSERT_FALSE(r.error) << r.error->Text();
    EXPECT_EQ(r.series.Rows(), 300000);
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls.back(), std::make_pair(uint64_t(text.size()), uint64_t(text.size())));
    EXPECT_LT(calls.front().first, calls.back().first);

    control.progress = [&](uint64_t, uint64_t) { cancel = true; };
    r = ReadFiles({dir.path() / "BIG_1.csv"}, {}, control);
    ASSERT_TRUE(r.error);
    EXPECT_TRUE(r.error->cancelled);
    EXPECT_LT(r.series.values[0].size(), 300000u);
  }
}

// A file parsed by several threads, each a stretch of whole lines, gives the rows, values,
// flags and times one thread gives, and a malformed line anywhere is named at its own line.
TEST(LogReader, ReadsAFileInStretchesOnSeveralThreadsAsInOrder) {
  // 400 rows: time (r - 1) / 2 s, the flag 1 on odd rows, the value r / 4, after the header
  // block (6 lines) and the title line; row r is line r + 7.
  std::string rows;
  for (int r = 1; r <= 400; ++r)
    rows += std::to_string(r) + "," + std::to_string((r - 1) / 2) + ((r - 1) % 2 ? ".5" : "") +
            "," + std::to_string(r % 2) + "," + std::to_string(r / 4) +
            (r % 4 ? (r % 4 == 1 ? ".25" : r % 4 == 2 ? ".5" : ".75") : "") + ",\r\n";
  const std::string head = std::string(kHeaderCsv) + "Sample #,Time (sec),XgND,X Gryo,\r\n";
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = head + rows;
    const size_t at = text.find(from);
    return text.replace(at, from.size(), to);
  };
  struct Case {
    const char* name;
    std::string text;
    std::string error;  // after "<dir>/F_1.csv"; empty: read
  };
  const std::vector<Case> cases = {
      {"whole", head + rows, ""},
      {"sample number off in the middle", replaced("\r\n251,", "\r\n252,"),
       ":258: sample number 252 where 251 was due"},
      {"sample number off on the last row", replaced("\r\n400,", "\r\n401,"),
       ":407: sample number 401 where 400 was due"},
      {"empty line late in the file", replaced("\r\n390,", "\r\n\r\n390,"), ":397: empty line"},
      {"field not a number on row 3", replaced("\r\n3,1,1,0.75,", "\r\n3,1,1,0.7x5,"),
       ":10: field 4 \"0.7x5\" is not a number"},
      {"more fields on row 399", replaced("\r\n399,199,1,99.75,", "\r\n399,199,1,99.75,1,"),
       ":406: more than 4 fields"},
      {"last line cut short", (head + rows).substr(0, (head + rows).size() - 2),
       ":407: the last line is incomplete (no line end)"},
  };
  for (const Case& c : cases) {
    for (int threads : {1, 2, 3, 7, 64}) {
      SCOPED_TRACE(std::string(c.name) + ", threads " + std::to_string(threads));
      ScratchDir dir;
      Write(dir.path() / "F_1.csv", c.text);
      ReadControl control;
      control.threads = threads;
      const Read r = ReadFiles({dir.path() / "F_1.csv"}, {}, control);
      if (!c.error.empty()) {
        ASSERT_TRUE(r.error);
        EXPECT_EQ(r.error->Text(), (dir.path() / "F_1.csv").string() + c.error);
        continue;
      }
      ASSERT_FALSE(r.error) << r.error->Text();
      ASSERT_EQ(r.series.files.size(), 1u);
      EXPECT_EQ(r.series.files[0].rows, 400);
      EXPECT_EQ(r.series.files[0].firstTime, 0.0);
      EXPECT_EQ(r.series.files[0].lastTime, 199.5);
      EXPECT_EQ(r.series.newDataZeros, (std::vector<int64_t>{0, 0, 200, 0}));
      EXPECT_EQ(r.series.wholeNumbers, std::vector<bool>{false});
      ASSERT_EQ(r.series.values.size(), 1u);
      ASSERT_EQ(r.series.values[0].size(), 400u);
      double sum = 0;
      for (size_t i = 0; i < 400; ++i) {
        sum += r.series.values[0][i];
        if (r.series.values[0][i] != 0.25 * static_cast<double>(i + 1))
          ADD_FAILURE() << "row " << i + 1 << ": " << r.series.values[0][i];
      }
      EXPECT_EQ(sum, 20050.0);  // (1 + ... + 400) / 4
    }
  }
  // Rows of 10 bytes after a title line of 18: two threads split the file at row 101 (the
  // first line start after byte 1008), whose parser takes its first sample number as it
  // stands; numbers that skip one exactly there are still found.
  {
    std::string text = "Sample #,X Gryo,\r\n";
    char row[16];
    for (int r = 1; r <= 200; ++r) {
      std::snprintf(row, sizeof row, "%03d,1.5,\r\n", r <= 100 ? r : r + 1);
      text += row;
    }
    ASSERT_EQ(text.size(), 2018u);
    for (int threads : {1, 2}) {
      ScratchDir dir;
      Write(dir.path() / "S_1.csv", text);
      ReadControl control;
      control.threads = threads;
      const Read r = ReadFiles({dir.path() / "S_1.csv"}, {}, control);
      ASSERT_TRUE(r.error) << threads;
      EXPECT_EQ(r.error->Text(),
                (dir.path() / "S_1.csv").string() + ":102: sample number 102 where 101 was due");
    }
  }
  // A plain file of numbers may end without a line end; the stretches join all the same.
  std::string plain = "t;a\n";
  for (int r = 0; r < 300; ++r) plain += std::to_string(r) + ";" + std::to_string(r % 7) + "\n";
  plain += "300;9";
  for (int threads : {1, 4}) {
    ScratchDir dir;
    Write(dir.path() / "P.txt", plain);
    ReadControl control;
    control.threads = threads;
    const Read r = ReadFiles({dir.path() / "P.txt"}, {"a"}, control);
    ASSERT_FALSE(r.error) << r.error->Text();
    ASSERT_EQ(r.series.values[0].size(), 301u);
    EXPECT_EQ(r.series.values[0][299], 5.0);  // 299 % 7
    EXPECT_EQ(r.series.values[0][300], 9.0);
    EXPECT_EQ(r.series.files[0].lastTime, 300.0);
    EXPECT_EQ(r.series.wholeNumbers, std::vector<bool>{true});
  }
}

// The engine's own files, every combination of its settings, read back whole.
TEST(LogReader, ReadsWhatTheLoggingEngineWrites) {
  for (int bits = 0; bits < 32; ++bits) {
    const bool comma = bits & 1, time = bits & 2, noNd = bits & 4, raw = bits & 8,
               noHeader = bits & 16;
    SCOPED_TRACE(bits);
    testing::LogRig r;
    r.frontEnd.settings.samplesPerFile = 4;
    r.frontEnd.settings.filesPerSession = 2;
    r.frontEnd.settings.time = time;
    r.frontEnd.settings.disableNewData = noNd;
    r.frontEnd.settings.noScale = raw;
    r.frontEnd.settings.noHeader = noHeader;
    for (int k : {2, 5, 9}) r.frontEnd.settings.channels[static_cast<size_t>(k)] = true;
    r.Run(comma ? ',' : '.');
    const std::string ext = comma ? ".txt" : ".csv";
    const Read read = ReadFiles({r.dir / ("DATALOG_2" + ext), r.dir / ("DATALOG_1" + ext)},
                                noHeader ? std::vector<std::string>{"2", "3"}
                                         : std::vector<std::string>{"X Gyro", "X acc", "YTEMP_OUT"});
    ASSERT_FALSE(read.error) << read.error->Text();
    EXPECT_EQ(read.series.Rows(), 8);
    EXPECT_EQ(read.layout.columns.size(), 1u + time + 3u * (noNd ? 1 : 2));
    EXPECT_EQ(read.layout.TimeColumn(), noHeader ? -1 : (time ? 1 : -1));
    if (raw) {
      EXPECT_EQ(read.series.wholeNumbers, std::vector<bool>(read.series.columns.size(), true));
    }
    EXPECT_EQ(read.layout.files[1].header, !noHeader);
  }
}

}  // namespace
}  // namespace pemra
