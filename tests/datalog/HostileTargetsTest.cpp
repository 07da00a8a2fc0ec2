// Logging runs into a directory that works against them: FIFOs, directories and links where
// the files should be, a spool left behind or still in use, a read-only directory, names
// that the system would read differently, two runs into one name, a file-size limit.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>

#include "DatalogTestSupport.h"
#include "datalog/LogFormat.h"
#include "datalog/SpooledFile.h"

namespace pemra::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr uid_t kNobody = 65534;

std::string FileAccessError(const std::string& name, const std::string& reason) {
  return "\r\nFILE ACCESS ERROR\r\n\r\nFile name = " + name +
         "\r\n\r\nThis file may already be open by another application.\r\n\r\n"
         "Close the file or choose a different file name.\r\n\r\n" +
         reason;
}

bool IsFifo(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

void Write(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Runs `run` as a user without privileges (a forked child when this is root, who may write
// anywhere), so that permissions count. True when it returns true.
bool Unprivileged(const std::function<bool()>& run) {
  if (::geteuid() != 0) return run();
  const pid_t child = ::fork();
  if (child == 0) {
    const bool dropped = ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
    ::_exit(dropped && run() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct HostileCase {
  const char* name;
  std::function<void(const fs::path& dir)> setup;
  std::string baseName;
  LogEnd end;
  std::string reason;   // how result.error ends
  std::string message;  // the one message, with the run's directory as "DIR"
  std::vector<std::string> files;  // the directory afterwards
  std::function<void(const fs::path& dir)> check;
};

std::string InDir(std::string text, const fs::path& dir) {
  for (size_t at = text.find("DIR"); at != std::string::npos; at = text.find("DIR", at)) {
    text.replace(at, 3, dir.string());
  }
  return text;
}

TEST(HostileTargets, EachIsRefusedWithItsReasonOrHandledWithoutLoss) {
  const std::string rows = "1,1,0,\r\n2,1,0.003663,\r\n";
  const HostileCase cases[] = {
      {"FIFO at the target",
       [](const fs::path& d) { ::mkfifo((d / "DATALOG_1.csv").c_str(), 0644); },
       "DATALOG", LogEnd::FileAccessError, "/DATALOG_1.csv: not a regular file (a FIFO)",
       FileAccessError("DATALOG_1.csv", "DIR/DATALOG_1.csv: not a regular file (a FIFO)"),
       {"DATALOG_1.csv"}, [](const fs::path& d) { EXPECT_TRUE(IsFifo(d / "DATALOG_1.csv")); }},
      {"FIFO at the spool",
       [](const fs::path& d) { ::mkfifo((d / "DATALOG_1.csv.spool").c_str(), 0644); }, "DATALOG",
       LogEnd::WriteError, "/DATALOG_1.csv.spool: not a regular file (a FIFO)",
       "Cannot write the data-log file DIR/DATALOG_1.csv.spool: not a regular file (a FIFO)",
       {"DATALOG_1.csv", "DATALOG_1.csv.spool"},
       [](const fs::path& d) { EXPECT_TRUE(IsFifo(d / "DATALOG_1.csv.spool")); }},
      {"directory at the target",
       [](const fs::path& d) { fs::create_directory(d / "DATALOG_1.csv"); },
       "DATALOG", LogEnd::FileAccessError, "/DATALOG_1.csv: Is a directory",
       FileAccessError("DATALOG_1.csv", "DIR/DATALOG_1.csv: Is a directory"), {"DATALOG_1.csv"},
       nullptr},
      {"symbolic link at the target: the file it names gets the log",
       [](const fs::path& d) {
         Write(d / "named.csv", "an older and longer file than the new one\r\n");
         fs::create_symlink("named.csv", d / "DATALOG_1.csv");
       },
       "DATALOG", LogEnd::Completed, "", "", {"DATALOG_1.csv", "named.csv"},
       [&rows](const fs::path& d) {
         EXPECT_TRUE(fs::is_symlink(d / "DATALOG_1.csv"));
         EXPECT_EQ(ReadWholeFile(d / "named.csv"), rows);
       }},
      {"symbolic link at the spool",
       [](const fs::path& d) {
         Write(d / "victim.txt", "not to be overwritten\n");
         fs::create_symlink("victim.txt", d / "DATALOG_1.csv.spool");
       },
       "DATALOG", LogEnd::WriteError, "/DATALOG_1.csv.spool: not a regular file (a symbolic link)",
       "Cannot write the data-log file DIR/DATALOG_1.csv.spool: not a regular file (a symbolic "
       "link)",
       {"DATALOG_1.csv", "DATALOG_1.csv.spool", "victim.txt"},
       [](const fs::path& d) {
         EXPECT_EQ(ReadWholeFile(d / "victim.txt"), "not to be overwritten\n");
       }},
      {"dangling symbolic link at the spool",
       [](const fs::path& d) { fs::create_symlink("made.txt", d / "DATALOG_1.csv.spool"); },
       "DATALOG", LogEnd::WriteError, "/DATALOG_1.csv.spool: not a regular file (a symbolic link)",
       "Cannot write the data-log file DIR/DATALOG_1.csv.spool: not a regular file (a symbolic "
       "link)",
       {"DATALOG_1.csv", "DATALOG_1.csv.spool"}, nullptr},
      {"spool and temporary file left by a killed run, and a spool kept before",
       [](const fs::path& d) {
         Write(d / "DATALOG_1.csv.spool", "1,1,7,\r\n2,1,8,\r\n");
         Write(d / "DATALOG_1.csv.spool.1", "kept earlier\r\n");
         Write(d / ".DATALOG_1.csv.tmp-Ab3dE9", "H\r\n1,1,7,\r\n");
       },
       "DATALOG", LogEnd::Completed, "",
       "A run that did not finish left DIR/DATALOG_1.csv.spool: its rows are kept in "
       "DIR/DATALOG_1.csv.spool.2.",
       {"DATALOG_1.csv", "DATALOG_1.csv.spool.1", "DATALOG_1.csv.spool.2"},
       [&rows](const fs::path& d) {
         EXPECT_EQ(ReadWholeFile(d / "DATALOG_1.csv.spool.2"), "1,1,7,\r\n2,1,8,\r\n");
         EXPECT_EQ(ReadWholeFile(d / "DATALOG_1.csv.spool.1"), "kept earlier\r\n");
         EXPECT_EQ(ReadWholeFile(d / "DATALOG_1.csv"), rows);
       }},
      {"NUL in the name", nullptr, std::string("a\0b", 3), LogEnd::FileAccessError,
       "a file name cannot hold control characters (NUL, a line end, ESC, ...)",
       FileAccessError(std::string("a\0b_1.csv", 9),
                       "a file name cannot hold control characters (NUL, a line end, ESC, ...)"),
       {}, nullptr},
      {"line end in the name", nullptr, "a\nb", LogEnd::FileAccessError,
       "a file name cannot hold control characters (NUL, a line end, ESC, ...)",
       FileAccessError("a\nb_1.csv",
                       "a file name cannot hold control characters (NUL, a line end, ESC, ...)"),
       {}, nullptr},
      {"a path up and out as the name", nullptr, "../out", LogEnd::FileAccessError,
       "a file name cannot hold '/' or be '.' or '..'",
       FileAccessError("../out_1.csv", "a file name cannot hold '/' or be '.' or '..'"), {},
       [](const fs::path& d) { EXPECT_FALSE(fs::exists(d.parent_path() / "out_1.csv")); }},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.name);
    LogRig r;
    r.frontEnd.settings.channels[1] = true;
    r.frontEnd.settings.samplesPerFile = 2;
    r.frontEnd.settings.sampleDelayMs = 2.45;
    r.frontEnd.settings.noHeader = true;
    r.frontEnd.settings.baseFileName = c.baseName;
    if (c.setup) c.setup(r.dir);
    const LogResult result = r.Run();
    EXPECT_EQ(result.end, c.end);
    EXPECT_TRUE(result.error.ends_with(c.reason)) << result.error;
    if (c.message.empty()) {
      EXPECT_TRUE(r.messages.messages.empty());
    } else {
      ASSERT_EQ(r.messages.messages.size(), 1u);
      EXPECT_EQ(r.messages.messages[0].text, InDir(c.message, r.dir));
    }
    EXPECT_EQ(FileNames(r.dir), c.files);
    if (c.check) c.check(r.dir);
  }
}

// An old log in a directory that cannot be written: nothing new can be made, so the old
// data stays.
TEST(HostileTargets, ReadOnlyDirectoryKeepsTheOldFile) {
  LogRig r;
  r.frontEnd.settings.channels[1] = true;
  r.frontEnd.settings.samplesPerFile = 2;
  Write(r.dir / "DATALOG_1.csv", "old data\r\n");
  ::chown(r.dir.c_str(), kNobody, kNobody);
  ::chown((r.dir / "DATALOG_1.csv").c_str(), kNobody, kNobody);
  ::chmod(r.dir.c_str(), 0555);
  const bool refused = Unprivileged([&r] {
    const LogResult result = r.Run();
    return result.end == LogEnd::WriteError &&
           result.error == (r.dir / "DATALOG_1.csv.spool").string() + ": Permission denied";
  });
  ::chmod(r.dir.c_str(), 0755);
  EXPECT_TRUE(refused);
  EXPECT_EQ(r.File("DATALOG_1.csv"), "old data\r\n");
  EXPECT_EQ(FileNames(r.dir), (std::vector<std::string>{"DATALOG_1.csv"}));
}

TEST(HostileTargets, ASecondRunIntoTheSameNameIsRefusedWhileTheFirstWrites) {
  LogRig r;
  r.frontEnd.settings.channels[1] = true;
  r.frontEnd.settings.samplesPerFile = 2;
  r.frontEnd.settings.noHeader = true;
  const fs::path target = r.dir / "DATALOG_1.csv";
  SpooledFile first;
  ASSERT_TRUE(first.Create(target, 0ns)) << first.Error();
  ASSERT_TRUE(first.AddRow("1,1,5,\r\n", 0ns));
  ASSERT_TRUE(first.AddRow("2,1,6,\r\n", 2s));  // written out to the spool

  EXPECT_EQ(r.Run().end, LogEnd::FileAccessError);
  ASSERT_EQ(r.messages.messages.size(), 1u);
  EXPECT_EQ(r.messages.messages[0].text,
            FileAccessError("DATALOG_1.csv",
                            target.string() + ": another run is writing this file (it is locked)"));
  // The first run's rows are untouched, and it completes its file.
  EXPECT_EQ(r.File("DATALOG_1.csv.spool"), "1,1,5,\r\n2,1,6,\r\n");
  ASSERT_TRUE(first.Complete("H\r\n"));
  EXPECT_EQ(r.File("DATALOG_1.csv"), "H\r\n1,1,5,\r\n2,1,6,\r\n");

  // A spool held by a run (the target free) is refused too, not taken for a left-over.
  const int held = ::open((r.dir / "DATALOG_1.csv.spool").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  r.messages.messages.clear();
  EXPECT_EQ(r.Run().end, LogEnd::FileAccessError);
  ASSERT_EQ(r.messages.messages.size(), 1u);
  EXPECT_TRUE(r.messages.messages[0].text.ends_with(
      "DATALOG_1.csv.spool: another run is writing this file (it is locked)"));
  ::close(held);
  EXPECT_EQ(r.File("DATALOG_1.csv"), "H\r\n1,1,5,\r\n2,1,6,\r\n");

  // Once both are done the name is free again.
  EXPECT_EQ(r.Run().end, LogEnd::Completed);
}

// A file-size limit (ulimit -f) of `limit` bytes during the run.
LogResult RunUnderFileSizeLimit(LogRig& r, rlim_t limit) {
  rlimit before{};
  getrlimit(RLIMIT_FSIZE, &before);
  const rlimit lower{limit, before.rlim_max};
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails
  setrlimit(RLIMIT_FSIZE, &lower);
  const LogResult result = r.Run();
  setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, oldHandler);
  return result;
}

TEST(HostileTargets, FileSizeLimitEndsTheSpoolOnAWholeRow) {
  // While sampling (the spool passes the limit), and at the final write of rows that were
  // still in the buffer (20 rows taken within a second, no header).
  for (const auto& [samples, limit] : {std::pair{100000, 100000}, {20, 100}}) {
    SCOPED_TRACE(samples);
    LogRig r;
    r.frontEnd.settings.channels.fill(true);
    r.frontEnd.settings.samplesPerFile = samples;
    r.frontEnd.settings.noHeader = true;
    const LogResult result = RunUnderFileSizeLimit(r, static_cast<rlim_t>(limit));
    EXPECT_EQ(result.end, LogEnd::WriteError);
    EXPECT_EQ(result.error, (r.dir / "DATALOG_1.csv.spool").string() + ": File too large");
    const std::string spool = r.File("DATALOG_1.csv.spool");
    EXPECT_GT(spool.size(), limit / 2);
    EXPECT_LE(spool.size(), static_cast<size_t>(limit));
    EXPECT_TRUE(spool.ends_with(",\r\n")) << spool.substr(spool.size() - 20);
    EXPECT_EQ(r.File("DATALOG_1.csv"), "");
  }
}

TEST(HostileTargets, BaseNamesUpToTwoHundredBytesAreTaken) {
  struct Case {
    std::string name;
    std::string_view problem;
  };
  const Case cases[] = {
      {std::string(200, 'a'), ""},
      {std::string(201, 'a'), "a file name can be at most 200 bytes long"},
      {"run", ""},
      {"", "a file name cannot be empty"},
      {"a/b", "a file name cannot hold '/' or be '.' or '..'"},
  };
  for (const Case& c : cases) EXPECT_EQ(BaseFileNameProblem(c.name), c.problem) << c.name.size();
}

}  // namespace
}  // namespace pemra::testing
