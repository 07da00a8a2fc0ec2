// The atomic replace underneath CommPort.cfg and the register listing: the temporary is on
// the disk before it takes the name, a FIFO is written in place, a name the system would
// cut short is refused.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "core/AtomicFile.h"
#include "support/ScratchDir.h"
#include "support/TestDisk.h"

namespace pemra {
namespace {

namespace fs = std::filesystem;

const std::string kConfigText =
    "Interface =  2 \r\nPort Address =  888 \r\nFactory =  0 \r\nProduct =  21420 \r\n";

TEST(AtomicFile, TheTemporaryIsSyncedWholeBeforeItTakesTheName) {
  const testing::ScratchDir dir;
  std::ofstream(dir.path() / "CommPort.cfg") << "Interface =  1 \r\n";
  testing::TestDisk disk;
  std::string error;
  ASSERT_TRUE(ReplaceFileAtomically(dir.path() / "CommPort.cfg", kConfigText, &error, disk))
      << error;
  ASSERT_EQ(disk.syncs.size(), 1u);
  EXPECT_TRUE(disk.syncs[0].first.starts_with(".CommPort.cfg.tmp-")) << disk.syncs[0].first;
  EXPECT_EQ(disk.syncs[0].second, kConfigText.size());
}

TEST(AtomicFile, AFifoWithAReaderGetsTheTextAndStaysAFifo) {
  const testing::ScratchDir dir;
  const fs::path fifo = dir.path() / "CommPort.cfg";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  std::string error;
  EXPECT_TRUE(ReplaceFileAtomically(fifo, kConfigText, &error)) << error;
  std::string got(256, '\0');
  const ssize_t n = ::read(reader, got.data(), got.size());
  ::close(reader);
  got.resize(n > 0 ? static_cast<size_t>(n) : 0);
  EXPECT_EQ(got, kConfigText);
  struct stat st {};
  ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(AtomicFile, ANameWithANulIsRefusedNotCutShort) {
  const testing::ScratchDir dir;
  const fs::path path = dir.path() / std::string("a\0b", 3);
  std::string error;
  EXPECT_FALSE(ReplaceFileAtomically(path, kConfigText, &error));
  EXPECT_TRUE(error.ends_with(": Invalid argument")) << error;
  EXPECT_EQ(fs::directory_iterator(dir.path()), fs::directory_iterator());
}

}  // namespace
}  // namespace pemra
