#include "cli/Commands.h"

#include <charconv>

#include <fmt/format.h>

#include "cli/EvaluateCommand.h"
#include "cli/InputText.h"
#include "cli/LogCommand.h"
#include "core/LowPower.h"
#include "core/NumberText.h"
#include "core/RegisterTable.h"
#include "core/Timing.h"
#include "interfaces/RegisterListing.h"

namespace pemra::cli {

namespace {

// The register-table index of a name, or a message and nullopt.
std::optional<int16_t> LookUp(const RegisterTable& table, const std::string& name,
                              std::ostream& err) {
  const std::optional<int16_t> index = FindRegister(table, name);
  if (!index) {
    err << fmt::format(
        "pemra-cli: unknown register '{}': give a register name or an index from 0 to 31\n",
        Shown(name));
  }
  return index;
}

int Scan(Connection& connection, Streams streams) {
  Session& session = connection.Raw();
  const char sep = connection.DecimalSeparator();
  bool found = false;
  for (const ParallelPortEntry& port : session.portIo.ListPorts()) {
    streams.out << "Parallel\t" << NumberToHex(static_cast<int16_t>(port.base)) << '\t'
                << Shown(port.name) << '\n';
    found = true;
  }
  UsbAdapters& adapters = session.adapters;
  adapters.FindAdapters();
  for (int i = 0; i < kAdapterSlots; ++i) {
    const AdapterSlot& slot = adapters.AdapterSlots[static_cast<size_t>(i)];
    if (!slot.Present) continue;
    // The speed is held as text ("1.1", "2"); read it without the locale.
    float speed = 0.0f;
    std::from_chars(slot.UsbSpeed.data(), slot.UsbSpeed.data() + slot.UsbSpeed.size(), speed);
    streams.out << "EzUsb" << i << '\t' << slot.BoardType << '\t' << slot.Descriptor1Text
                << '\t' << slot.Descriptor2Text << '\t'
                << FormatNumber(slot.FirmwareRevision, "0.0", sep) << '\t'
                << FormatNumber(speed, "0.0", sep) << '\n';
  }
  found = found || adapters.UsbSelected;
  // Boards and nodes missing is no news here: the lines say what there is.
  if (session.ftdi.Scan(false)) {
    for (const FtdiChannel& channel : session.ftdi.Channels) {
      streams.out << "FTDI\t" << channel.chip << '\t' << Shown(FtdiDeviceText(channel)) << '\t'
                  << Shown(channel.description) << '\t' << channel.position << '\n';
    }
    found = true;
  }
  if (session.spidev.Scan(false)) {
    for (const std::string& path : session.spidev.Devices) streams.out << "SPI\t" << Shown(path) << '\n';
    found = true;
  }
  return found ? kExitDone : kExitFailed;
}

int Read(const Command& command, Connection& connection, Streams streams) {
  // Every name is checked, against the model's names, before anything is sent.
  Session& raw = connection.Raw();
  RegisterTable names;
  InitRegisterTable(names);
  ApplyModelTable(raw.selection.DeviceType, names);
  std::vector<int16_t> indexes;
  for (const auto& name : command.registers) {
    const std::optional<int16_t> index = LookUp(names, name, streams.err);
    if (!index) return kExitUsage;
    if (!names[static_cast<size_t>(*index)].RegReadable) {
      streams.err << fmt::format("pemra-cli: register {} cannot be read\n",
                                 names[static_cast<size_t>(*index)].RegName);
      return kExitUsage;
    }
    indexes.push_back(*index);
  }

  Session* session = nullptr;
  if (const int status = connection.Open(session); status != kExitDone) return status;
  RegisterAccess& access = session->access;
  for (const int16_t index : indexes) {
    access.ReadRegister(index);
    if (!connection.Healthy()) return kExitFailed;
    streams.out << access.Table()[static_cast<size_t>(index)].RegName << '\t'
                << NumberToHex(access.RawValue) << '\t'
                << GeneralText(access.ScaledValue, connection.DecimalSeparator()) << '\n';
  }
  connection.WarnIfNoSensor();
  return kExitDone;
}

int Write(const Command& command, Connection& connection, Streams streams) {
  Session& raw = connection.Raw();
  RegisterTable names;
  InitRegisterTable(names);
  ApplyModelTable(raw.selection.DeviceType, names);
  const std::optional<int16_t> index = LookUp(names, command.registers.at(0), streams.err);
  if (!index) return kExitUsage;
  const RegisterEntry& entry = names[static_cast<size_t>(*index)];
  if (!entry.RegWritable) {
    streams.err << fmt::format("pemra-cli: register {} cannot be written\n", entry.RegName);
    return kExitUsage;
  }
  std::optional<int32_t> value = ParseRegisterValue(command.value);
  if (!value) {
    streams.err << fmt::format(
        "pemra-cli: '{}' is not a register value: give one to four hex digits\n",
        Shown(command.value));
    return kExitUsage;
  }

  Session* session = nullptr;
  if (const int status = connection.Open(session); status != kExitDone) return status;
  if (session->selection.InterfaceType == 2 && *index == reg::SMPL_PRD &&
      *value > kMaxUsbSamplePeriod) {
    session->messages.Show(Message{kLowPowerWarning, "", MessageIcon::None});
    value = kMaxUsbSamplePeriod;
  }
  session->access.WriteRegister(*index, *value);
  return connection.Healthy() ? kExitDone : kExitFailed;
}

int Dump(const Command& command, Connection& connection, Streams streams) {
  Session* session = nullptr;
  if (const int status = connection.Open(session); status != kExitDone) return status;
  const bool toFile = !command.path.empty();
  const std::string listing =
      RegisterListing(session->access, connection.DecimalSeparator(), toFile ? "\r\n" : "\n");
  if (!connection.Healthy()) return kExitFailed;
  connection.WarnIfNoSensor();
  if (!toFile) {
    streams.out << listing;
    return kExitDone;
  }
  std::string error;
  if (!SaveRegisterListing(command.path, listing, &error)) {
    streams.err << "pemra-cli: cannot write the listing: " << Shown(error, 4 * kMaxShown) << '\n';
    return kExitFailed;
  }
  return kExitDone;
}

int Wait(const Command& command, Connection& connection, Streams streams) {
  const std::optional<double> ms = ParseMilliseconds(command.value, connection.DecimalSeparator());
  if (!ms) {
    streams.err << fmt::format(
        "pemra-cli: '{}' is not a time: give milliseconds from 0 to 86400000\n",
        Shown(command.value));
    return kExitUsage;
  }
  Connection& c = connection;
  c.Raw();  // the session's clock
  Delay(c.SessionClock(), static_cast<float>(*ms));
  return kExitDone;
}

}  // namespace

int RunCommand(const Command& command, Connection& connection, Streams streams) {
  switch (command.kind) {
    case CommandKind::Scan:
      return Scan(connection, streams);
    case CommandKind::Read:
      return Read(command, connection, streams);
    case CommandKind::Write:
      return Write(command, connection, streams);
    case CommandKind::Dump:
      return Dump(command, connection, streams);
    case CommandKind::Wait:
      return Wait(command, connection, streams);
    case CommandKind::Log:
      return RunLog(command, connection, streams);
    case CommandKind::Evaluate:
      return RunEvaluate(command, connection, streams);
    case CommandKind::Adev:
    case CommandKind::Script:
    case CommandKind::None:
      break;
  }
  streams.err << "pemra-cli: no command\n";
  return kExitUsage;
}

}  // namespace pemra::cli
