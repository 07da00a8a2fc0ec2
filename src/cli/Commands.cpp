#include "cli/Commands.h"

#include <algorithm>
#include <charconv>

#include <fmt/format.h>

#include "cli/EvaluateCommand.h"
#include "cli/InputText.h"
#include "cli/LogCommand.h"
#include "core/FieldWrite.h"
#include "core/LowPower.h"
#include "core/NumberText.h"
#include "core/RegisterFields.h"
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

// The register table as the chosen model names its entries, before anything is sent.
RegisterTable ModelNames(const Session& raw) {
  RegisterTable names;
  InitRegisterTable(names);
  ApplyModelTable(raw.selection.DeviceType, names);
  return names;
}

FieldContext ContextOf(const Session& session, char separator,
                       std::optional<int32_t> almCtrl = std::nullopt) {
  return FieldContext{session.selection.DeviceType, almCtrl, separator};
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
  const RegisterTable names = ModelNames(connection.Raw());
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
  // An alarm level reads in its source's units: ALM_CTRL names the source.
  std::optional<int32_t> almCtrl;
  if (command.fields && std::any_of(indexes.begin(), indexes.end(), [](int16_t i) {
        return i == reg::ALM_MAG1 || i == reg::ALM_MAG2;
      })) {
    access.ReadRegister(reg::ALM_CTRL);
    if (!connection.Healthy()) return kExitFailed;
    almCtrl = access.LastWord;
  }
  const char sep = connection.DecimalSeparator();
  for (const int16_t index : indexes) {
    access.ReadRegister(index);
    if (!connection.Healthy()) return kExitFailed;
    streams.out << access.Table()[static_cast<size_t>(index)].RegName << '\t'
                << NumberToHex(access.RawValue) << '\t' << GeneralText(access.ScaledValue, sep)
                << '\n';
    if (command.fields) {
      streams.out << FieldLines(DecodeRegister(access.Table(), index, access.LastWord,
                                               ContextOf(*session, sep, almCtrl)));
    }
  }
  connection.WarnIfNoSensor();
  return kExitDone;
}

int Write(const Command& command, Connection& connection, Streams streams) {
  const RegisterTable names = ModelNames(connection.Raw());
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

// The field lines of each entry inserted after its line of the listing.
std::string WithFieldLines(const std::string& listing, const ListingWords& words,
                           const RegisterTable& table, FieldContext context,
                           std::string_view lineEnd) {
  context.almCtrl = words[reg::ALM_CTRL];
  std::string text;
  size_t start = 0;
  for (int line = 0; start < listing.size(); ++line) {
    size_t end = listing.find(lineEnd, start);
    end = end == std::string::npos ? listing.size() : end + lineEnd.size();
    text.append(listing, start, end - start);
    start = end;
    const int index = line - 2;  // two heading lines
    if (index >= 0 && index < kFilledRegisters && words[static_cast<size_t>(index)]) {
      text += FieldLines(DecodeRegister(table, static_cast<int16_t>(index),
                                        *words[static_cast<size_t>(index)], context),
                         lineEnd);
    }
  }
  return text;
}

int Dump(const Command& command, Connection& connection, Streams streams) {
  Session* session = nullptr;
  if (const int status = connection.Open(session); status != kExitDone) return status;
  const bool toFile = !command.path.empty();
  const std::string_view lineEnd = toFile ? "\r\n" : "\n";
  ListingWords words;
  std::string listing =
      RegisterListing(session->access, connection.DecimalSeparator(), lineEnd, &words);
  if (!connection.Healthy()) return kExitFailed;
  if (command.fields) {
    listing = WithFieldLines(listing, words, session->access.Table(),
                             ContextOf(*session, connection.DecimalSeparator()), lineEnd);
  }
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

std::string Joined(const std::vector<std::string_view>& words) {
  std::string text;
  for (const std::string_view word : words) {
    if (!text.empty()) text += ", ";
    text += word;
  }
  return text;
}

// set REG.FIELD VALUE: the register read, that field changed, written and read back.
int Set(const Command& command, Connection& connection, Streams streams) {
  const RegisterTable names = ModelNames(connection.Raw());
  const size_t dot = command.target.find('.');
  if (dot == std::string::npos) {
    streams.err << fmt::format("pemra-cli: '{}' is not REG.FIELD (for example MSC_CTRL.dr_enable)\n",
                               Shown(command.target));
    return kExitUsage;
  }
  const std::optional<int16_t> index = LookUp(names, command.target.substr(0, dot), streams.err);
  if (!index) return kExitUsage;
  const RegisterEntry& entry = names[static_cast<size_t>(*index)];
  const std::string fieldName = command.target.substr(dot + 1);
  const std::optional<RegisterField> field = FindField(names, *index, fieldName);
  if (!field) {
    std::vector<std::string_view> known;
    for (const RegisterField& f : RegisterFields(names, *index)) known.push_back(f.name);
    streams.err << fmt::format("pemra-cli: {} has no field '{}': its fields are {}\n",
                               entry.RegName, Shown(fieldName), Joined(known));
    return kExitUsage;
  }
  const std::optional<int32_t> value = ParseFieldValue(*field, command.value);
  if (!value) {
    std::vector<std::string_view> known;
    for (const FieldChoice& choice : field->choices) known.push_back(choice.meaning);
    streams.err << fmt::format("pemra-cli: '{}' is not a value of {}: give a number{}\n",
                               Shown(command.value), FieldFullName(entry, *field),
                               known.empty() ? "" : " or one of " + Joined(known));
    return kExitUsage;
  }
  if (const auto refusal = FieldWriteRefusal(entry, *field, *value)) {
    streams.err << "pemra-cli: " << *refusal << '\n';
    return kExitUsage;
  }

  Session* session = nullptr;
  if (const int status = connection.Open(session); status != kExitDone) return status;
  const FieldWriteResult result = WriteField(session->access, *index, *field, *value);
  if (!connection.Healthy()) return kExitFailed;
  if (!result.Written()) {
    streams.err << "pemra-cli: " << result.refusal << '\n';
    return kExitUsage;
  }
  const RegisterEntry& now = session->access.Table()[static_cast<size_t>(*index)];
  const int32_t shown = result.readBack ? result.readBackWord : result.newWord;
  streams.out << now.RegName << '\t'
              << (result.readBack ? NumberToHex(result.oldWord) + " -> " : std::string("-> "))
              << NumberToHex(shown) << '\n'
              << FieldLines({DecodeField(session->access.Table(), *index, *field, shown,
                                         ContextOf(*session, connection.DecimalSeparator()))});
  if (!result.holds && !field->changesBySelf) {
    streams.err << fmt::format("pemra-cli: {} reads back {}, not the {} written\n",
                               FieldFullName(now, *field), field->ValueIn(result.readBackWord),
                               *value);
    return kExitFailed;
  }
  connection.WarnIfNoSensor();
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
    case CommandKind::Set:
      return Set(command, connection, streams);
    case CommandKind::Dump:
      return Dump(command, connection, streams);
    case CommandKind::Wait:
      return Wait(command, connection, streams);
    case CommandKind::Log:
      return RunLog(command, connection, streams);
    case CommandKind::Evaluate:
      return RunEvaluate(command, connection, streams);
    case CommandKind::Adev:
    case CommandKind::Psd:
    case CommandKind::Script:
    case CommandKind::None:
      break;
  }
  streams.err << "pemra-cli: no command\n";
  return kExitUsage;
}

}  // namespace pemra::cli
