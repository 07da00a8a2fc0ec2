#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

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

}  // namespace
}  // namespace pemra
