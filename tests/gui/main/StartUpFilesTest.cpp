// The configuration file at start and at exit when it is not what the program wrote:
// one that cannot be read, one of junk, and the leftovers of a killed write.

#include <QFile>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "gui/GuiTestSupport.h"
#include "gui/main/StartProgram.h"

namespace pemra {
namespace {

namespace fs = std::filesystem;
using testing::GuiRig;

std::string Text(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(StartUpFiles, UnreadableConfigurationIsReportedOnceAndKept) {
  GuiRig env;
  const fs::path config = env.app.options.configPath;
  fs::create_symlink("/dev/zero", config);
  env.session.selection = Selection{};
  env.app.options.simulate = false;
  PrepareSession(env.app);
  ASSERT_EQ(env.messages.messages.size(), 1u);
  const std::string& text = env.messages.messages[0].text;
  EXPECT_NE(text.find("Cannot read " + config.string() + ": it is not a regular file"),
            std::string::npos)
      << text;
  EXPECT_EQ(env.session.selection, Selection{});

  frmForm1& form = env.Load(2);
  env.messages.messages.clear();
  form.close();
  EXPECT_TRUE(form.ShutdownDone());
  EXPECT_TRUE(env.messages.messages.empty());  // not said again at exit
  EXPECT_TRUE(fs::is_symlink(config));
  EXPECT_EQ(fs::read_symlink(config), "/dev/zero");
}

TEST(StartUpFiles, JunkIsKeptAsBackupAndLeftoversAreRemoved) {
  GuiRig env;
  const fs::path config = env.app.options.configPath;
  std::ofstream(config, std::ios::binary) << "\xFF\xFEI\0n\0t\0";
  const fs::path leftover = config.parent_path() / ".CommPort.cfg.tmp-k9Lm2Q";
  std::ofstream(leftover, std::ios::binary) << "Interface =  2 \r\nPo";
  PrepareSession(env.app);
  EXPECT_FALSE(fs::exists(leftover));
  EXPECT_TRUE(env.messages.messages.empty());

  frmForm1& form = env.Load(2);
  form.close();
  EXPECT_EQ(Text(config.string() + ".bak"), "\xFF\xFEI");
  EXPECT_EQ(Text(config), FormatConfigText(env.session.selection));
}

}  // namespace
}  // namespace pemra
