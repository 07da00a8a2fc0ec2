#include "gui/main/LinkStatus.h"

#include <cmath>

#include "core/Timing.h"
#include "interfaces/SpiFrames.h"

namespace pemra {

namespace {
constexpr Nanoseconds kRateWindow = std::chrono::seconds(1);
constexpr std::string_view kDevicePrefix = "Ezusb-";
}  // namespace

SensorAnswer InterfaceAnswer(const Session& session) {
  switch (session.selection.InterfaceType) {
    case 1:
      if (session.selection.PortAddress == 0) return SensorAnswer::NoPortAddress;
      return session.parallel.PortIoEnabled ? SensorAnswer::NotRead : SensorAnswer::NoPortAccess;
    case 2:
      return session.adapters.UsbSelected ? SensorAnswer::NotRead : SensorAnswer::NoAdapter;
    case kInterfaceFtdi:
    case kInterfaceSpidev:
      return InterfaceUsable(session) ? SensorAnswer::NotRead : SensorAnswer::NoAdapter;
    default:
      return SensorAnswer::NoInterface;
  }
}

std::string InterfaceText(const Session& session) {
  switch (session.selection.InterfaceType) {
    case 1:
      return "Parallel port " + NumberToHex(session.selection.PortAddress);
    case 2: {
      if (!session.adapters.UsbSelected) return "USB adapter";
      const AdapterSlot& adapter = session.adapters.SelectedAdapter;
      std::string name = adapter.DeviceName;
      if (name.starts_with(kDevicePrefix)) name = "EzUsb" + name.substr(kDevicePrefix.size());
      const char* speed = adapter.UsbSpeed == "2" ? "high speed" : "full speed";
      return "USB " + name + ", " + speed;
    }
    case kInterfaceFtdi:
      if (!session.ftdi.FtdiSelected) return "FTDI board";
      return FtdiChannelName(session.ftdi.SelectedChannel) + ", " +
             SerialTimingText(session.ftdi.ClockHz(), session.ftdi.StallMicroseconds(),
                              session.ftdi.LowPowerTiming());
    case kInterfaceSpidev: {
      if (!session.spidev.SpidevSelected) return "SPI device";
      std::string text = "SPI " + session.spidev.SelectedDevice + ", " +
                         SerialTimingText(session.spidev.ClockHz(),
                                          session.spidev.StallMicroseconds(),
                                          session.spidev.LowPowerTiming());
      if (session.spidev.BitsPerWord() != 16) text += ", 8-bit words";
      return text;
    }
    default:
      return "No interface";
  }
}

std::string AnswerText(SensorAnswer answer) {
  switch (answer) {
    case SensorAnswer::NotRead:
      return {};
    case SensorAnswer::Answers:
      return "sensor answers";
    case SensorAnswer::Silent:
      return "no answer (every read gives 0)";
    case SensorAnswer::NoInterface:
      return "no answer (select an interface)";
    case SensorAnswer::NoPortAddress:
      return "no answer (port address 0)";
    case SensorAnswer::NoPortAccess:
      return "no answer (no access to the port)";
    case SensorAnswer::NoAdapter:
      return "no answer (no adapter selected)";
  }
  return {};
}

std::optional<double> LoopRateMeter::Count(Nanoseconds now) {
  if (!started_) {
    started_ = true;
    windowStart_ = now;
    samples_ = 0;
    return std::nullopt;
  }
  ++samples_;
  const Nanoseconds elapsed = now - windowStart_;
  if (elapsed < kRateWindow) return std::nullopt;
  const double rate = samples_ / std::chrono::duration<double>(elapsed).count();
  windowStart_ = now;
  samples_ = 0;
  return rate;
}

std::string RateText(double samplesPerSecond) {
  return std::to_string(std::lround(samplesPerSecond)) + " samples/s";
}

}  // namespace pemra
