#include "interfaces/UsbAdapters.h"

#include "interfaces/TraceText.h"

namespace pemra {

namespace {

constexpr int kMaxPipe = 16;
constexpr uint8_t kInEndpointAbove = 0x80;  // endpoint addresses above this are IN pipes
constexpr int kCommandPipe = 0;
constexpr int kReplyPipe = 1;
constexpr int kSpeedPipe = 3;
constexpr uint16_t kFullSpeedMaxPacket = 64;

// Appends one character given by its code (0..255) as UTF-8.
void AppendLatin1(std::string& text, uint8_t code) {
  if (code < 0x80) {
    text += static_cast<char>(code);
  } else {
    text += static_cast<char>(0xC0 | (code >> 6));
    text += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string SlotDeviceName(int slot) { return "Ezusb-" + std::to_string(slot); }

}  // namespace

UsbAdapters::UsbAdapters(UsbDriver& driver, MessageSink& messages, TraceSink* trace)
    : driver_(driver), messages_(messages), trace_(trace) {
  pipes_.reserve(kMaxPipe + 1);
}

UsbDriver::Handle UsbAdapters::OpenAdapter(const std::string& deviceName) {
  return driver_.Open(deviceName);
}

void UsbAdapters::CloseAdapter(UsbDriver::Handle handle) {
  if (handle != UsbDriver::kNoHandle) driver_.Close(handle);
}

int UsbAdapters::BulkTransfer(UsbDriver::Handle handle, int pipe, uint8_t* buffer,
                              size_t& length) {
  if (handle == UsbDriver::kNoHandle) {
    length = 0;
    if (trace_ != nullptr) TraceBulk(*trace_, false, pipe, nullptr, 0, "no adapter open");
    return -2;
  }
  // The direction comes from the pipe's endpoint address.
  if (pipe < 0 || pipe > kMaxPipe || !driver_.GetPipeInfo(handle, pipes_) ||
      static_cast<size_t>(pipe) >= pipes_.size()) {
    length = 0;
    if (trace_ != nullptr) TraceBulk(*trace_, false, pipe, nullptr, 0, "no such pipe");
    return 0;
  }
  const bool in = pipes_[static_cast<size_t>(pipe)].endpointAddress > kInEndpointAbove;
  size_t transferred = 0;
  const bool ok = in ? driver_.BulkRead(handle, pipe, buffer, length, transferred)
                     : driver_.BulkWrite(handle, pipe, buffer, length, transferred);
  if (trace_ != nullptr) {
    if (ok) {
      TraceBulk(*trace_, in, pipe, buffer, transferred);
    } else {
      const std::string error = driver_.LastError();
      TraceBulk(*trace_, in, pipe, buffer, in ? transferred : length,
                error.empty() ? std::string_view("error") : std::string_view(error));
    }
  }
  length = transferred;
  return ok ? 1 : 0;
}

std::string UsbAdapters::GetStringDescriptor(UsbDriver::Handle handle, uint8_t index) {
  if (handle == UsbDriver::kNoHandle) return "None";
  // First the header for bLength, then the whole descriptor.
  std::vector<uint8_t> descriptor;
  if (!driver_.GetStringDescriptor(handle, index, 4, descriptor) || descriptor.empty()) {
    return "None";
  }
  const size_t bLength = descriptor[0];
  if (!driver_.GetStringDescriptor(handle, index, bLength, descriptor)) return "None";
  // The low byte of each UTF-16 code unit is taken as the character.
  std::string text;
  for (size_t i = 2; i < bLength && i < descriptor.size(); i += 2) {
    AppendLatin1(text, descriptor[i]);
  }
  return text;
}

uint16_t UsbAdapters::PipeMaxPacketSize(UsbDriver::Handle handle, int pipe) {
  if (handle == UsbDriver::kNoHandle || pipe < 0 || pipe > kMaxPipe) return 0;
  if (!driver_.GetPipeInfo(handle, pipes_)) return 0;
  if (static_cast<size_t>(pipe) >= pipes_.size()) return 0;
  return pipes_[static_cast<size_t>(pipe)].maxPacketSize;
}

void UsbAdapters::ScanAdapters() {
  AdapterCount = 0;
  for (auto& slot : AdapterSlots) {
    slot.DeviceName.clear();
    slot.Present = false;
  }
  openFailure_.clear();
  for (int i = 0; i < kAdapterSlots; ++i) {
    const std::string name = SlotDeviceName(i);
    const UsbDriver::Handle handle = OpenAdapter(name);
    if (handle == UsbDriver::kNoHandle) {
      // Treated as an empty slot; an adapter that is there but cannot be opened is named
      // when the search finds nothing.
      if (const std::string reason = driver_.OpenFailureReason();
          !reason.empty() && openFailure_.empty()) {
        openFailure_ = name + ": " + reason;
      }
      continue;
    }

    std::array<uint8_t, 18> device{};
    if (driver_.GetDeviceDescriptor(handle, device)) {
      const auto vendor = static_cast<uint16_t>(device[8] | (device[9] << 8));
      const auto product = static_cast<uint16_t>(device[10] | (device[11] << 8));
      if (vendor == kAdapterVendorId) {
        AdapterSlot& slot = AdapterSlots[static_cast<size_t>(i)];
        slot.BoardType = product == kProductFifo4 ? "FIFO4"
                         : product == kProductMcp ? "MCP"
                                                  : "None";
        if (slot.BoardType != "None") {
          ++AdapterCount;
          slot.Present = true;
          slot.DeviceName = name;
          ReadBoardInfo(handle, i);
        }
      }
    }
    CloseAdapter(handle);
  }
}

void UsbAdapters::ReadBoardInfo(UsbDriver::Handle handle, int slotIndex) {
  if (slotIndex < 0 || slotIndex >= kAdapterSlots) return;
  AdapterSlot& slot = AdapterSlots[static_cast<size_t>(slotIndex)];
  const bool ok = [&] {
    slot.Descriptor1Text = GetStringDescriptor(handle, 1);
    if (slot.Descriptor1Text == "None") return false;
    slot.Descriptor2Text = GetStringDescriptor(handle, 2);
    if (slot.Descriptor2Text == "None") return false;

    // Firmware revision: command 0x00, reply major, minor.
    uint8_t command[1] = {0x00};
    size_t length = 1;
    if (BulkTransfer(handle, kCommandPipe, command, length) != 1) return false;
    uint8_t reply[2] = {0, 0};
    length = 2;
    // A short reply would leave the revision half made up: it fails like no reply.
    if (BulkTransfer(handle, kReplyPipe, reply, length) != 1 || length != 2) return false;
    slot.FirmwareRevision = static_cast<float>(reply[0]) + static_cast<float>(reply[1]) / 10.0f;

    // The link speed shows in the packet size of pipe 3.
    const uint16_t packet = PipeMaxPacketSize(handle, kSpeedPipe);
    if (packet == 0) return false;
    if (packet <= kFullSpeedMaxPacket) {
      slot.UsbSpeed = "1.1";
      UsbSpiDelay = 35;
    } else {
      slot.UsbSpeed = "2";
      UsbSpiDelay = 10;
    }
    return true;
  }();
  if (!ok) {
    messages_.Show(Message{"Error getting Board Info", "", MessageIcon::None});
    slot.Present = false;
  }
}

void UsbAdapters::FindAdapters() {
  UsbSelected = false;
  SelectedAdapterIndex = -1;
  ScanAdapters();
  if (AdapterCount == 0) {
    std::string text = "No USB Buffers Found, Please Verify Setup and Restart";
    if (!openFailure_.empty()) text += "\n" + openFailure_;
    messages_.Show(Message{std::move(text), "", MessageIcon::None});
    return;
  }
  for (int i = 0; i < kAdapterSlots; ++i) {
    if (AdapterSlots[static_cast<size_t>(i)].Present) {
      SelectedAdapter = AdapterSlots[static_cast<size_t>(i)];
      UsbSelected = true;
      SelectedAdapterIndex = static_cast<int16_t>(i);
      return;
    }
  }
  messages_.Show(Message{"No Valid USB Buffers Found, Please Verify Setup and Restart", "",
                         MessageIcon::None});
}

}  // namespace pemra
