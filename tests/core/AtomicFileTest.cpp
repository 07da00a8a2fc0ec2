// Hostile configuration files and the atomic replace: what is read, what is kept, what a
// write through a link, under a umask or under a file-size limit leaves behind.

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/AtomicFile.h"
#include "core/Selection.h"

namespace pemra {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("pemra-atomic-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    path = dir / "CommPort.cfg";
  }
  void TearDown() override { fs::remove_all(dir); }
  static std::string Text(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static void Put(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
  }
  std::vector<std::string> Names(const fs::path& folder) const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir;
  fs::path path;
};

TEST_F(AtomicFileTest, HostileConfigurationFiles) {
  const std::string good = "Interface =  1 \r\nProduct =  21410 \r\n";
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> make;
    ConfigFileState state;
    Selection read;         // from {7, 7, 7, 7}
    const char* reason;     // part of the report, for an unreadable file
  };
  const std::vector<Case> cases = {
      {"missing", [](const fs::path&) {}, ConfigFileState::Missing, {7, 7, 7, 7}, ""},
      {"byte-order mark", [&](const fs::path& p) { Put(p, "\xEF\xBB\xBF" + good); },
       ConfigFileState::Loaded, {1, 7, 7, 21410}, ""},
      {"empty", [](const fs::path& p) { Put(p, ""); }, ConfigFileState::Loaded, {7, 7, 7, 7}, ""},
      {"only junk", [](const fs::path& p) { Put(p, "Interface: 2\r\n\x01\x02 = x\r\n"); },
       ConfigFileState::Unrecognised, {7, 7, 7, 7}, ""},
      {"UTF-16", [](const fs::path& p) { Put(p, std::string("\xFF\xFEI\0n\0=\0", 8)); },
       ConfigFileState::Unrecognised, {7, 7, 7, 7}, ""},
      {"a directory", [](const fs::path& p) { fs::create_directory(p); },
       ConfigFileState::Unreadable, {7, 7, 7, 7}, "Is a directory"},
      {"a FIFO", [](const fs::path& p) { ::mkfifo(p.c_str(), 0644); },
       ConfigFileState::Unreadable, {7, 7, 7, 7}, "not a regular file"},
      {"a link to a device", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
       ConfigFileState::Unreadable, {7, 7, 7, 7}, "not a regular file"},
      {"a link loop", [](const fs::path& p) { fs::create_symlink(p, p); },
       ConfigFileState::Unreadable, {7, 7, 7, 7}, "Too many levels"},
      {"a dangling link", [](const fs::path& p) { fs::create_symlink("nowhere.cfg", p); },
       ConfigFileState::Missing, {7, 7, 7, 7}, ""},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    c.make(path);
    Selection s{7, 7, 7, 7};
    const ConfigFileStatus status = LoadConfigFile(s, path);
    EXPECT_EQ(status.state, c.state) << c.what;
    EXPECT_EQ(s, c.read) << c.what;
    if (c.state == ConfigFileState::Unreadable) {
      EXPECT_NE(status.reason.find(path.string()), std::string::npos) << status.reason;
      EXPECT_NE(status.reason.find(c.reason), std::string::npos) << status.reason;
    }
  }
}

TEST_F(AtomicFileTest, UnreadableFileIsNeverReplacedAtExit) {
  Put(path, "Interface =  2 \r\nProduct =  21450 \r\n");
  if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
  fs::permissions(path, fs::perms::none, fs::perm_options::replace);
  Selection s;
  const ConfigFileStatus status = LoadConfigFile(s, path);
  ASSERT_EQ(status.state, ConfigFileState::Unreadable);
  EXPECT_NE(status.reason.find("Permission denied"), std::string::npos) << status.reason;
  EXPECT_TRUE(SaveConfigFile(Selection{}, path, status));
  fs::permissions(path, fs::perms::owner_read, fs::perm_options::replace);
  EXPECT_EQ(Text(path), "Interface =  2 \r\nProduct =  21450 \r\n");
}

TEST_F(AtomicFileTest, SaveKeepsWhatStartCouldNotUse) {
  // A link to a device is left alone; a file of junk is kept as .bak before it is replaced.
  fs::create_symlink("/dev/null", path);
  Selection s;
  ConfigFileStatus status = LoadConfigFile(s, path);
  EXPECT_TRUE(SaveConfigFile(Selection{2, 0, 0, 21420}, path, status));
  EXPECT_TRUE(fs::is_symlink(path));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  fs::remove(path);
  Put(path, "garbage\r\n");
  status = LoadConfigFile(s, path);
  ASSERT_EQ(status.state, ConfigFileState::Unrecognised);
  ASSERT_TRUE(SaveConfigFile(Selection{2, 0, 0, 21420}, path, status));
  EXPECT_EQ(Text(path), FormatConfigText(Selection{2, 0, 0, 21420}));
  EXPECT_EQ(Text(dir / "CommPort.cfg.bak"), "garbage\r\n");
}

TEST_F(AtomicFileTest, WritingThroughALinkReplacesItsTargetAndKeepsItsMode) {
  const fs::path other = dir / "settings";
  fs::create_directory(other);
  const fs::path target = other / "real.cfg";
  Put(target, "old\r\n");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write,
                  fs::perm_options::replace);
  fs::create_symlink("settings/real.cfg", path);  // relative to the link's folder

  std::string error;
  ASSERT_TRUE(WriteConfigFile(Selection{1, 888, 0, 21420}, path, &error)) << error;
  EXPECT_TRUE(fs::is_symlink(path));
  EXPECT_EQ(fs::read_symlink(path), "settings/real.cfg");
  EXPECT_EQ(Text(target), FormatConfigText(Selection{1, 888, 0, 21420}));
  EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(Names(other), std::vector<std::string>{"real.cfg"});  // no temporary left
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"CommPort.cfg", "settings"}));
}

TEST_F(AtomicFileTest, NewFileGetsTheDefaultCreationMode) {
  struct Case {
    mode_t umask;
    fs::perms mode;
  };
  using P = fs::perms;
  for (const Case& c : {Case{022, P::owner_read | P::owner_write | P::group_read | P::others_read},
                        Case{077, P::owner_read | P::owner_write},
                        Case{002, P::owner_read | P::owner_write | P::group_read |
                                      P::group_write | P::others_read}}) {
    fs::remove(path);
    const mode_t previous = ::umask(c.umask);
    const bool written = WriteConfigFile(Selection{}, path);
    ::umask(previous);
    ASSERT_TRUE(written);
    EXPECT_EQ(fs::status(path).permissions(), c.mode) << std::oct << c.umask;
  }
}

TEST_F(AtomicFileTest, StaleTemporariesOfOursAreRemovedOthersKept) {
  Put(path, "Interface =  2 \r\n");
  Put(dir / ".CommPort.cfg.tmp-Ab12Cd", "Interface =  1 \r\nPort Ad");   // a killed write
  Put(dir / ".CommPort.cfg.tmp-Zz99Yy", "");                            // killed at once
  Put(dir / "CommPort.cfg.Q7rT2x", "Interface =  2 \r\nPort Address =  8");  // older name
  Put(dir / "CommPort.cfg.backup", "the user's own copy");
  Put(dir / "CommPort.cfg.Xy12ab", "notes of the user");
  Put(dir / ".CommPort.cfg.tmp-Busy00", "Interface =  1 ");
  // A write under way in another program holds its temporary file locked.
  const int busy = ::open((dir / ".CommPort.cfg.tmp-Busy00").c_str(), O_RDONLY);
  ASSERT_GE(busy, 0);
  ASSERT_EQ(::flock(busy, LOCK_EX), 0);

  EXPECT_EQ(RemoveStaleConfigTemporaries(path), 3);
  ::close(busy);
  EXPECT_EQ(Names(dir), (std::vector<std::string>{".CommPort.cfg.tmp-Busy00", "CommPort.cfg",
                                                  "CommPort.cfg.Xy12ab", "CommPort.cfg.backup"}));
}

TEST_F(AtomicFileTest, FileSizeLimitIsAWriteErrorNotADeath) {
  const Selection old{2, 888, 0, 21420};
  ASSERT_TRUE(WriteConfigFile(old, path));
  // In a child: a limit smaller than the file; SIGXFSZ would kill it without a word.
  const auto writeUnderLimit = [this] {
    IgnoreFileSizeSignal();
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = 20;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::string error;
    const bool written = WriteConfigFile(Selection{1, 632, 0, 21410}, path, &error);
    // The child's stderr is a file under the same limit: the verdict goes in the exit code.
    std::_Exit(written ? 3 : error.find("File too large") == std::string::npos ? 4 : 0);
  };
  EXPECT_EXIT(writeUnderLimit(), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(Text(path), FormatConfigText(old));
  EXPECT_EQ(Names(dir), std::vector<std::string>{"CommPort.cfg"});
}

}  // namespace
}  // namespace pemra
