#pragma once
// One connection to the sensor for the life of a pemra-cli run: the back ends (real, or
// the simulated rig), the session over them, the interface opened and the model applied
// the way the main window does it, once, on first use.

#include <filesystem>
#include <functional>
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
#include "sim/SimOptions.h"

namespace pemra {
class TimeOfDay;
}
namespace pemra::sim {
class Rig;
}

namespace pemra::cli {

// What a caller (a test) may put in place of what the program makes itself.
struct Environment {
  Clock* clock = nullptr;    // in place of the real clock (with --simulate, the rig's too)
  sim::Rig* rig = nullptr;   // with --simulate: this rig instead of a new one
  PortIo* portIo = nullptr;  // without --simulate: in place of the ppdev back end
  UsbDriver* usbDriver = nullptr;  // without --simulate: in place of the libusb back end
  FtdiDriver* ftdiDriver = nullptr;      // without --simulate: in place of libftdi
  SpidevDriver* spidevDriver = nullptr;  // without --simulate: in place of the kernel's spidev
  std::filesystem::path configPath{std::string(kConfigFileName)};
  std::optional<char> decimalSeparator;  // default: the LC_NUMERIC locale's
  TimeOfDay* timeOfDay = nullptr;        // log: in place of the local time of day
};

// The decimal separator for a locale's decimal-point text: that character when it is one
// byte, else '.'.
char DecimalSeparatorOf(const char* decimalPoint);

// Messages go to standard error, one text per message. While a register is being read or
// written, a message (a transport failure) is followed by what was under way and the
// back end's reason: "Error Reading SPI (reading ALM_MAG1: pipe error)".
class StreamMessageSink final : public MessageSink {
 public:
  explicit StreamMessageSink(std::ostream& stream) : stream_(stream) {}
  void Show(const Message& message) override;
  void SetContext(std::function<std::string()> context) { context_ = std::move(context); }

 private:
  std::ostream& stream_;
  std::function<std::string()> context_;
};

// Sits between register access and a transport: names the register each frame is for (for
// messages) and notices when every word read is all ones, as a port with nothing attached
// reads.
class WatchedTransport final : public RegisterTransport {
 public:
  // `driver`: the USB back end whose errors explain a failure of this transport.
  WatchedTransport(RegisterTransport& inner, const RegisterTable& table,
                   const UsbDriver* driver = nullptr)
      : inner_(inner), table_(table), driver_(driver) {}
  int32_t ReadWord(int16_t address) override;
  void WriteFramePair(int32_t frameA, int32_t frameB) override;
  // Passed on whole, so a transport that pipelines a burst still does.
  bool ReadWords(std::span<const int16_t> addresses, std::span<int32_t> words) override;
  // The inner transport's paced bursts, so a burst log on an FTDI board still has them.
  PacedBursts* Paced() override { return inner_.Paced(); }

  void Reset() { reads_ = onesReads_ = 0, statusOnes_ = false; }
  // True when reads were made and each gave FFFF, or a read of STATUS did.
  bool NoSensorSeen() const { return statusOnes_ || (reads_ > 0 && onesReads_ == reads_); }
  // "reading XGYRO_OUT" / "writing SMPL_PRD" while a frame is under way, else empty.
  const std::string& Doing() const { return doing_; }
  // The back end's reason for a failure during the current frame, or empty.
  std::string Cause() const;

 private:
  std::string NameAt(int addressBits) const;
  void Count(int16_t address, int32_t word);

  RegisterTransport& inner_;
  const RegisterTable& table_;
  const UsbDriver* driver_;
  std::string errorBefore_;
  std::string doing_;
  int reads_ = 0;
  int onesReads_ = 0;
  bool statusOnes_ = false;
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
  // Said before the connection is first opened (which settings CommPort.cfg supplied).
  void SetOpeningNote(std::string note) { openingNote_ = std::move(note); }
  // After a command's reads: warns on standard error when no sensor seems to answer.
  void WarnIfNoSensor();

  Clock& SessionClock() { return *clock_; }
  // "hs" or "fs": the rig this connection makes waits real hardware's time per bulk transfer,
  // port access, FTDI command buffer and spidev message ("fs" also makes its adapter a
  // full-speed one). Before Raw.
  void SetSimTiming(std::string_view mode) { simTiming_ = mode; }
  // The simulator's motion, seed, noise and clock. Before Raw.
  void SetSimSettings(const sim::SimSettings& settings) { simSettings_ = settings; }
  // On the virtual clock: the time of day that follows it (from the real time at the start),
  // for the logs; else null.
  TimeOfDay* VirtualTimeOfDay() { return virtualDay_.get(); }
  // The time of day a log carries: the caller's (a test's), else the virtual clock's, else
  // the system's local time.
  TimeOfDay& LogTimeOfDay();
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
  std::unique_ptr<FtdiDriver> ownFtdi_;
  std::unique_ptr<SpidevDriver> ownSpidev_;
  std::unique_ptr<Session> session_;
  ChartRanges ranges_;
  std::optional<int> opened_;  // the result of opening, once tried
  std::string openingNote_;
  std::unique_ptr<WatchedTransport> watchedParallel_;
  std::unique_ptr<WatchedTransport> watchedUsb_;
  std::unique_ptr<WatchedTransport> watchedFtdi_;
  std::unique_ptr<WatchedTransport> watchedSpidev_;
  // The watched transport of the selected interface (the parallel port's for none).
  WatchedTransport& Watched();
  std::string simTiming_;
  sim::SimSettings simSettings_;
  std::unique_ptr<TimeOfDay> virtualDay_;
  std::unique_ptr<TimeOfDay> systemDay_;
};

}  // namespace pemra::cli
