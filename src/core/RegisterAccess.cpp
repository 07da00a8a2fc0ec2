#include "core/RegisterAccess.h"

#include <algorithm>
#include <vector>

#include "core/Timing.h"

namespace pemra {

RegisterAccess::RegisterAccess(RegisterTable& table, const Selection& selection, Clock& clock)
    : table_(table), selection_(selection), clock_(clock) {}

void RegisterAccess::SetTransport(int16_t interfaceType, RegisterTransport* transport) {
  if (interfaceType >= 1 && interfaceType < static_cast<int16_t>(transports_.size())) {
    transports_[static_cast<size_t>(interfaceType)] = transport;
  }
}

RegisterTransport* RegisterAccess::Transport() const {
  const int16_t type = selection_.InterfaceType;
  if (type < 1 || type >= static_cast<int16_t>(transports_.size())) return nullptr;
  return transports_[static_cast<size_t>(type)];
}

PacedBursts* RegisterAccess::Paced() const {
  RegisterTransport* transport = Transport();
  return transport != nullptr ? transport->Paced() : nullptr;
}

int32_t RegisterAccess::ReadRawWord(int16_t& address) {
  address = static_cast<int16_t>(address & 0x7F);
  RegisterTransport* transport = Transport();
  if (transport == nullptr) return 0;
  return transport->ReadWord(address) & 0xFFFF;
}

void RegisterAccess::ReadRegister(int16_t index) {
  if (index < 0 || index >= kRegisterTableSize) return;
  const RegisterEntry& entry = table_[static_cast<size_t>(index)];
  if (!entry.RegReadable) return;
  auto address = static_cast<int16_t>(entry.RegAddress & 0x7F);
  LastWord = ReadRawWord(address);
  const RegisterReading reading = ConvertWord(entry, LastWord);
  if (entry.RegHasNewData) NewDataFlag = reading.NewDataFlag;
  RawValue = reading.RawValue;
  ScaledValue = reading.ScaledValue;
}

bool RegisterAccess::ReadRegisters(std::span<const int16_t> indexes,
                                   std::span<RegisterReading> readings) {
  std::fill(readings.begin(), readings.end(), RegisterReading{});
  RegisterTransport* transport = Transport();
  if (transport == nullptr || readings.size() != indexes.size()) return false;
  // Only readable entries go on the wire; `sent` maps each word back to its reading.
  std::vector<int16_t> addresses;
  std::vector<size_t> sent;
  addresses.reserve(indexes.size());
  sent.reserve(indexes.size());
  for (size_t i = 0; i < indexes.size(); ++i) {
    const int16_t index = indexes[i];
    if (index < 0 || index >= kRegisterTableSize) continue;
    const RegisterEntry& entry = table_[static_cast<size_t>(index)];
    if (!entry.RegReadable) continue;
    addresses.push_back(static_cast<int16_t>(entry.RegAddress & 0x7F));
    sent.push_back(i);
  }
  if (addresses.empty()) return true;
  std::vector<int32_t> words(addresses.size(), 0);
  if (!transport->ReadWords(addresses, words)) return false;
  for (size_t w = 0; w < words.size(); ++w) {
    const size_t i = sent[w];
    readings[i] = ConvertWord(table_[static_cast<size_t>(indexes[i])], words[w] & 0xFFFF);
  }
  return true;
}

void RegisterAccess::WriteRegister(int16_t index, int32_t value) {
  if (index < 0 || index >= kRegisterTableSize) return;
  const int32_t address = table_[static_cast<size_t>(index)].RegAddress;
  auto addressHigh = static_cast<int16_t>((address + 1) & 0x7F);
  auto byteHigh = static_cast<int16_t>((value >> 8) & 0xFF);
  auto addressLow = static_cast<int16_t>(address & 0x7F);
  auto byteLow = static_cast<int16_t>(value & 0xFF);
  WriteBytePair(addressHigh, byteHigh, addressLow, byteLow);
  Delay(clock_, 0.1f);
}

void RegisterAccess::WriteBytePair(int16_t& addressA, int16_t& byteA, int16_t& addressB,
                                   int16_t& byteB) {
  addressA = static_cast<int16_t>(addressA & 0x7F);
  byteA = static_cast<int16_t>(byteA & 0xFF);
  addressB = static_cast<int16_t>(addressB & 0x7F);
  byteB = static_cast<int16_t>(byteB & 0xFF);
  RegisterTransport* transport = Transport();
  if (transport == nullptr) return;
  transport->WriteFramePair(0x8000 + addressA * 256 + byteA, 0x8000 + addressB * 256 + byteB);
}

void RegisterAccess::RefreshControlShadows() {
  ReadRegister(reg::GPIO_CTRL);
  GpioCtrlShadow = RawValue;
  ReadRegister(reg::ALM_CTRL);
  AlmCtrlShadow = RawValue;
  ReadRegister(reg::MSC_CTRL);
  MscCtrlShadow = RawValue;
}

bool RegisterTransport::ReadWords(std::span<const int16_t> addresses, std::span<int32_t> words) {
  for (size_t i = 0; i < addresses.size() && i < words.size(); ++i) {
    words[i] = ReadWord(addresses[i]);
  }
  return true;
}

RegisterReading ConvertWord(const RegisterEntry& entry, int32_t word) {
  RegisterReading reading;
  if (entry.RegHasNewData) reading.NewDataFlag = word & 0x8000;
  reading.RawValue = ConvertRaw(entry, word);
  reading.ScaledValue = static_cast<float>(static_cast<double>(reading.RawValue) * entry.RegScale +
                                           static_cast<double>(entry.RegOffset));
  return reading;
}

int32_t ConvertRaw(const RegisterEntry& entry, int32_t word) {
  const int width = entry.RegWidth;
  if (width <= 0) return 0;
  const int64_t bits = static_cast<int64_t>(static_cast<uint32_t>(word));
  if (width >= 32) return static_cast<int32_t>(bits);
  const int64_t top = int64_t{1} << (width - 1);
  if (entry.RegSigned) return static_cast<int32_t>((bits & (top - 1)) - (bits & top));
  return static_cast<int32_t>(bits & ((top << 1) - 1));
}

}  // namespace pemra
