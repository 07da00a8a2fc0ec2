#pragma once
// One connection to the sensor for the life of a pemra-cli run: the back ends (real, or
// the simulated rig), the session over them, the interface opened and the model applied
// the way the main window does it, once, on first use.

#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "cli/CommandLine.h"
#include "core/Clock.h"
#include "core/DeviceModel.h"
#include "core/Message.h"
#include "interfaces/Session.h"

namespace pemra {
class TimeOfDay;
}
namespace pemra::sim {
class Rig;
}

namespace pemra::cli {

// What a caller (a test) may put in place of what the program makes itself.
struct Environment {
  Clock* clock = nullptr;    // with --simulate: the clock of the simulated rig
  sim::Rig* rig = nullptr;   // with --simulate: this rig instead of a new one
  PortIo* portIo = nullptr;  // without --simulate: in place of the ppdev back end
  UsbDriver* usbDriver = nullptr;  // without --simulate: in place of the libusb back end
  std::filesystem::path configPath{std::string(kConfigFileName)};
  std::optional<char> decimalSeparator;  // default: the LC_NUMERIC locale's
  TimeOfDay* timeOfDay = nullptr;        // log: in place of the local time of day
};

// The decimal separator for a locale's decimal-point text: that character when it is one
// byte, else '.'.
char DecimalSeparatorOf(const char* decimalPoint);

// Messages go to standard error, one text per message.
class StreamMessageSink final : public MessageSink {
 public:
  explicit StreamMessageSink(std::ostream& stream) : stream_(stream) {}
  void Show(const Message& message) override;

 private:
  std::ostream& stream_;
};

class StreamTraceSink final : public TraceSink {
 public:
  explicit StreamTraceSink(std::ostream& stream) : stream_(stream) {}
  void Line(std::string_view line) override { stream_ << line << '\n'; }

 private:
  std::ostream& stream_;
};

class Connection {
 public:
  // `selection` is final: the configuration file and the options already applied.
  Connection(const Selection& selection, bool simulate, bool trace, const Environment& env,
             std::ostream& err);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The session, with its back ends made but no interface opened yet.
  Session& Raw();
  // The session with the interface open and the model applied; the first call does that.
  // On failure the messages are on standard error and the result is kExitFailed.
  int Open(Session*& session);
  // After an operation: false when the transport failed and deselected the adapter.
  bool Healthy();

  Clock& SessionClock() { return *clock_; }
  // "hs" or "fs": the rig this connection makes waits real hardware's time per bulk transfer
  // and port access ("fs" also makes its adapter a full-speed one). Before Raw.
  void SetSimTiming(std::string_view mode) { simTiming_ = mode; }
  char DecimalSeparator() const { return separator_; }
  const Environment& Env() const { return env_; }

 private:
  Selection selection_;
  bool simulate_;
  const Environment& env_;
  std::ostream& err_;
  char separator_;
  StreamMessageSink messages_;
  std::optional<StreamTraceSink> trace_;

  std::unique_ptr<Clock> ownClock_;
  Clock* clock_ = nullptr;
  std::unique_ptr<sim::Rig> ownRig_;
  std::unique_ptr<PortIo> ownPort_;
  std::unique_ptr<UsbDriver> ownUsb_;
  std::unique_ptr<Session> session_;
  ChartRanges ranges_;
  std::optional<int> opened_;  // the result of opening, once tried
  std::string simTiming_;
};

}  // namespace pemra::cli
