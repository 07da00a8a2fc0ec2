#include "cli/Connection.h"

#include <clocale>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "core/Timing.h"
#include "interfaces/LibftdiDriver.h"
#include "interfaces/LibusbDriver.h"
#include "interfaces/LinuxSpidevDriver.h"
#include "interfaces/PpdevPortIo.h"
#include "datalog/TimeOfDay.h"
#include "sim/Rig.h"
#include "sim/VirtualClock.h"

namespace pemra::cli {

namespace {

char LocaleDecimalSeparator() {
  const std::lconv* conventions = std::localeconv();
  return DecimalSeparatorOf(conventions != nullptr ? conventions->decimal_point : nullptr);
}

}  // namespace

char DecimalSeparatorOf(const char* decimalPoint) {
  // A separator of several bytes (U+066B in UTF-8, for example) cannot be put out as one
  // character; its first byte alone would print broken text.
  if (decimalPoint == nullptr || decimalPoint[0] == '\0' || decimalPoint[1] != '\0') return '.';
  return decimalPoint[0];
}

void StreamMessageSink::Show(const Message& message) {
  // Texts made for message boxes may break lines with CR LF.
  std::string text = message.text;
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
    text.erase(at, 1);
  }
  if (context_) text += context_();
  stream_ << text << '\n';
}

std::string WatchedTransport::NameAt(int addressBits) const {
  const int even = addressBits & 0x7E;
  for (int16_t i = 0; i < kFilledRegisters; ++i) {
    const RegisterEntry& entry = table_[static_cast<size_t>(i)];
    if (entry.RegAddress == even) {
      std::string name = entry.RegName;
      name.erase(name.find_last_not_of(' ') + 1);
      return name;
    }
  }
  return "address " + NumberToHex(even);
}

std::string WatchedTransport::Cause() const {
  if (driver_ == nullptr) return {};
  std::string error = driver_->LastError();
  return error != errorBefore_ ? error : std::string();
}

int32_t WatchedTransport::ReadWord(int16_t address) {
  if (driver_ != nullptr) errorBefore_ = driver_->LastError();
  doing_ = "reading " + NameAt(address);
  const int32_t word = inner_.ReadWord(address);
  doing_.clear();
  Count(address, word);
  return word;
}

void WatchedTransport::Count(int16_t address, int32_t word) {
  ++reads_;
  if ((word & 0xFFFF) == 0xFFFF) {
    ++onesReads_;
    if ((address & 0x7E) == table_[reg::STATUS].RegAddress) statusOnes_ = true;
  }
}

bool WatchedTransport::ReadWords(std::span<const int16_t> addresses, std::span<int32_t> words) {
  if (addresses.empty()) return inner_.ReadWords(addresses, words);
  if (driver_ != nullptr) errorBefore_ = driver_->LastError();
  doing_ = "reading " + NameAt(addresses[0]) +
           (addresses.size() > 1 ? " and " + std::to_string(addresses.size() - 1) + " more" : "");
  const bool ok = inner_.ReadWords(addresses, words);
  doing_.clear();
  if (ok) {
    for (size_t i = 0; i < addresses.size() && i < words.size(); ++i) Count(addresses[i], words[i]);
  }
  return ok;
}

void WatchedTransport::WriteFramePair(int32_t frameA, int32_t frameB) {
  if (driver_ != nullptr) errorBefore_ = driver_->LastError();
  doing_ = "writing " + NameAt(frameB >> 8);
  inner_.WriteFramePair(frameA, frameB);
  doing_.clear();
}

Connection::Connection(const Selection& selection, bool simulate, bool trace,
                       const Environment& env, std::ostream& err)
    : selection_(selection),
      simulate_(simulate),
      env_(env),
      err_(err),
      separator_(env.decimalSeparator.value_or(LocaleDecimalSeparator())),
      messages_(err) {
  if (trace) trace_.emplace(err);
}

Connection::~Connection() = default;

Session& Connection::Raw() {
  if (session_) return *session_;
  PortIo* port = nullptr;
  UsbDriver* usb = nullptr;
  FtdiDriver* ftdi = nullptr;
  SpidevDriver* spidev = nullptr;
  if (simulate_) {
    clock_ = env_.clock;
    if (clock_ == nullptr) {
      if (simSettings_.virtualClock) {
        ownClock_ = std::make_unique<sim::VirtualClock>();
      } else {
        ownClock_ = std::make_unique<RealClock>();
      }
      clock_ = ownClock_.get();
    }
    if (simSettings_.virtualClock) {
      SystemTimeOfDay now;
      virtualDay_ = std::make_unique<ClockTimeOfDay>(*clock_, now.SecondsSinceMidnight(),
                                                     now.DateText(), now.TimeText());
    }
    sim::Rig* rig = env_.rig;
    if (rig == nullptr) {
      // The simulated sensor is the model the run talks to, so its output formats and
      // scales are the ones the register table converts with.
      sim::RigOptions options;
      if (IsKnownModel(selection_.DeviceType)) options.model = selection_.DeviceType;
      options.timingModel = !simTiming_.empty();
      if (simTiming_ == "fs") options.adapters[0].highSpeed = false;
      sim::ApplySimSettings(simSettings_, options);
      ownRig_ = std::make_unique<sim::Rig>(*clock_, options);
      ownRig_->SimUsb().SetRecordLimit(0);  // the record is for tests; --trace shows traffic
      ownRig_->Ftdi().SetRecordLimit(0);
      rig = ownRig_.get();
    }
    port = &rig->Port();
    usb = &rig->Usb();
    ftdi = &rig->Ftdi();
    spidev = &rig->Spidev();
  } else {
    clock_ = env_.clock;
    if (clock_ == nullptr) {
      ownClock_ = std::make_unique<RealClock>();
      clock_ = ownClock_.get();
    }
    port = env_.portIo;
    if (port == nullptr) {
      ownPort_ = std::make_unique<PpdevPortIo>();
      port = ownPort_.get();
    }
    usb = env_.usbDriver;
    if (usb == nullptr) {
      ownUsb_ = std::make_unique<LibusbDriver>();
      usb = ownUsb_.get();
    }
    ftdi = env_.ftdiDriver;
    if (ftdi == nullptr) {
      ownFtdi_ = std::make_unique<LibftdiDriver>();
      ftdi = ownFtdi_.get();
    }
    spidev = env_.spidevDriver;
    if (spidev == nullptr) {
      ownSpidev_ = std::make_unique<LinuxSpidevDriver>();
      spidev = ownSpidev_.get();
    }
  }
  session_ = std::make_unique<Session>(*clock_, messages_, *port, *usb,
                                       trace_ ? &*trace_ : nullptr, ftdi, spidev);
  session_->selection = selection_;
  Session& s = *session_;
  watchedParallel_ = std::make_unique<WatchedTransport>(s.parallel, s.access.Table());
  watchedUsb_ = std::make_unique<WatchedTransport>(s.usbSpi, s.access.Table(), usb);
  // The FTDI and spidev messages carry the back end's reason themselves.
  watchedFtdi_ = std::make_unique<WatchedTransport>(s.ftdi, s.access.Table());
  watchedSpidev_ = std::make_unique<WatchedTransport>(s.spidev, s.access.Table());
  s.access.SetParallelTransport(watchedParallel_.get());
  s.access.SetUsbTransport(watchedUsb_.get());
  s.access.SetTransport(kInterfaceFtdi, watchedFtdi_.get());
  s.access.SetTransport(kInterfaceSpidev, watchedSpidev_.get());
  messages_.SetContext([this] {
    const WatchedTransport& busy = Watched();
    if (busy.Doing().empty()) return std::string();
    const std::string cause = busy.Cause();
    return " (" + busy.Doing() + (cause.empty() ? "" : ": " + cause) + ")";
  });
  return s;
}

int Connection::Open(Session*& session) {
  Session& s = Raw();
  session = &s;
  if (opened_) return *opened_;
  if (!openingNote_.empty()) err_ << openingNote_;
  // Settings that cannot work are usage errors, found before anything is sent.
  if (!IsKnownModel(s.selection.DeviceType)) {
    err_ << fmt::format(
        "pemra-cli: the sensor model {} is not known: give --model with one of {}\n",
        s.selection.DeviceType, fmt::join(kModelCodes, ", "));
    opened_ = kExitUsage;
    return kExitUsage;
  }
  const int16_t type = s.selection.InterfaceType;
  if (type < kInterfaceParallel || type > kInterfaceSpidev) {
    err_ << "pemra-cli: no interface selected: give --interface usb, parallel, ftdi or spidev\n";
    opened_ = kExitUsage;
    return kExitUsage;
  }
  opened_ = kExitFailed;
  switch (s.selection.InterfaceType) {
    case 1:
      // Port access, then the lines to idle.
      if (!s.parallel.EnablePortAccess()) return kExitFailed;
      s.parallel.ParallelPortInit();
      break;
    case 2:
      // The search selects the first adapter; it is then given its settings.
      s.adapters.FindAdapters();
      if (!s.adapters.UsbSelected) return kExitFailed;
      s.usbSpi.SetSpiBits(s.usbSpi.StaticBits);
      s.usbSpi.SetSpiDelay(s.usbSpi.UsbSpiDelay);
      if (!s.adapters.UsbSelected) return kExitFailed;
      break;
    case kInterfaceFtdi:
      if (!s.ftdi.Select(s.selection.Device)) return kExitFailed;
      break;
    case kInterfaceSpidev:
      if (!s.spidev.Select(s.selection.Device)) return kExitFailed;
      if (s.spidev.BitsPerWord() != 16) {
        err_ << "pemra-cli: " << s.spidev.SelectedDevice
             << " takes no 16-bit words: each frame goes as two 8-bit words\n";
      }
      break;
    default:
      break;
  }
  // The model's register table and gyro scales, before any read of ours.
  SetDevice(s.selection.DeviceType, s.selection, s.access, ranges_, messages_, separator_);
  if (!Healthy()) return kExitFailed;
  Watched().Reset();
  opened_ = kExitDone;
  return kExitDone;
}

WatchedTransport& Connection::Watched() {
  switch (session_->selection.InterfaceType) {
    case kInterfaceUsb:
      return *watchedUsb_;
    case kInterfaceFtdi:
      return *watchedFtdi_;
    case kInterfaceSpidev:
      return *watchedSpidev_;
    default:
      return *watchedParallel_;
  }
}

void Connection::WarnIfNoSensor() {
  if (!session_ || !opened_ || *opened_ != kExitDone) return;
  if (!Watched().NoSensorSeen()) return;
  const Selection& selection = session_->selection;
  std::string where;
  switch (selection.InterfaceType) {
    case kInterfaceParallel:
      where = "the parallel port at " + NumberToHex(selection.PortAddress);
      break;
    case kInterfaceFtdi:
      where = FtdiChannelName(session_->ftdi.SelectedChannel);
      break;
    case kInterfaceSpidev:
      where = session_->spidev.SelectedDevice;
      break;
    default:
      where = "the USB adapter";
      break;
  }
  err_ << "pemra-cli: warning: no sensor seems to answer on " << where
       << " (every word read was FFFF)\n";
}

bool Connection::Healthy() {
  if (!session_) return true;
  switch (session_->selection.InterfaceType) {
    case kInterfaceUsb:
      return session_->adapters.UsbSelected;
    case kInterfaceFtdi:
      return session_->ftdi.FtdiSelected;
    case kInterfaceSpidev:
      return session_->spidev.SpidevSelected;
    default:
      return true;
  }
}

TimeOfDay& Connection::LogTimeOfDay() {
  if (env_.timeOfDay != nullptr) return *env_.timeOfDay;
  if (virtualDay_) return *virtualDay_;
  if (!systemDay_) systemDay_ = std::make_unique<SystemTimeOfDay>();
  return *systemDay_;
}

}  // namespace pemra::cli
