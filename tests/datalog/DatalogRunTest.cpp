// Logging runs on the simulated sensor showing its test pattern (each output holds its
// sample number): the exact bytes of the files, the ways a run ends, and the spool.

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <csignal>

#include "DatalogTestSupport.h"
#include "datalog/SpooledFile.h"

namespace pemra::testing {
namespace {

namespace fs = std::filesystem;

// A sample every 2.45 ms: the pattern moves on by two samples of 1.2207 ms each.
void ThreeChannels(LogSettings& s) {
  s.sampleDelayMs = 2.45;
  s.channels[1] = s.channels[2] = s.channels[8] = true;
}

TEST(DatalogRun, TwoFilesOfThreeSamplesWithHeaderTimeAndFlags) {
  LogRig r;
  LogSettings& s = r.frontEnd.settings;
  ThreeChannels(s);
  s.filesPerSession = 2;
  s.samplesPerFile = 3;
  s.time = true;
  const LogResult result = r.Run();
  EXPECT_EQ(result.end, LogEnd::Completed);
  EXPECT_EQ(result.filesCompleted, 2);
  EXPECT_EQ(result.rowsWritten, 6);
  // Seconds since midnight are single precision: at 10:00 they step by 1/256 s.
  EXPECT_EQ(r.File("DATALOG_1.csv"),
            "File Name,DATALOG_1.csv\r\nDate,12/7/2026\r\nTime,10:00:01\r\n"
            "Begin Seconds,36000\r\nEnd Seconds,36000.01\r\n \r\n"
            "Sample #,Time (sec),PvND,Power V,XgND,X Gryo,XtND,X Temp,\r\n"
            "1,0,1,0,1,0,1,25,\r\n"
            "2,0.00390625,1,0.003663,1,0.14652,1,25.2906,\r\n"
            "3,0.00390625,1,0.007326,1,0.29304,1,25.5812,\r\n");
  EXPECT_EQ(r.File("DATALOG_2.csv"),
            "File Name,DATALOG_2.csv\r\nDate,12/7/2026\r\nTime,10:00:01\r\n"
            "Begin Seconds,36000.01\r\nEnd Seconds,36000.02\r\n \r\n"
            "Sample #,Time (sec),PvND,Power V,XgND,X Gryo,XtND,X Temp,\r\n"
            "1,0,1,0.010989,1,0.43956,1,25.8718,\r\n"
            "2,0.00390625,1,0.014652,1,0.58608,1,26.1624,\r\n"
            "3,0.00390625,1,0.018315,1,0.7326,1,26.453,\r\n");
  EXPECT_EQ(r.frontEnd.started, (std::vector<int64_t>{1, 2}));
  EXPECT_EQ(FileNames(r.dir), (std::vector<std::string>{"DATALOG_1.csv", "DATALOG_2.csv"}));
  EXPECT_TRUE(r.messages.messages.empty());
}

// Rows of one file of two samples under the format settings and the locale.
struct FormatCase {
  const char* name;
  bool noHeader, disableNewData, noScale;
  char decimalSeparator;
  const char* fileName;
  const char* rows;  // the file after its header block (the whole file without one)
};

TEST(DatalogRun, FormatSettingsAndLocale) {
  const FormatCase cases[] = {
      {"no header", true, false, false, '.', "DATALOG_1.csv",
       "1,1,0,1,0,1,25,\r\n2,1,0.003663,1,0.14652,1,25.2906,\r\n"},
      {"raw without flags", false, true, true, '.', "DATALOG_1.csv",
       "Sample #,Power V,X Gryo,X Temp,\r\n1,0,0,0,\r\n2,2,2,2,\r\n"},
      {"decimal comma", false, false, false, ',', "DATALOG_1.txt",
       "Sample #\tPvND\tPower V\tXgND\tX Gryo\tXtND\tX Temp\t\r\n"
       "1\t1\t0\t1\t0\t1\t25\t\r\n2\t1\t0,003663\t1\t0,14652\t1\t25,2906\t\r\n"},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.name);
    LogRig r;
    LogSettings& s = r.frontEnd.settings;
    ThreeChannels(s);
    s.samplesPerFile = 2;
    s.noHeader = c.noHeader;
    s.disableNewData = c.disableNewData;
    s.noScale = c.noScale;
    EXPECT_EQ(r.Run(c.decimalSeparator).end, LogEnd::Completed);
    std::string text = r.File(c.fileName);
    if (!c.noHeader) {
      ASSERT_TRUE(text.starts_with(std::string("File Name") + (c.decimalSeparator == ',' ? '\t' : ',') +
                                   c.fileName + "\r\n"));
      text.erase(0, text.find(" \r\n") + 3);
    }
    EXPECT_EQ(text, c.rows);
  }
}

TEST(DatalogRun, Model21410TitlesChannels9And10ByTheirAngleNames) {
  LogRig r(21410);
  LogSettings& s = r.frontEnd.settings;
  s.samplesPerFile = 1;
  s.channels[9] = s.channels[10] = true;
  r.Run();
  const std::string text = r.File("DATALOG_1.csv");
  EXPECT_NE(text.find(" \r\nSample #,pitchND,Pitch_OUT,rollND,Roll_OUT,\r\n"), std::string::npos)
      << text;
}

TEST(DatalogRun, CancelDuringFileTwoOfFiveCompletesThatFileWithTheSamplesTaken) {
  LogRig r;
  LogSettings& s = r.frontEnd.settings;
  ThreeChannels(s);
  s.filesPerSession = 5;
  s.samplesPerFile = 4;
  s.noHeader = true;
  r.frontEnd.cancelFile = 2;
  r.frontEnd.cancelSample = 2;
  const LogResult result = r.Run();
  EXPECT_EQ(result.end, LogEnd::Cancelled);
  EXPECT_EQ(result.lastFileNumber, 2);
  EXPECT_EQ(FileNames(r.dir), (std::vector<std::string>{"DATALOG_1.csv", "DATALOG_2.csv"}));
  // Only the two rows sampled in file 2: none left over from file 1, no empty rows.
  EXPECT_EQ(r.File("DATALOG_2.csv"),
            "1,1,0.014652,1,0.58608,1,26.1624,\r\n2,1,0.018315,1,0.7326,1,26.453,\r\n");
  const std::string first = r.File("DATALOG_1.csv");
  EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 4);
}

TEST(DatalogRun, FileThatCannotBeCreatedEndsTheRunWithTheFileAccessMessage) {
  LogRig r;
  r.frontEnd.settings.channels[1] = true;
  r.frontEnd.settings.filesPerSession = 3;
  fs::create_directory(r.dir / "DATALOG_1.csv");  // a directory cannot be opened as a file
  const LogResult result = r.Run();
  EXPECT_EQ(result.end, LogEnd::FileAccessError);
  EXPECT_NE(result.error.find("Is a directory"), std::string::npos) << result.error;
  ASSERT_EQ(r.messages.messages.size(), 1u);
  EXPECT_EQ(r.messages.messages[0],
            (Message{"\r\nFILE ACCESS ERROR\r\n\r\nFile name = DATALOG_1.csv\r\n\r\n"
                     "This file may already be open by another application.\r\n\r\n"
                     "Close the file or choose a different file name.\r\n\r\n" +
                         (r.dir / "DATALOG_1.csv").string() + ": Is a directory",
                     "", MessageIcon::Warning}));
  EXPECT_TRUE(r.frontEnd.started.empty());
  EXPECT_EQ(FileNames(r.dir), (std::vector<std::string>{"DATALOG_1.csv"}));
}

TEST(DatalogRun, WholeSamplesOfAFractionalSetting) {
  for (const auto& [setting, rows] : {std::pair{10.5, 10}, {1.99, 1}, {3.0, 3}}) {
    LogRig r;
    r.frontEnd.settings.channels[1] = true;
    r.frontEnd.settings.samplesPerFile = setting;
    r.frontEnd.settings.noHeader = true;
    EXPECT_EQ(r.Run().rowsWritten, rows) << setting;
    const std::string text = r.File("DATALOG_1.csv");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), rows) << setting;
  }
}

TEST(DatalogRun, AFileAcrossMidnightEndsBelowItsBeginAndItsTimesJumpBack) {
  LogRig r(21420, 86399.99);
  LogSettings& s = r.frontEnd.settings;
  s.channels[11] = true;
  s.samplesPerFile = 3;
  s.time = true;
  s.sampleDelayMs = 10;
  r.Run();
  const std::string text = r.File("DATALOG_1.csv");
  EXPECT_NE(text.find("Begin Seconds,86399.99\r\nEnd Seconds,0.02\r\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("\r\n2,-86399.99,"), std::string::npos) << text;
}

TEST(DatalogRun, WriteFailureReportsTheFileKeepsItsRowsAndEarlierFiles) {
  LogRig r;
  LogSettings& s = r.frontEnd.settings;
  ThreeChannels(s);
  s.filesPerSession = 3;
  s.samplesPerFile = 2;
  // From file 2 on, a file-size limit that the spool's two rows fit under, but not the file
  // with its header.
  rlimit before{};
  getrlimit(RLIMIT_FSIZE, &before);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails
  r.frontEnd.afterSample = [&before](const LogProgress& p) {
    const rlimit limit{100, before.rlim_max};
    if (p.fileNumber == 2) setrlimit(RLIMIT_FSIZE, &limit);
  };
  const LogResult result = r.Run();
  setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(result.end, LogEnd::WriteError);
  EXPECT_EQ(result.filesCompleted, 1);
  ASSERT_EQ(r.messages.messages.size(), 1u);
  EXPECT_EQ(r.messages.messages[0].text,
            "Cannot write the data-log file " + (r.dir / "DATALOG_2.csv").string() +
                ": File too large\r\n\r\nThe rows taken so far are kept in " +
                (r.dir / "DATALOG_2.csv.spool").string());
  EXPECT_TRUE(r.File("DATALOG_1.csv").starts_with("File Name,DATALOG_1.csv\r\n"));
  EXPECT_EQ(r.File("DATALOG_2.csv.spool"),
            "1,1,0.007326,1,0.29304,1,25.5812,\r\n2,1,0.010989,1,0.43956,1,25.8718,\r\n");
  EXPECT_FALSE(fs::exists(r.dir / "DATALOG_3.csv"));
}

TEST(DatalogRun, SpoolThatCannotBeCreatedIsAWriteErrorPromisingNoRows) {
  LogRig r;
  r.frontEnd.settings.channels[1] = true;
  fs::create_directory(r.dir / "DATALOG_1.csv.spool");
  const LogResult result = r.Run();
  EXPECT_EQ(result.end, LogEnd::WriteError);
  ASSERT_EQ(r.messages.messages.size(), 1u);
  EXPECT_EQ(r.messages.messages[0].text, "Cannot write the data-log file " +
                                             (r.dir / "DATALOG_1.csv.spool").string() +
                                             ": Is a directory");
  EXPECT_TRUE(r.frontEnd.started.empty());
}

TEST(DatalogRun, LosingTheAdapterEndsTheRunWithTheRowsTaken) {
  LogRig r;
  LogSettings& s = r.frontEnd.settings;
  s.channels[1] = true;
  s.samplesPerFile = 100;
  s.filesPerSession = 2;
  s.noHeader = true;
  s.sampleDelayMs = 2.45;
  r.frontEnd.afterSample = [&](const LogProgress& p) {
    if (p.sample == 3) r.rig.SimUsb().UnplugAfter(1);
  };
  const LogResult result = r.Run();
  EXPECT_EQ(result.end, LogEnd::InterfaceLost);
  EXPECT_EQ(result.rowsWritten, 3);
  // The fourth sample, read after the adapter was gone, is not logged.
  EXPECT_EQ(r.File("DATALOG_1.csv"), "1,1,0,\r\n2,1,0.003663,\r\n3,1,0.007326,\r\n");
  EXPECT_FALSE(fs::exists(r.dir / "DATALOG_2.csv"));
  ASSERT_FALSE(r.messages.messages.empty());
  EXPECT_EQ(r.messages.messages.back().text,
            "The sensor can no longer be reached: logging has ended.\r\n"
            "DATALOG_1.csv holds the 3 samples taken.");
}

TEST(DatalogRun, RowsReachTheSpoolWithinASecondAndTheSpoolGoesWhenTheFileIsDone) {
  LogRig r;
  LogSettings& s = r.frontEnd.settings;
  s.channels[1] = true;
  s.samplesPerFile = 5;
  s.sampleDelayMs = 400;
  std::vector<size_t> spooledLines;
  r.frontEnd.afterSample = [&](const LogProgress&) {
    const std::string spool = r.File("DATALOG_1.csv.spool");
    spooledLines.push_back(static_cast<size_t>(std::count(spool.begin(), spool.end(), '\n')));
  };
  r.Run();
  // Rows taken at 0, 0.4, 0.8, 1.2 and 1.6 s: the first would wait past 1 s for the fourth,
  // so the third row writes out the first three.
  EXPECT_EQ(spooledLines, (std::vector<size_t>{0, 0, 3, 3, 3}));
  EXPECT_EQ(FileNames(r.dir), (std::vector<std::string>{"DATALOG_1.csv"}));
}

}  // namespace
}  // namespace pemra::testing
