// The register listing: its exact lines, the reads behind them, and the saved file.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/Clock.h"
#include "core/RecordingTransport.h"
#include "core/RegisterAccess.h"
#include "interfaces/RegisterListing.h"
#include "support/ScratchDir.h"

namespace pemra {
namespace {

std::vector<std::string> Lines(const std::string& text, const std::string& end) {
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t next; (next = text.find(end, at)) != std::string::npos; at = next + end.size()) {
    lines.push_back(text.substr(at, next - at));
  }
  EXPECT_EQ(at, text.size()) << "the last line has no line end";
  return lines;
}

class RegisterListingTest : public ::testing::Test {
 protected:
  RegisterListingTest() {
    InitRegisterTable(table);
    selection.InterfaceType = 1;
    access.SetParallelTransport(&transport);
  }
  RegisterTable table;
  Selection selection;
  TestClock clock;
  test::RecordingTransport transport;
  RegisterAccess access{table, selection, clock};
};

TEST_F(RegisterListingTest, HeadingAndOneLinePerRegister) {
  transport.SetWord(16, 0x8000);  // XTEMP_OUT: new data, 0 = 25 degrees
  transport.SetWord(4, 0xBFFF);   // XGYRO_OUT: -1
  transport.SetWord(26, 0x1FFF);  // XGYRO_ OFF: 13-bit -1
  transport.SetWord(2, 0x8FFF);   // SUPPLY_OUT: 4095
  const auto lines = Lines(RegisterListing(access, ',', "\r\n"), "\r\n");
  ASSERT_EQ(lines.size(), 34u);
  EXPECT_EQ(lines[0], "Name\t\tAddr\thexValue\t   decValue");
  EXPECT_EQ(lines[1], "--------------------\t---------\t---------\t   ---------");
  EXPECT_EQ(lines[2], "ENDURANCE     \t0000\t0000\t   0,0");
  EXPECT_EQ(lines[3], "SUPPLY_OUT     \t0002\t0FFF\t   7,49999");
  EXPECT_EQ(lines[4], "XGYRO_OUT     \t0004\tFFFF\t   -0,07326");
  EXPECT_EQ(lines[10], "XTEMP_OUT     \t0010\t0000\t   25,0");
  EXPECT_EQ(lines[15], "XGYRO_ OFF     \t001A\tFFFF\t   -0,01832");
  EXPECT_EQ(lines[33], "COMMAND     \t003E\t----\t   ----");
}

TEST_F(RegisterListingTest, UnreadableEntriesAreNotReadAndShowNoValue) {
  transport.SetWord(22, 0x8123);  // AUX_ADC, the entry before Reserved
  const auto lines = Lines(RegisterListing(access, '.', "\n"), "\n");
  EXPECT_EQ(lines[14], "Reserved     \t0018\t----\t   ----");
  std::vector<int16_t> expected;
  for (int16_t i = 0; i < 32; ++i) {
    if (i != 12 && i != 31) expected.push_back(static_cast<int16_t>(2 * i));
  }
  EXPECT_EQ(transport.reads, expected);
}

TEST_F(RegisterListingTest, SavedFileEndsWithOneMoreLineEnd) {
  const testing::ScratchDir scratch;
  const auto path = scratch.path() / "Registers_LOG.txt";
  const std::string listing = RegisterListing(access);
  std::string error;
  ASSERT_TRUE(SaveRegisterListing(path, "old contents that are longer than the listing" + listing,
                                  &error));
  ASSERT_TRUE(SaveRegisterListing(path, listing, &error)) << error;  // replaced, not appended
  std::ifstream file(path, std::ios::binary);
  std::stringstream contents;
  contents << file.rdbuf();
  EXPECT_EQ(contents.str(), listing + "\r\n");
  EXPECT_TRUE(contents.str().ends_with("\r\n\r\n"));

  const auto bad = scratch.path() / "no-such-dir" / "Registers_LOG.txt";
  EXPECT_FALSE(SaveRegisterListing(bad, listing, &error));
  EXPECT_NE(error.find(bad.string()), std::string::npos);
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

}  // namespace
}  // namespace pemra
