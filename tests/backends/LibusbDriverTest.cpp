// LibusbDriver through the real libusb, against adapters emulated in umockdev's testbed whose
// usbdevfs requests the simulated adapter answers.

#include <grp.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <memory>

#include "backends/BackendsSupport.h"
#include "core/RegisterTable.h"
#include "interfaces/Fakes.h"
#include "interfaces/LibusbDriver.h"
#include "interfaces/Session.h"

namespace pemra::test {
namespace {

constexpr sim::AdapterOptions kHighSpeedFifo4{true, kProductFifo4, true};
constexpr sim::AdapterOptions kFullSpeedMcp{true, kProductMcp, false};
constexpr const char* kNoAdapters = "No USB Buffers Found, Please Verify Setup and Restart";

// The trace line UsbAdapters writes for a bulk transfer, from what crossed the node.
std::string TraceOf(const UrbRecord& urb) {
  const int pipe = static_cast<int>(
      std::find(sim::kPipeEndpoints.begin(), sim::kPipeEndpoints.end(), urb.endpoint) -
      sim::kPipeEndpoints.begin());
  std::string line = fmt::format("usb {} pipe {}:", (urb.endpoint & 0x80) ? '<' : '>', pipe);
  for (uint8_t b : urb.bytes) line += fmt::format(" {:02X}", b);
  return line;
}

std::vector<std::string> UsbLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    if (line.starts_with("usb ")) lines.push_back(line);
  }
  return lines;
}

class LibusbDriverTest : public ::testing::Test {
 protected:
  LibusbDriverTest() { Reset(); }
  // A new bench with nothing plugged in; what used the old one goes first.
  EmulatedBench& Reset() {
    session.reset();
    driver.reset();
    bench.reset();
    messages.messages.clear();
    trace.lines.clear();
    return bench.emplace();
  }
  // A session on the real driver, with the adapters plugged in so far.
  Session& Open() {
    driver = std::make_unique<LibusbDriver>();
    session = std::make_unique<Session>(clock, messages, port, *driver, &trace);
    session->selection.InterfaceType = 2;
    return *session;
  }
  // The search, then the settings every selection sends.
  Session& Selected() {
    Session& s = Open();
    s.adapters.FindAdapters();
    s.usbSpi.SetSpiBits(s.usbSpi.StaticBits);
    s.usbSpi.SetSpiDelay(s.usbSpi.UsbSpiDelay);
    EXPECT_TRUE(s.adapters.UsbSelected) << ::testing::PrintToString(Texts(messages));
    return s;
  }

  std::optional<EmulatedBench> bench;  // declared first: it outlives what uses it
  TestClock clock;
  RecordingMessageSink messages;
  RecordingTraceSink trace;
  FakePortIo port;
  std::unique_ptr<LibusbDriver> driver;
  std::unique_ptr<Session> session;
};

TEST_F(LibusbDriverTest, CliCommandsAnswerAsOnTheSimulatedRig) {
  bench->AddAdapter(41, 1, kHighSpeedFifo4);
  driver = std::make_unique<LibusbDriver>();
  cli::Environment real = CliEnvironment();
  real.usbDriver = driver.get();
  port.accessGranted = false;
  port.ports = {{"parport0", 0x378}};  // listed as the simulated rig lists its port
  real.portIo = &port;
  // The same sensor and adapter, reached through the simulated back end.
  TestClock twinClock;
  sim::RigOptions twinOptions = EmulatedBench::DefaultRig();
  twinOptions.adapters[0] = kHighSpeedFifo4;
  sim::Rig twin(twinClock, twinOptions);
  cli::Environment simulated = CliEnvironment();
  simulated.clock = &twinClock;
  simulated.rig = &twin;

  const std::vector<std::vector<std::string>> commands = {
      {"scan"},
      {"--trace", "read", "XGYRO_OUT", "ALM_MAG1", "STATUS"},
      {"--trace", "write", "XGYRO_OFF", "1ABC"},
      {"read", "xgyro_off"},
      {"dump"},
  };
  for (const auto& command : commands) {
    SCOPED_TRACE(::testing::PrintToString(command));
    const size_t urbsBefore = bench->Urbs(0).size();
    const CliResult got = RunCli(Prefixed({"--interface", "usb", "--model", "21420"}, command), real);
    const CliResult want =
        RunCli(Prefixed({"--simulate", "--interface", "usb", "--model", "21420"}, command), simulated);
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(got.out, want.out);
    EXPECT_EQ(got.err, want.err);
    // Under --trace every bulk line shows exactly the bytes that crossed the node.
    if (command.front() == "--trace") {
      const std::vector<UrbRecord> urbs = bench->Urbs(0);
      std::vector<std::string> wire;
      for (size_t i = urbsBefore; i < urbs.size(); ++i) wire.push_back(TraceOf(urbs[i]));
      EXPECT_EQ(UsbLines(got.err), wire);
    }
  }
  const auto lock = bench->Lock();
  EXPECT_EQ(bench->Rig().Sensor().PeekRegister(0x1A), 0x1ABC);
}

TEST_F(LibusbDriverTest, AdaptersTakeTheSlotsInBusAndPortOrder) {
  // Plugged in out of order; an adapter of an unknown board takes a slot but is not counted.
  const int mcp = bench->AddAdapter(42, 1, kFullSpeedMcp);
  const int fifo4 = bench->AddAdapter(41, 3, kHighSpeedFifo4);
  bench->AddAdapter(41, 2, sim::AdapterOptions{true, 0xC4B0, true});
  Session& s = Selected();
  EXPECT_EQ(s.adapters.AdapterCount, 2);
  EXPECT_EQ(s.adapters.SelectedAdapterIndex, 1);
  const std::vector<std::tuple<bool, std::string, std::string>> slots = {
      {false, "None", ""}, {true, "FIFO4", "2"}, {true, "MCP", "1.1"}, {false, "None", ""}};
  for (size_t i = 0; i < slots.size(); ++i) {
    const AdapterSlot& slot = s.adapters.AdapterSlots[i];
    EXPECT_EQ(std::tie(slot.Present, slot.BoardType, slot.UsbSpeed), slots[i]) << "slot " << i;
  }
  // Register traffic goes to the selected adapter only.
  const size_t mcpUrbs = bench->Urbs(mcp).size();
  s.access.ReadRegister(reg::ALM_MAG1);
  EXPECT_EQ(bench->Urbs(mcp).size(), mcpUrbs);
  EXPECT_EQ(TraceOf(bench->Urbs(fifo4).at(bench->Urbs(fifo4).size() - 2)),
            "usb > pipe 0: 0D 01 02 26 00 26 00");
  EXPECT_TRUE(messages.messages.empty()) << ::testing::PrintToString(Texts(messages));
}

TEST_F(LibusbDriverTest, BoardInfoNeedsBothStringsInSomeLanguage) {
  struct Case {
    Strings strings;
    bool present;
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {Strings::AnyLanguage, true, {}},
      {Strings::OwnLanguageOnly, true, {}},  // asked again in the adapter's own language
      {Strings::None, false,
       {"Error getting Board Info", "No Valid USB Buffers Found, Please Verify Setup and Restart"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.strings));
    EmulatedBench& fresh = Reset();
    fresh.AnswerStrings(fresh.AddAdapter(41, 1, kHighSpeedFifo4), c.strings);
    Session& s = Open();
    s.adapters.FindAdapters();
    const AdapterSlot& slot = s.adapters.AdapterSlots[0];
    EXPECT_EQ(Texts(messages), c.messages);
    EXPECT_EQ(slot.Present, c.present);
    EXPECT_EQ(s.adapters.AdapterCount, 1);
    if (c.present) {
      EXPECT_EQ(std::tie(slot.Descriptor1Text, slot.Descriptor2Text),
                std::tie(sim::kManufacturerText, sim::kProductText));
    }
  }
}

TEST_F(LibusbDriverTest, SilentAdapterTimesOutAfterOneSecond) {
  const int adapter = bench->AddAdapter(41, 1, kHighSpeedFifo4);
  Session& s = Selected();
  bench->WithholdReplies(adapter);
  s.access.ReadRegister(reg::ALM_MAG1);
  EXPECT_EQ(Texts(messages), std::vector<std::string>{"Error Reading SPI"});
  EXPECT_FALSE(s.adapters.UsbSelected);
  EXPECT_THAT(trace.lines, ::testing::Contains("usb < pipe 1: (failed: LIBUSB_ERROR_TIMEOUT)"));
  // libusb gave up on the pending read, and not before the time-out (less a little: the
  // bench notes the request a moment after libusb has started its timer).
  const auto discarded = bench->DiscardedAfter(adapter);
  ASSERT_EQ(discarded.size(), 1u);
  EXPECT_GE(discarded[0], std::chrono::milliseconds(990));
}

TEST_F(LibusbDriverTest, UnpluggedAdapterFailsOnceAndIsDeselected) {
  struct Case {
    const char* name;
    void (*unplug)(EmulatedBench&, int);
    const char* message;
  };
  const Case cases[] = {
      {"node gone before the exchange", [](EmulatedBench& b, int a) { b.Unplug(a); },
       "Error Writing SPI"},
      {"pulled out between command and reply",
       [](EmulatedBench& b, int a) { b.FailAfterUrbs(a, 1); }, "Error Reading SPI"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EmulatedBench& fresh = Reset();
    const int adapter = fresh.AddAdapter(41, 1, kHighSpeedFifo4);
    Session& s = Selected();
    messages.messages.clear();
    c.unplug(fresh, adapter);
    s.access.ReadRegister(reg::ALM_MAG1);
    const size_t urbs = fresh.Urbs(adapter).size();
    s.access.ReadRegister(reg::ALM_MAG1);  // deselected: nothing is sent, nothing shown
    EXPECT_EQ(Texts(messages), std::vector<std::string>{c.message});
    EXPECT_FALSE(s.adapters.UsbSelected);
    EXPECT_EQ(fresh.Urbs(adapter).size(), urbs);
  }
  // A search after the unplug finds nothing; one after plugging in again finds the adapter.
  EmulatedBench& fresh = Reset();
  fresh.AddAdapter(41, 1, kHighSpeedFifo4);
  Session& s = Selected();
  messages.messages.clear();
  fresh.Unplug(0);
  s.adapters.FindAdapters();
  EXPECT_EQ(Texts(messages), std::vector<std::string>{kNoAdapters});
  fresh.AddAdapter(41, 2, kFullSpeedMcp);
  s.adapters.FindAdapters();
  EXPECT_TRUE(s.adapters.UsbSelected);
  EXPECT_EQ(s.adapters.SelectedAdapter.BoardType, "MCP");
}

TEST_F(LibusbDriverTest, AdapterThatCannotBeOpenedIsNamedWithTheReason) {
  const struct group* plugdev = getgrnam("plugdev");
  struct Case {
    const char* name;
    bool takeNode;
    bool refuseClaim;
    std::string reason;
  };
  const Case cases[] = {
      {"no permission", true, false,
       "LIBUSB_ERROR_ACCESS: no permission to open it; join group " +
           std::string(plugdev ? "plugdev" : "46") +
           " (the group of /dev/bus/usb/041/002) and log in again"},
      {"claimed by another program", false, true,
       "LIBUSB_ERROR_BUSY: another program has claimed it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EmulatedBench& fresh = Reset();
    const int adapter = fresh.AddAdapter(41, 1, kHighSpeedFifo4);
    if (c.takeNode) TakeNodeAway(fresh, fresh.DevNode(adapter), plugdev ? plugdev->gr_gid : 46);
    fresh.RefuseClaim(adapter, c.refuseClaim);
    Session& s = Open();
    const WithoutFileOverride notRoot;
    s.adapters.FindAdapters();
    EXPECT_EQ(Texts(messages), std::vector<std::string>{std::string(kNoAdapters) + "\nEzusb-0: " +
                                                    c.reason});
    EXPECT_FALSE(s.adapters.UsbSelected);
  }
}

}  // namespace
}  // namespace pemra::test
