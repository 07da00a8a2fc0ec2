// PpdevPortIo through the real ppdev calls, against a /dev/parport0 emulated in umockdev's
// testbed whose register ioctls drive the simulated parallel port and its sensor.

#include <grp.h>
#include <gtest/gtest.h>

#include <optional>

#include "backends/BackendsSupport.h"
#include "core/RegisterTable.h"
#include "interfaces/Fakes.h"
#include "interfaces/PpdevPortIo.h"
#include "interfaces/Session.h"

namespace pemra::test {
namespace {

constexpr uint16_t kBase = 0x378;

class PpdevPortIoTest : public ::testing::Test {
 protected:
  PpdevPortIoTest() { options.allowDirectPortIo = false; }  // never the host's real ports

  EmulatedBench& Reset() {
    bench.reset();
    return bench.emplace();
  }

  std::optional<EmulatedBench> bench;
  PpdevOptions options;  // the system's own paths, which the testbed stands in for
  RecordingMessageSink messages;
  FakeUsbDriver usb;
};

TEST_F(PpdevPortIoTest, RegistersTravelThroughPpdevToTheSensor) {
  const PortListing listings[] = {PortListing::Proc, PortListing::SysfsPlatform,
                                  PortListing::SysfsPnp};
  for (const PortListing listing : listings) {
    SCOPED_TRACE(static_cast<int>(listing));
    EmulatedBench& fresh = Reset();
    fresh.AddParallelPort("parport0", kBase, listing);
    uint16_t held = 0;
    {
      const auto lock = fresh.Lock();
      fresh.Rig().Sensor().PokeRegister(0x28, 0xC0DE);  // ALM_MAG2, as the sensor keeps it
      held = fresh.Rig().Sensor().PeekRegister(0x28);
    }
    {
      PpdevPortIo io(options);
      Session s(fresh.SessionClock(), messages, io, usb);
      s.selection.InterfaceType = 1;
      s.selection.PortAddress = static_cast<int16_t>(kBase);
      ASSERT_TRUE(s.parallel.EnablePortAccess()) << ::testing::PrintToString(Texts(messages));
      s.parallel.ParallelPortInit();
      s.access.WriteRegister(reg::ALM_MAG1, 0x1234);
      int16_t address = 0x28;
      EXPECT_EQ(s.access.ReadRawWord(address), held);
      EXPECT_EQ(fresh.PortClaims(), 1);
    }
    EXPECT_EQ(fresh.PortReleases(), 1);  // the port is given back when the back end goes
    const auto lock = fresh.Lock();
    EXPECT_EQ(fresh.Rig().Sensor().PeekRegister(0x26), 0x1234);
    EXPECT_TRUE(messages.messages.empty()) << ::testing::PrintToString(Texts(messages));
  }
}

TEST_F(PpdevPortIoTest, CliCommandsAnswerAsOnTheSimulatedPort) {
  Reset().AddParallelPort("parport0", kBase, PortListing::Proc);
  PpdevPortIo io(options);
  cli::Environment real = CliEnvironment();
  real.clock = &bench->SessionClock();
  real.portIo = &io;
  real.usbDriver = &usb;
  TestClock twinClock;
  sim::Rig twin(twinClock, EmulatedBench::DefaultRig());
  cli::Environment simulated = CliEnvironment();
  simulated.clock = &twinClock;
  simulated.rig = &twin;
  const std::vector<std::vector<std::string>> commands = {
      {"--trace", "write", "YACCL_OFF", "0F0E"},
      {"--trace", "read", "YACCL_OFF", "SMPL_PRD", "STATUS"},
  };
  for (const auto& command : commands) {
    SCOPED_TRACE(::testing::PrintToString(command));
    const std::vector<std::string> parallel = {"--interface", "parallel", "--port", "378", "--model", "21420"};
    const CliResult got = RunCli(Prefixed(parallel, command), real);
    const CliResult want = RunCli(Prefixed(Prefixed({"--simulate"}, parallel), command), simulated);
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(got.out, want.out);
    EXPECT_EQ(got.err, want.err);
  }
  const auto lock = bench->Lock();
  EXPECT_EQ(bench->Rig().Sensor().PeekRegister(0x22), 0x0F0E);
}

TEST_F(PpdevPortIoTest, PortThatCannotBeUsedIsNamedWithTheReason) {
  const struct group* lp = getgrnam("lp");
  const std::string notInLp = lp ? std::string(": the user is not in group ") + lp->gr_name : "";
  struct Case {
    const char* name;
    // Returns whether the node was given to group lp (root only), which the reason then names.
    bool (*arrange)(EmulatedBench&, gid_t);
    std::string device;
    std::string reason;
  };
  const Case cases[] = {
      {"claimed by another driver",
       [](EmulatedBench& b, gid_t) {
         b.AddParallelPort("parport0", kBase, PortListing::Proc);
         b.RefusePortClaim();
         return false;
       },
       "/dev/parport0", "the port could not be claimed: Device or resource busy"},
      {"no permission",
       [](EmulatedBench& b, gid_t group) {
         b.AddParallelPort("parport0", kBase, PortListing::SysfsPlatform);
         return TakeNodeAway(b, "/dev/parport0", group);
       },
       "/dev/parport0", "Permission denied"},
      {"no port at that address",
       [](EmulatedBench& b, gid_t) {
         b.AddParallelPort("parport0", 0x278, PortListing::Proc);
         return false;
       },
       "no parallel port with base address 0x378",
       "no port listed under /proc/sys/dev/parport or /sys/bus/parport/devices has that base "
       "address"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EmulatedBench& fresh = Reset();
    const bool givenToLp = c.arrange(fresh, lp ? lp->gr_gid : 7);
    PpdevPortIo io(options);
    std::string device;
    std::string reason;
    const WithoutFileOverride notRoot;
    EXPECT_FALSE(io.EnableAccess(kBase, device, reason));
    EXPECT_EQ(device, c.device);
    EXPECT_EQ(reason, c.reason + (givenToLp ? notInLp : ""));
  }
}

}  // namespace
}  // namespace pemra::test
