// The Linux back ends on a machine with no parallel port and no adapter: they must fail
// with a message naming the device and the reason, never crash or hang.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>

#include "core/Clock.h"
#include "core/Message.h"
#include "interfaces/LibusbDriver.h"
#include "interfaces/ParallelPortSpi.h"
#include "interfaces/PpdevPortIo.h"
#include "interfaces/UsbAdapters.h"

namespace pemra {
namespace {

namespace fs = std::filesystem;

class PpdevTest : public ::testing::Test {
 public:
  PpdevTest() {
    root = fs::temp_directory_path() /
           ("pemra-ppdev-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "dev");
    options.procDir = root / "parport";
    options.devDir = root / "dev";
    options.sysfsDir = root / "sys" / "bus" / "parport" / "devices";
    options.allowDirectPortIo = false;  // never touch real I/O ports from a test
  }
  ~PpdevTest() override { fs::remove_all(root); }

  // A port in sysfs: `deviceDir` (under root/sys/devices) holds it, and the bus lists it.
  void SysfsPort(const std::string& name, const fs::path& deviceDir,
                 const std::string& resources = "") {
    const fs::path dir = root / "sys" / "devices" / deviceDir;
    fs::create_directories(dir / name);
    if (!resources.empty()) std::ofstream(dir / "resources") << resources;
    fs::create_directories(options.sysfsDir);
    fs::create_directory_symlink(dir / name, options.sysfsDir / name);
  }

  void ListPort(const std::string& name, const std::string& baseAddr) {
    fs::create_directories(options.procDir / name);
    std::ofstream(options.procDir / name / "base-addr") << baseAddr;
  }

  fs::path root;
  PpdevOptions options;
};

TEST_F(PpdevTest, NoPortPresentNamesTheDeviceAndTheReason) {
  struct Case {
    const char* name;
    std::function<void(PpdevTest&)> arrange;
    std::string device;
    std::string reasonPart;
  };
  const std::vector<Case> cases = {
      {"no parport listing", [](PpdevTest&) {}, "no parallel port with base address 0x378",
       "the system lists no parallel ports"},
      {"other base only",
       [](PpdevTest& t) {
         t.ListPort("default", "888\t1912\n");  // the defaults folder is not a port
         t.ListPort("parport0", "632\t1656\n");
       },
       "no parallel port with base address 0x378", "no port listed under"},
      {"ppdev device file missing", [](PpdevTest& t) { t.ListPort("parport1", "888\t1912\n"); },
       "parport1", "No such file or directory"},
      {"known to sysfs only, device file missing",
       [](PpdevTest& t) { t.SysfsPort("parport3", "platform/parport_pc.888"); }, "parport3",
       "No such file or directory"},
      {"not a ppdev device",
       [](PpdevTest& t) {
         t.ListPort("parport1", "888\t1912\n");
         std::ofstream(t.options.devDir / "parport1") << "";
       },
       "parport1", "the port could not be claimed"},
  };
  for (const auto& c : cases) {
    fs::remove_all(options.procDir);
    fs::remove_all(root / "sys");
    fs::remove_all(options.devDir);
    fs::create_directories(options.devDir);
    c.arrange(*this);
    PpdevPortIo port{options};
    std::string device;
    std::string reason;
    EXPECT_FALSE(port.EnableAccess(0x378, device, reason)) << c.name;
    EXPECT_NE(device.find(c.device), std::string::npos) << c.name << ": " << device;
    EXPECT_NE(reason.find(c.reasonPart), std::string::npos) << c.name << ": " << reason;
    // Without access the port reads as a floating bus and ignores writes.
    port.Out(0x378, 5);
    EXPECT_EQ(port.In(0x379), 0xFF) << c.name;
  }
}

TEST_F(PpdevTest, FindsThePortByItsBaseAddress) {
  ListPort("parport0", "632\t1656\n");
  ListPort("parport1", "888\t1912\n");
  ListPort("parport2", "garbage");
  EXPECT_EQ(PpdevPortIo::FindPortByBase(options.procDir, 0x378), "parport1");
  EXPECT_EQ(PpdevPortIo::FindPortByBase(options.procDir, 0x278), "parport0");
  EXPECT_EQ(PpdevPortIo::FindPortByBase(options.procDir, 0x3BC), std::nullopt);
  EXPECT_EQ(PpdevPortIo::FindPortByBase(root / "nowhere", 0x378), std::nullopt);
}

TEST_F(PpdevTest, FindsThePortInSysfs) {
  SysfsPort("parport0", "platform/parport_pc.956");
  SysfsPort("parport1", "pnp0/00:05", "state = active\nio 0x278-0x27f\nio 0x678-0x67f\nirq 5\n");
  SysfsPort("parport3", "platform/unknown");
  EXPECT_EQ(PpdevPortIo::FindPortInSysfs(options.sysfsDir, 0x3BC), "parport0");
  EXPECT_EQ(PpdevPortIo::FindPortInSysfs(options.sysfsDir, 0x278), "parport1");
  EXPECT_EQ(PpdevPortIo::FindPortInSysfs(options.sysfsDir, 0x678), std::nullopt);
  EXPECT_EQ(PpdevPortIo::FindPortInSysfs(options.sysfsDir, 0x378), std::nullopt);
  EXPECT_EQ(PpdevPortIo::FindPortInSysfs(root / "nowhere", 0x3BC), std::nullopt);
}

TEST_F(PpdevTest, TheUserSeesTheDriverMessageWithTheDevice) {
  PpdevPortIo port{options};
  Selection selection;
  selection.InterfaceType = 1;
  selection.PortAddress = 0x378;
  TestClock clock;
  RecordingMessageSink messages;
  ParallelPortSpi spi{selection, port, clock, messages};
  EXPECT_FALSE(spi.EnablePortAccess());
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0].text.substr(0, messages.messages[0].text.find('\n')),
            "The required I/O drivers could not be installed.");
  EXPECT_NE(messages.messages[0].text.find("\nno parallel port with base address 0x378: "),
            std::string::npos)
      << messages.messages[0].text;
}

TEST(LibusbDriverTest, NoAdapterPresent) {
  LibusbDriver driver;
  RecordingMessageSink messages;
  UsbAdapters adapters{driver, messages};
  adapters.FindAdapters();
  EXPECT_FALSE(adapters.UsbSelected);
  EXPECT_EQ(adapters.SelectedAdapterIndex, -1);
  EXPECT_EQ(adapters.AdapterCount, 0);
  ASSERT_EQ(messages.messages.size(), 1u);
  EXPECT_EQ(messages.messages[0].text, "No USB Buffers Found, Please Verify Setup and Restart");
}

TEST(LibusbDriverTest, BadNamesAndHandlesFailCleanly) {
  LibusbDriver driver;
  for (const char* name : {"Ezusb-4", "Ezusb-", "Ezusb-01x", "bogus", "Ezusb--1"}) {
    EXPECT_EQ(driver.Open(name), UsbDriver::kNoHandle) << name;
    EXPECT_FALSE(driver.LastError().empty()) << name;
  }
  driver.Close(UsbDriver::kNoHandle);
  driver.Close(7);
  uint8_t byte = 0;
  size_t transferred = 99;
  EXPECT_FALSE(driver.BulkWrite(3, 0, &byte, 1, transferred));
  EXPECT_EQ(transferred, 0u);
  EXPECT_FALSE(driver.BulkRead(UsbDriver::kNoHandle, 1, &byte, 1, transferred));
  std::vector<UsbPipeInfo> pipes;
  EXPECT_FALSE(driver.GetPipeInfo(0, pipes));
  std::array<uint8_t, 18> descriptor{};
  EXPECT_FALSE(driver.GetDeviceDescriptor(0, descriptor));
}

}  // namespace
}  // namespace pemra
