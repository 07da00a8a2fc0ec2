// One log file through its spool: when rows reach the disk, the exact bytes of the completed
// file, and what a full disk leaves behind.

#include <gtest/gtest.h>

#include "DatalogTestSupport.h"
#include "datalog/SpooledFile.h"
#include "support/ScratchDir.h"
#include "support/TestDisk.h"

namespace pemra::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(SpooledFile, ARowReachesTheSpoolBeforeItHasWaitedASecond) {
  const ScratchDir dir;
  SpooledFile file;
  ASSERT_TRUE(file.Create(dir.path() / "log.csv", 0ms));
  ASSERT_TRUE(file.AddRow("1,\r\n", 0ms));
  // The next row, expected 500 ms on, would find the first one waiting exactly a second.
  ASSERT_TRUE(file.AddRow("2,\r\n", 500ms));
  EXPECT_EQ(ReadWholeFile(dir.path() / "log.csv.spool"), "1,\r\n2,\r\n");
}

TEST(SpooledFile, TheCompletedFileIsExactlyHeaderAndRowsAndSyncedBeforeItTakesTheName) {
  struct Case {
    const char* name;
    std::string older;  // the file of that name before
    int rows;
    size_t rowBytes;
  } const cases[] = {
      {"over an older, longer file", std::string(5000, 'x'), 2, 10},
      {"more rows than one copy buffer holds", "", 1000, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScratchDir dir;
    const fs::path target = dir.path() / "log.csv";
    if (!c.older.empty()) std::ofstream(target) << c.older;
    TestDisk disk;
    SpooledFile file(disk);
    ASSERT_TRUE(file.Create(target, 0ms));
    std::string expected = "Header\r\n";
    for (int i = 0; i < c.rows; ++i) {
      std::string row = std::to_string(i) + ",";
      row.resize(c.rowBytes - 2, '7');
      row += "\r\n";
      expected += row;
      ASSERT_TRUE(file.AddRow(row, std::chrono::milliseconds(i)));
    }
    ASSERT_TRUE(file.Complete("Header\r\n")) << file.Error();
    EXPECT_EQ(ReadWholeFile(target), expected);
    EXPECT_EQ(FileNames(dir.path()), (std::vector<std::string>{"log.csv"}));
    // The whole new file was synced while it still had its temporary name.
    ASSERT_EQ(disk.syncs.size(), 1u);
    EXPECT_TRUE(disk.syncs[0].first.starts_with(".log.csv.tmp-")) << disk.syncs[0].first;
    EXPECT_EQ(disk.syncs[0].second, expected.size());
  }
}

TEST(SpooledFile, AFullDiskLeavesWholeRowsAndTheOldFile) {
  const std::string rows = "1,0.5,\r\n2,0.6,\r\n3,0.7,\r\n";  // 8 bytes a row
  struct Case {
    const char* name;
    size_t room;
    const char* spool;  // what the spool holds afterwards
    const char* failed;  // the file named in the error
  } const cases[] = {
      {"while the rows are written out", 20, "1,0.5,\r\n2,0.6,\r\n", "log.csv.spool"},
      {"while the new file is written", 24 + 30, "1,0.5,\r\n2,0.6,\r\n3,0.7,\r\n", "log.csv"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ScratchDir dir;
    const fs::path target = dir.path() / "log.csv";
    std::ofstream(target) << "the previous log\r\n";
    TestDisk disk;
    disk.room = c.room;
    SpooledFile file(disk);
    ASSERT_TRUE(file.Create(target, 0ms));
    for (size_t at = 0; at < rows.size(); at += 8) {
      ASSERT_TRUE(file.AddRow(rows.substr(at, 8), 0ms));
    }
    EXPECT_FALSE(file.Complete("File Name,log.csv\r\nDate,today\r\n"));
    EXPECT_EQ(file.Error(), (dir.path() / c.failed).string() + ": No space left on device");
    EXPECT_EQ(ReadWholeFile(dir.path() / "log.csv.spool"), c.spool);
    EXPECT_EQ(ReadWholeFile(target), "the previous log\r\n");
    EXPECT_EQ(FileNames(dir.path()), (std::vector<std::string>{"log.csv", "log.csv.spool"}));
  }
}

}  // namespace
}  // namespace pemra::testing
