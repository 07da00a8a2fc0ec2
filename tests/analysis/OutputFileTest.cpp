// The one rule for every output of the analysis, against hostile targets: what the write
// says, and what it leaves on disk (the old bytes, no temporary beside them).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "analysis/OutputFile.h"
#include "support/ScratchDir.h"
#include "support/TestDisk.h"

namespace pemra {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A disk with room left (as TestDisk) whose sync may fail.
class FailingSync final : public FileCalls {
 public:
  ssize_t Write(int fd, const void* data, size_t size) override { return disk.Write(fd, data, size); }
  int Sync(int fd) override {
    if (ok) return disk.Sync(fd);
    errno = EIO;
    return -1;
  }
  testing::TestDisk disk;
  size_t& room = disk.room;
  bool ok = true;
};

const char kLog[] = "Sample #,X Gryo,\r\n1,0.5,\r\n2,0.25,\r\n3,1,\r\n";

TEST(OutputFile, WritesOnlyWhereTheRuleAllowsAndLeavesTheOldFileOnFailure) {
  struct Case {
    const char* target;
    size_t room;        // bytes the disk takes
    bool sync;          // the sync succeeds
    std::string error;  // after "Cannot write <dir>/<target>: "; empty: written
    std::string left;   // the target's bytes afterwards ("-": absent, "=": its old bytes)
  };
  const std::vector<Case> cases = {
      {"new.yaml", SIZE_MAX, true, "", "NEW"},
      {"old.yaml", SIZE_MAX, true, "", "NEW"},
      {"old.yaml", 2, true, "No space left on device", "="},
      {"new.yaml", 0, true, "No space left on device", "-"},
      {"old.yaml", SIZE_MAX, false, "Input/output error", "="},
      {"input.yaml", SIZE_MAX, true,
       "is one of the inputs (INPUT): an output never replaces one", "="},
      {"DATALOG_1.csv", SIZE_MAX, true,
       "reads as a data log: an output never replaces one; choose another name", "="},
      {"numbers.txt", SIZE_MAX, true, "", "NEW"},  // a table of numbers may be exported again
      {"fifo.svg", SIZE_MAX, true, "is a FIFO, not a regular file", ""},
      {"folder.png", SIZE_MAX, true, "is a directory", ""},
      {"no/such/x.pdf", SIZE_MAX, true,
       "cannot create a temporary file beside it: No such file or directory", "-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.target) + " " + c.error);
    testing::ScratchDir dir;
    const fs::path d = dir.path();
    Write(d / "old.yaml", "OLD");
    Write(d / "in_1.txt", "whatever the input holds");
    fs::create_hard_link(d / "in_1.txt", d / "input.yaml");
    Write(d / "DATALOG_1.csv", kLog);
    Write(d / "numbers.txt", "1 2\n3 4\n");
    ASSERT_EQ(::mkfifo((d / "fifo.svg").c_str(), 0600), 0);
    fs::create_directory(d / "folder.png");
    const fs::path target = d / c.target;
    const std::string before = fs::is_regular_file(target) ? Read(target) : "";

    FailingSync disk;
    disk.room = c.room;
    disk.ok = c.sync;
    std::string error;
    const bool written = WriteOutputFile(target, "NEW", {d / "in_1.txt"}, error, disk);
    if (c.error.empty()) {
      EXPECT_TRUE(written) << error;
    } else {
      EXPECT_FALSE(written);
      std::string expected = "Cannot write " + target.string() + ": " + c.error;
      if (const size_t at = expected.find("INPUT"); at != std::string::npos)
        expected.replace(at, 5, (d / "in_1.txt").string());
      EXPECT_EQ(error, expected);
    }
    if (c.left == "-") {
      EXPECT_FALSE(fs::exists(target));
    } else if (c.left == "=") {
      EXPECT_EQ(Read(target), before);
    } else if (!c.left.empty()) {
      EXPECT_EQ(Read(target), c.left);
    }
    for (const auto& entry : fs::recursive_directory_iterator(d))
      EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos)
          << "left behind: " << entry.path();
  }
}

}  // namespace
}  // namespace pemra
