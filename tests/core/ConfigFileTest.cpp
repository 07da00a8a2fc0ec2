#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <random>

#include "core/AtomicFile.h"
#include "core/Selection.h"

namespace pemra {
namespace {

namespace fs = std::filesystem;

TEST(ConfigText, IsWrittenByteForByte) {
  struct Case {
    Selection selection;
    std::string text;
  };
  const Case cases[] = {
      {{0, 0, 0, 0},
       "Interface =  0 \r\nPort Address =  0 \r\nFactory =  0 \r\nProduct =  0 \r\n"},
      {{2, 888, 0, 21420},
       "Interface =  2 \r\nPort Address =  888 \r\nFactory =  0 \r\nProduct =  21420 \r\n"},
      {{1, -17408, 1, 21410},
       "Interface =  1 \r\nPort Address = -17408 \r\nFactory =  1 \r\nProduct =  21410 \r\n"},
      {{-32768, 32767, -1, -32768},
       "Interface = -32768 \r\nPort Address =  32767 \r\nFactory = -1 \r\nProduct = -32768 \r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatConfigText(c.selection), c.text);
    Selection back{9, 9, 9, 9};
    ParseConfigText(c.text, back);
    EXPECT_EQ(back, c.selection) << c.text;
  }
}

TEST(ConfigText, DeviceLineOnlyForFtdiAndSpidev) {
  const std::string four = "Interface =  3 \r\nPort Address =  0 \r\nFactory =  0 \r\nProduct =  21420 \r\n";
  struct Case {
    const char* what;
    Selection selection;
    std::string text;
    std::string readBack;  // the device read from that text
  };
  const Case cases[] = {
      {"FTDI", {3, 0, 0, 21420, "FT5XYZ12"}, four + "Device = FT5XYZ12\r\n", "FT5XYZ12"},
      {"FTDI channel B", {3, 0, 0, 21420, "FT6ABC34:B"}, four + "Device = FT6ABC34:B\r\n",
       "FT6ABC34:B"},
      {"spidev",
       {4, 0, 0, 21420, "/dev/spidev0.0"},
       "Interface =  4 \r\nPort Address =  0 \r\nFactory =  0 \r\nProduct =  21420 \r\n"
       "Device = /dev/spidev0.0\r\n",
       "/dev/spidev0.0"},
      {"USB keeps the four lines", {2, 888, 0, 21420, "FT5XYZ12"},
       "Interface =  2 \r\nPort Address =  888 \r\nFactory =  0 \r\nProduct =  21420 \r\n", ""},
      {"no device named", {3, 0, 0, 21420, ""}, four, ""},
      {"a comma would end the field", {3, 0, 0, 21420, "FT5,XYZ"}, four, ""},
      {"blanks at the ends would be lost", {3, 0, 0, 21420, " FT5XYZ12"}, four, ""},
      {"a line end inside", {3, 0, 0, 21420, "FT5\nXYZ"}, four, ""},
      {"too long", {3, 0, 0, 21420, std::string(256, 'F')}, four, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(FormatConfigText(c.selection), c.text);
    Selection back;
    ParseConfigText(c.text, back);
    EXPECT_EQ(back.Device, c.readBack);
    EXPECT_EQ(back.InterfaceType, c.selection.InterfaceType);
  }
  // Read: blanks around the value go, an empty or overlong value is ignored, the later wins.
  Selection read{0, 0, 0, 0, "old"};
  ParseConfigText("Device =   FT6ABC34:B  \r\nDevice = \r\nDevice = " + std::string(256, 'x') +
                      "\r\n",
                  read);
  EXPECT_EQ(read.Device, "FT6ABC34:B");
  ParseConfigText("Device = /dev/spidev1.0\r\n", read);
  EXPECT_EQ(read.Device, "/dev/spidev1.0");
}

TEST(ConfigText, ReadingKeepsEveryGoodLine) {
  const Selection start{7, 7, 7, 7};
  struct Case {
    const char* what;
    std::string text;
    Selection expected;
  };
  const Case cases[] = {
      {"reverse order, LF only",
       "Product =  21430 \nFactory =  1 \nPort Address = -17408 \nInterface =  1 \n",
       {1, -17408, 1, 21430}},
      {"CR only", "Interface =  2 \rProduct =  21420 \r", {2, 7, 7, 21420}},
      {"no line end at the end", "Interface =  2", {2, 7, 7, 7}},
      {"blank lines and unknown keys",
       "\r\n\r\nSpeed =  5 \r\nInterface =  2 \r\n\r\n", {2, 7, 7, 7}},
      {"later line wins", "Interface =  1 \r\nInterface =  2 \r\n", {2, 7, 7, 7}},
      {"line without = is ignored", "Interface 2\r\nProduct =  21440 \r\n", {7, 7, 7, 21440}},
      {"value not a number", "Interface =  two \r\nProduct =  21440 \r\n", {7, 7, 7, 21440}},
      {"value not an integer", "Interface =  2.5 \r\nFactory =  3 \r\n", {7, 7, 3, 7}},
      {"value out of 16-bit range",
       "Interface =  32768 \r\nPort Address = -32769 \r\nProduct =  99999999999999999999 \r\n"
       "Factory = -32768 \r\n",
       {7, 7, -32768, 7}},
      {"empty value", "Interface = \r\nProduct = \r\nFactory =  \r\n", {7, 7, 7, 7}},
      {"leading blanks dropped, field ends at a comma",
       "    Interface =  2 ,junk\r\n\tProduct = 21420,5\r\n", {2, 7, 7, 21420}},
      {"keys are case-sensitive", "interface =  2 \r\nPRODUCT =  21420 \r\n", {7, 7, 7, 7}},
      {"the key is what stands before the blank before =",
       "Interface=  2 \r\nProduct  =  5 \r\nFactory =4\r\n", {7, 7, 7, 7}},
      {"signs and blanks around the value",
       "Interface = +2\r\nPort Address =    -888    \r\nProduct = \t21420\t\r\n",
       {2, -888, 7, 21420}},
      {"= first on the line", "= 5\r\n=\r\nInterface =  1 \r\n", {1, 7, 7, 7}},
      {"binary bytes", std::string("\0\xff\x01=\x80\r\nInterface =  2 \r\n\xfe\xfe", 25),
       {2, 7, 7, 7}},
      {"NUL inside a value", std::string("Interface =  2\0 \r\nProduct =  21420 \r\n", 35),
       {7, 7, 7, 21420}},
      {"very long line", std::string(100000, 'x') + "=\r\nProduct = " +
                             std::string(5000, ' ') + "21450\r\n", {7, 7, 7, 21450}},
  };
  for (const Case& c : cases) {
    Selection s = start;
    ParseConfigText(c.text, s);
    EXPECT_EQ(s, c.expected) << c.what;
  }
}

TEST(ConfigText, RandomBytesNeverHideALaterGoodLine) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(0, 300);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    for (int n = length(random); n > 0; --n) text += static_cast<char>(byte(random));
    text += "\r\nProduct =  21420 \r\n";
    Selection s{};
    ParseConfigText(text, s);
    ASSERT_EQ(s.DeviceType, 21420) << "round " << round;
  }
}

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("pemra-config-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    path = dir / "CommPort.cfg";
  }
  void TearDown() override {
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir);
  }
  std::string FileText() const {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  size_t EntriesInDir() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
  }
  static void Put(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
  }

  fs::path dir;
  fs::path path;
};

TEST_F(ConfigFileTest, WritesAndReadsBack) {
  const Selection written{2, -17408, 0, 21420};
  std::string error;
  ASSERT_TRUE(WriteConfigFile(written, path, &error)) << error;
  EXPECT_EQ(FileText(), FormatConfigText(written));
  EXPECT_EQ(EntriesInDir(), 1u);  // no temporary file left behind
  Selection read;
  EXPECT_TRUE(ReadConfigFile(read, path));
  EXPECT_EQ(read, written);
}

TEST_F(ConfigFileTest, ReplacesAnExistingFileAndKeepsItsPermissions) {
  {
    std::ofstream out(path, std::ios::binary);
    out << "Interface =  1 \r\nold contents that are much longer than the new file\r\n";
  }
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
                  fs::perm_options::replace);
  ASSERT_TRUE(WriteConfigFile(Selection{2, 888, 0, 21490}, path));
  EXPECT_EQ(FileText(), FormatConfigText(Selection{2, 888, 0, 21490}));
  EXPECT_EQ(fs::status(path).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(ConfigFileTest, ReplacesTheFileInsteadOfRewritingItInPlace) {
  // A second name for the old file sees its old contents after the write: the new text went
  // into a new file that was renamed over the old name, so no reader (and no crash) can meet
  // a truncated or half-written file. Unlike a permission check, this holds for root too.
  const Selection before{1, 888, 0, 21420};
  ASSERT_TRUE(WriteConfigFile(before, path));
  const fs::path oldName = dir / "old-name";
  fs::create_hard_link(path, oldName);
  ASSERT_TRUE(WriteConfigFile(Selection{2, 0, 0, 21490}, path));
  EXPECT_EQ(FileText(), FormatConfigText(Selection{2, 0, 0, 21490}));
  std::ifstream old(oldName, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), std::istreambuf_iterator<char>()),
            FormatConfigText(before));
  EXPECT_FALSE(fs::equivalent(path, oldName));
}

TEST_F(ConfigFileTest, GoodLinesAfterAnyAmountOfJunkStillCount) {
  // Three MiB of junk lines, a line far longer than any setting (skipped, and the line after
  // it still counts), and a CR LF split across the reader's 64 KiB chunks.
  std::string text;
  const std::string junk = std::string(1000, '#') + "\r\n";
  while (text.size() < 3u << 20) text += junk;
  text += "Interface =  1 \r\n";
  text += std::string(200000, 'x') + "Product = 21410\r\n";
  text += "Factory =  3 \r";
  text.append((64u << 10) - text.size() % (64u << 10) - 1, ' ');
  text += "\r\nPort Address =  888 ";  // no line end at the very end
  {
    std::ofstream out(path, std::ios::binary);
    out << text;
  }
  Selection s{7, 7, 7, 7};
  EXPECT_TRUE(ReadConfigFile(s, path));
  EXPECT_EQ(s, (Selection{1, 888, 3, 7}));
}

TEST_F(ConfigFileTest, MissingOrUnreadableFileChangesNothing) {
  Selection s{1, 2, 3, 4};
  EXPECT_FALSE(ReadConfigFile(s, path));
  EXPECT_FALSE(ReadConfigFile(s, dir));  // a directory
  EXPECT_FALSE(ReadConfigFile(s, "/dev/zero"));  // a device that never ends
  EXPECT_EQ(s, (Selection{1, 2, 3, 4}));
}

TEST_F(ConfigFileTest, WriteFailureNamesTheFileAndTheReason) {
  const fs::path missingDir = dir / "no-such-dir" / "CommPort.cfg";
  std::string error;
  EXPECT_FALSE(WriteConfigFile(Selection{}, missingDir, &error));
  EXPECT_NE(error.find(missingDir.string()), std::string::npos) << error;
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
  EXPECT_FALSE(WriteConfigFile(Selection{}, missingDir));  // no error text wanted

  // A directory in the file's place cannot be replaced; it stays, and no temporary is left.
  const fs::path blocked = dir / "blocked";
  fs::create_directory(blocked);
  EXPECT_FALSE(WriteConfigFile(Selection{}, blocked, &error));
  EXPECT_NE(error.find(blocked.string()), std::string::npos) << error;
  EXPECT_TRUE(fs::is_directory(blocked));
  EXPECT_EQ(EntriesInDir(), 1u);

  if (::geteuid() != 0) {  // root may write anywhere
    ASSERT_TRUE(WriteConfigFile(Selection{1, 0, 0, 0}, path));
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
    EXPECT_FALSE(WriteConfigFile(Selection{2, 0, 0, 0}, path, &error));
    EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(FileText(), FormatConfigText(Selection{1, 0, 0, 0}));  // old file intact
  }
}

TEST_F(ConfigFileTest, HostileFilesAreReadOrReportedNeverMistakenForMissing) {
  struct Case {
    const char* what;
    std::function<void()> make;
    ConfigFileState state;
    Selection read;      // from {7, 7, 7, 7}
    const char* reason;  // in the report of an unreadable file
  };
  const bool root = ::geteuid() == 0;  // root reads a file without permissions
  const std::vector<Case> cases = {
      {"missing", [] {}, ConfigFileState::Missing, {7, 7, 7, 7}, ""},
      {"byte-order mark", [&] { Put(path, "\xEF\xBB\xBFInterface =  1 \r\nProduct =  21410 \r\n"); },
       ConfigFileState::Loaded, {1, 7, 7, 21410}, ""},
      {"empty", [&] { Put(path, ""); }, ConfigFileState::Loaded, {7, 7, 7, 7}, ""},
      {"only junk", [&] { Put(path, "Interface: 2\r\n\x01 = x\r\n"); },
       ConfigFileState::Unrecognised, {7, 7, 7, 7}, ""},
      {"no permission", [&] { Put(path, "Interface =  2 \r\n"); fs::permissions(path, fs::perms::none); },
       root ? ConfigFileState::Loaded : ConfigFileState::Unreadable,
       root ? Selection{2, 7, 7, 7} : Selection{7, 7, 7, 7}, "Permission denied"},
      {"a directory", [&] { fs::create_directory(path); }, ConfigFileState::Unreadable,
       {7, 7, 7, 7}, "Is a directory"},
      {"a FIFO", [&] { ::mkfifo(path.c_str(), 0644); }, ConfigFileState::Unreadable,
       {7, 7, 7, 7}, "not a regular file"},
      {"a link to a device", [&] { fs::create_symlink("/dev/zero", path); },
       ConfigFileState::Unreadable, {7, 7, 7, 7}, "not a regular file"},
      {"a link loop", [&] { fs::create_symlink(path, path); }, ConfigFileState::Unreadable,
       {7, 7, 7, 7}, "Too many levels"},
      {"a dangling link", [&] { fs::create_symlink("nowhere.cfg", path); },
       ConfigFileState::Missing, {7, 7, 7, 7}, ""},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    c.make();
    Selection s{7, 7, 7, 7};
    const ConfigFileStatus status = LoadConfigFile(s, path);
    EXPECT_EQ(status.state, c.state) << c.what;
    EXPECT_EQ(s, c.read) << c.what;
    if (c.state != ConfigFileState::Unreadable) continue;
    EXPECT_NE(status.reason.find(path.string() + ": "), std::string::npos) << status.reason;
    EXPECT_NE(status.reason.find(c.reason), std::string::npos) << status.reason;
    // Its settings were never seen: the save at exit leaves it as it is.
    const auto before = fs::symlink_status(path).type();
    EXPECT_TRUE(SaveConfigFile(Selection{2, 0, 0, 21420}, path, status)) << c.what;
    EXPECT_EQ(fs::symlink_status(path).type(), before) << c.what;
  }
}

TEST_F(ConfigFileTest, WritingThroughALinkReplacesItsTargetAndKeepsItsMode) {
  fs::create_directory(dir / "settings");
  const fs::path target = dir / "settings" / "real.cfg";
  Put(target, "old\r\n");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
  fs::create_symlink("settings/real.cfg", path);  // relative to the link's folder
  std::string error;
  ASSERT_TRUE(WriteConfigFile(Selection{1, 888, 0, 21420}, path, &error)) << error;
  EXPECT_EQ(fs::read_symlink(path), "settings/real.cfg");
  std::ifstream in(target, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
            FormatConfigText(Selection{1, 888, 0, 21420}));
  EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(EntriesInDir(), 2u);  // no temporary file left, here or beside the target
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "settings"), {}), 1);
}

TEST_F(ConfigFileTest, NewFileGetsTheDefaultCreationMode) {
  using P = fs::perms;
  const P rw = P::owner_read | P::owner_write;
  for (const auto& [mask, mode] : std::vector<std::pair<mode_t, P>>{
           {022, rw | P::group_read | P::others_read}, {077, rw},
           {002, rw | P::group_read | P::group_write | P::others_read}}) {
    fs::remove(path);
    const mode_t previous = ::umask(mask);
    const bool written = WriteConfigFile(Selection{}, path);
    ::umask(previous);
    ASSERT_TRUE(written);
    EXPECT_EQ(fs::status(path).permissions(), mode) << std::oct << mask;
  }
}

TEST_F(ConfigFileTest, StaleTemporariesOfOursAreRemovedOthersKept) {
  Put(path, "Interface =  2 \r\n");
  Put(dir / ".CommPort.cfg.tmp-Ab12Cd", "Interface =  1 \r\nPort Ad");  // a killed write
  Put(dir / "CommPort.cfg.Q7rT2x", "Interface =  2 \r\nPort Address =  8");  // older naming
  Put(dir / "CommPort.cfg.Xy12ab", "notes of the user");
  Put(dir / ".CommPort.cfg.tmp-Busy00", "Interface =  1 ");
  // A write under way in another program holds its temporary file locked.
  const int busy = ::open((dir / ".CommPort.cfg.tmp-Busy00").c_str(), O_RDONLY);
  ASSERT_EQ(::flock(busy, LOCK_EX), 0);
  EXPECT_EQ(RemoveStaleConfigTemporaries(path), 2);
  ::close(busy);
  EXPECT_FALSE(fs::exists(dir / ".CommPort.cfg.tmp-Ab12Cd"));
  EXPECT_FALSE(fs::exists(dir / "CommPort.cfg.Q7rT2x"));
  EXPECT_EQ(EntriesInDir(), 3u);
}

TEST_F(ConfigFileTest, FileSizeLimitIsAWriteErrorNotADeath) {
  const Selection old{2, 888, 0, 21420};
  ASSERT_TRUE(WriteConfigFile(old, path));
  const auto writeUnderLimit = [this] {  // in a child: SIGXFSZ would kill it without a word
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
  EXPECT_EQ(FileText(), FormatConfigText(old));
  EXPECT_EQ(EntriesInDir(), 1u);
}

}  // namespace
}  // namespace pemra
