// The data directory: --data-dir, else the program's directory when writable, else the
// documents folder under pemra/ (created), found through the XDG user-dirs file.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/DataDirectory.h"

namespace pemra {
namespace {

namespace fs = std::filesystem;

class DataDirectoryTest : public ::testing::Test {
 protected:
  DataDirectoryTest() {
    // A folder of its own: ctest runs the tests of this fixture in parallel processes.
    std::string pattern = (fs::temp_directory_path() / "pemra-data-dir-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) home = pattern;
    fs::create_directories(home / ".config");
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
  }
  ~DataDirectoryTest() override {
    setenv("HOME", savedHome.c_str(), 1);
    fs::remove_all(home);
  }
  const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "/";
  fs::path home;
};

TEST_F(DataDirectoryTest, GivenThenWritableProgramDirectoryThenDocuments) {
  const fs::path notADirectory = home / "program-file";
  std::ofstream(notADirectory) << "x";
  EXPECT_EQ(ChooseDataDirectory(fs::path("rel"), home), fs::current_path() / "rel");
  EXPECT_EQ(ChooseDataDirectory(std::nullopt, home), home);
  EXPECT_EQ(ChooseDataDirectory(std::nullopt, notADirectory), home / "Documents" / "pemra");
  EXPECT_TRUE(fs::is_directory(home / "Documents" / "pemra"));
}

TEST_F(DataDirectoryTest, DocumentsFolderFromTheUserDirsFile) {
  std::ofstream(home / ".config" / "user-dirs.dirs")
      << "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
         "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
  EXPECT_EQ(ChooseDataDirectory(std::nullopt, home / "missing"), home / "Dokumente" / "pemra");
  unsetenv("HOME");
  std::string error;
  EXPECT_EQ(ChooseDataDirectory(std::nullopt, home / "missing", &error), home / "missing");
  EXPECT_NE(error.find("HOME"), std::string::npos);
}

}  // namespace
}  // namespace pemra
