#include "backends/EmulatedBench.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/ioctl.h>
#include <linux/ppdev.h>
#include <linux/usbdevice_fs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <fmt/format.h>

namespace pemra::test {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr unsigned kUsbMajor = 189;
constexpr unsigned kPpdevMajor = 99;
constexpr uint8_t kGetDescriptor = 0x06;
constexpr uint8_t kStringDescriptor = 0x03;
constexpr size_t kSetupLength = 8;

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (uint8_t b : bytes) text += fmt::format("{:02x}", b);
  return text;
}

// The sysfs "descriptors" blob of an adapter: its device descriptor, then one configuration
// with interface 0 and its bulk endpoints, the pipes in order.
std::vector<uint8_t> Descriptors(const std::array<uint8_t, 18>& device,
                                 const std::vector<UsbPipeInfo>& pipes) {
  std::vector<uint8_t> d(device.begin(), device.end());
  const auto total = static_cast<uint16_t>(9 + 9 + 7 * pipes.size());
  d.insert(d.end(), {9, 0x02, uint8_t(total & 0xFF), uint8_t(total >> 8), 1, 1, 0, 0x80, 50});
  d.insert(d.end(), {9, 0x04, 0, 0, uint8_t(pipes.size()), 0xFF, 0xFF, 0xFF, 0});
  for (const UsbPipeInfo& p : pipes) {
    d.insert(d.end(), {7, 0x05, p.endpointAddress, 0x02, uint8_t(p.maxPacketSize & 0xFF),
                       uint8_t(p.maxPacketSize >> 8), 0});
  }
  return d;
}

void AddFromString(UMockdevTestbed* testbed, const std::string& description) {
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(testbed, description.c_str(), &error)) {
    ADD_FAILURE() << "umockdev cannot add the device: " << (error ? error->message : "?");
    if (error != nullptr) g_error_free(error);
  }
}

UMockdevIoctlBase* Attach(UMockdevTestbed* testbed, const std::string& node, GCallback handler,
                          void* self) {
  UMockdevIoctlBase* base = umockdev_ioctl_base_new();
  g_signal_connect(base, "handle-ioctl", handler, self);
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(testbed, node.c_str(), base, &error)) {
    ADD_FAILURE() << "umockdev cannot answer the ioctls of " << node << ": "
                  << (error ? error->message : "?");
    if (error != nullptr) g_error_free(error);
  }
  return base;
}

// The argument of an ioctl as `length` bytes of the caller's memory.
UMockdevIoctlData* Argument(UMockdevIoctlClient* client, size_t length) {
  return umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, length, nullptr);
}

void Complete(UMockdevIoctlClient* client, int error) {
  umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
}

}  // namespace

// ---- FTDI boards ----

struct EmulatedBench::FtdiChip {
  FtdiBoard board;
  std::unique_ptr<sim::MpsseEngine> engines[2];
  std::vector<FtdiRequest> requests;
  uint16_t packetSize = 512;

  uint16_t Bcd() const {
    if (board.bcdDevice != 0) return board.bcdDevice;
    return board.productId == kFtdiProductFt232h ? 0x0900 : 0x0700;
  }
  int Channels() const { return FtdiMpsseChannels(board.productId, Bcd()); }
  // The channel of a bulk endpoint: 0x02 / 0x81 channel A, 0x04 / 0x83 channel B; -1 else.
  int ChannelOf(uint8_t endpoint) const {
    const int number = endpoint & 0x7F;
    const bool in = (endpoint & 0x80) != 0;
    const int channel = in ? (number - 1) / 2 : number / 2 - 1;
    const bool matches = in ? number % 2 == 1 : number % 2 == 0;
    return matches && channel >= 0 && channel < Channels() ? channel : -1;
  }
  std::vector<uint8_t> StringDescriptor(uint8_t index) const {
    if (index == 0) return {4, 0x03, 0x09, 0x04};
    const std::string text = index == 1 ? "FTDI" : index == 2 ? board.description : board.serial;
    std::vector<uint8_t> d{uint8_t(2 + 2 * text.size()), 0x03};
    for (char c : text) d.insert(d.end(), {uint8_t(c), 0});
    return d;
  }
  // Device descriptor, then one configuration with an interface per channel, each with its
  // IN and OUT endpoint.
  std::vector<uint8_t> Descriptors() const {
    const uint16_t bcdDevice = Bcd();
    std::vector<uint8_t> d = {18, 0x01, 0x00, 0x02, 0, 0, 0, 64,
                              uint8_t(kFtdiVendorId & 0xFF), uint8_t(kFtdiVendorId >> 8),
                              uint8_t(board.productId & 0xFF), uint8_t(board.productId >> 8),
                              uint8_t(bcdDevice & 0xFF), uint8_t(bcdDevice >> 8), 1, 2, 3, 1};
    const auto total = static_cast<uint16_t>(9 + Channels() * (9 + 2 * 7));
    d.insert(d.end(), {9, 0x02, uint8_t(total & 0xFF), uint8_t(total >> 8), uint8_t(Channels()),
                       1, 0, 0x80, 45});
    for (int c = 0; c < Channels(); ++c) {
      d.insert(d.end(), {9, 0x04, uint8_t(c), 0, 2, 0xFF, 0xFF, 0xFF, uint8_t(2)});
      d.insert(d.end(), {7, 0x05, uint8_t(0x81 + 2 * c), 0x02, uint8_t(packetSize & 0xFF),
                         uint8_t(packetSize >> 8), 0});
      d.insert(d.end(), {7, 0x05, uint8_t(0x02 + 2 * c), 0x02, uint8_t(packetSize & 0xFF),
                         uint8_t(packetSize >> 8), 0});
    }
    return d;
  }
  // What a bulk IN of `room` bytes brings: packets each led by the two modem status bytes,
  // with as many waiting answers as fit.
  size_t FillIn(int channel, uint8_t* data, size_t room) {
    constexpr uint8_t kModemStatus[2] = {0x32, 0x60};
    size_t used = 0;
    sim::MpsseEngine& engine = *engines[channel];
    do {
      if (room - used < 2) break;
      data[used++] = kModemStatus[0];
      data[used++] = kModemStatus[1];
      const size_t take = std::min({room - used, size_t{packetSize} - 2, engine.Available()});
      used += engine.Read(data + used, take);
    } while (engine.Available() > 0);
    return used;
  }
};

// ---- USB adapters ----

struct EmulatedBench::Adapter {
  struct Urb {
    UMockdevIoctlData* urb = nullptr;     // the caller's usbdevfs_urb (one reference held)
    UMockdevIoctlData* buffer = nullptr;  // its data buffer (one reference held)
    SteadyClock::time_point submitted;
    usbdevfs_urb& Struct() const { return *reinterpret_cast<usbdevfs_urb*>(urb->data); }
    void Release() {
      if (buffer != nullptr) g_object_unref(buffer);
      if (urb != nullptr) g_object_unref(urb);
    }
  };

  EmulatedBench* bench = nullptr;
  int simSlot = 0;
  UsbDriver::Handle simHandle = UsbDriver::kNoHandle;
  std::string syspath;
  std::string devNode;
  UMockdevIoctlBase* handler = nullptr;

  bool gone = false;
  std::optional<int> urbsLeft;
  bool refuseClaim = false;
  bool withhold = false;
  Strings strings = Strings::AnyLanguage;
  std::deque<Urb> pendingIn;  // bulk IN URBs waiting for the adapter's reply
  std::deque<Urb> finished;   // to be reaped
  std::deque<Urb> discarded;  // cancelled by the host, reaped with -ENOENT
  std::vector<UrbRecord> record;
  std::vector<SteadyClock::duration> discardedAfter;
  std::unique_ptr<FtdiChip> ftdi;  // set: this device is an FTDI board

  ~Adapter() {
    for (auto* list : {&pendingIn, &finished, &discarded}) {
      for (Urb& u : *list) u.Release();
    }
  }

  sim::SimulatedUsbDriver& Sim() { return bench->rig_.SimUsb(); }

  int PipeOf(uint8_t endpoint) const {
    const auto& e = sim::kPipeEndpoints;
    const auto at = std::find(e.begin(), e.end(), endpoint);
    return at == e.end() ? -1 : static_cast<int>(at - e.begin());
  }

  void Finish(Urb urb, int status, int actual) {
    urb.Struct().status = status;
    urb.Struct().actual_length = actual;
    if (urb.Struct().type == USBDEVFS_URB_TYPE_BULK && status == 0) {
      const auto* data = urb.buffer != nullptr ? urb.buffer->data : nullptr;
      record.push_back(UrbRecord{urb.Struct().endpoint,
                                 std::vector<uint8_t>(data, data + (data ? actual : 0))});
    }
    finished.push_back(urb);
  }

  // An FTDI board's control transfers: its string descriptors and the vendor requests that
  // reset it, purge its buffers and set its bit mode.
  void FtdiControl(Urb urb) {
    const uint8_t* setup = urb.buffer != nullptr ? urb.buffer->data : nullptr;
    if (setup == nullptr || urb.Struct().buffer_length < static_cast<int>(kSetupLength)) {
      return Finish(urb, -EPIPE, 0);
    }
    const auto value = static_cast<uint16_t>(setup[2] | setup[3] << 8);
    const auto index = static_cast<uint16_t>(setup[4] | setup[5] << 8);
    const size_t wLength = setup[6] | setup[7] << 8;
    if (setup[0] == 0x80 && setup[1] == kGetDescriptor && setup[3] == kStringDescriptor) {
      std::vector<uint8_t> d = ftdi->StringDescriptor(setup[2]);
      d.resize(std::min(d.size(), wLength));
      std::copy(d.begin(), d.end(), urb.buffer->data + kSetupLength);
      return Finish(urb, 0, static_cast<int>(d.size()));
    }
    if (setup[0] != 0x40) return Finish(urb, -EPIPE, 0);
    ftdi->requests.push_back(FtdiRequest{setup[1], value, index});
    const int channel = (index & 0xFF) - 1;
    if (channel < 0 || channel >= ftdi->Channels()) return Finish(urb, -EPIPE, 0);
    sim::MpsseEngine& engine = *ftdi->engines[channel];
    if (setup[1] == 0x0B) engine.SetMpsse((value >> 8) == 0x02);  // bit mode
    // Reset (0) empties both buffers; 1 (TCO flush) drops what the host sent and the engine
    // has not run, 2 (TCI flush) the answers not yet read.
    if (setup[1] == 0x00 && value != 2) engine.PurgeCommands();
    if (setup[1] == 0x00 && value != 1) engine.PurgeAnswers();
    Finish(urb, 0, 0);
  }

  // Control transfers: the string descriptors (language 0 or any), from the simulated adapter.
  void Control(Urb urb) {
    if (ftdi) return FtdiControl(urb);
    const uint8_t* setup = urb.buffer != nullptr ? urb.buffer->data : nullptr;
    const int length = urb.Struct().buffer_length;
    if (setup == nullptr || length < static_cast<int>(kSetupLength) || setup[0] != 0x80 ||
        setup[1] != kGetDescriptor || setup[3] != kStringDescriptor) {
      Finish(urb, -EPIPE, 0);  // anything else stalls
      return;
    }
    const size_t wLength = setup[6] | setup[7] << 8;
    const bool languageZero = setup[4] == 0 && setup[5] == 0 && setup[2] != 0;
    std::vector<uint8_t> descriptor;
    if (strings == Strings::None || (strings == Strings::OwnLanguageOnly && languageZero) ||
        !Sim().GetStringDescriptor(simHandle, setup[2], wLength, descriptor)) {
      Finish(urb, -EPIPE, 0);
      return;
    }
    std::copy(descriptor.begin(), descriptor.end(), urb.buffer->data + kSetupLength);
    Finish(urb, 0, static_cast<int>(descriptor.size()));
  }

  // Bulk IN URBs get the firmware's reply once it has one, unless it is withheld.
  void AnswerIns() {
    if (ftdi) {
      // The chip answers every IN at once: its status, and the answers waiting.
      while (!pendingIn.empty() && !withhold) {
        Urb urb = pendingIn.front();
        pendingIn.pop_front();
        const int channel = ftdi->ChannelOf(urb.Struct().endpoint);
        const size_t got = ftdi->FillIn(channel, urb.buffer->data,
                                        static_cast<size_t>(urb.Struct().buffer_length));
        Finish(urb, 0, static_cast<int>(got));
      }
      return;
    }
    while (!pendingIn.empty() && !withhold) {
      Urb& urb = pendingIn.front();
      const int pipe = PipeOf(urb.Struct().endpoint);
      if (pipe != 1 || !Sim().Firmware(simSlot).HasReply()) return;
      size_t got = 0;
      const bool ok = Sim().BulkRead(simHandle, pipe, urb.buffer ? urb.buffer->data : nullptr,
                                     static_cast<size_t>(urb.Struct().buffer_length), got);
      Urb done = urb;
      pendingIn.pop_front();
      Finish(done, ok ? 0 : -EOVERFLOW, static_cast<int>(got));
    }
  }

  void Submit(UMockdevIoctlClient* client) {
    Urb urb;
    urb.urb = Argument(client, sizeof(usbdevfs_urb));
    if (urb.urb == nullptr) return Complete(client, EFAULT);
    urb.buffer = umockdev_ioctl_data_resolve(urb.urb, offsetof(usbdevfs_urb, buffer),
                                             static_cast<size_t>(urb.Struct().buffer_length),
                                             nullptr);
    urb.submitted = SteadyClock::now();
    const uint8_t type = urb.Struct().type;
    const uint8_t endpoint = urb.Struct().endpoint;
    if (type == USBDEVFS_URB_TYPE_BULK && urbsLeft && (*urbsLeft)-- <= 0) gone = true;
    if (gone) {
      urb.Release();
      return Complete(client, ENODEV);
    }
    const bool known = ftdi ? ftdi->ChannelOf(endpoint) >= 0 : PipeOf(endpoint) >= 0;
    if (type == USBDEVFS_URB_TYPE_CONTROL) {
      Control(urb);
    } else if (type != USBDEVFS_URB_TYPE_BULK || !known) {
      urb.Release();
      return Complete(client, EINVAL);
    } else if ((endpoint & 0x80) != 0) {
      pendingIn.push_back(urb);
    } else if (ftdi) {
      const auto length = static_cast<size_t>(urb.Struct().buffer_length);
      ftdi->engines[ftdi->ChannelOf(endpoint)]->Write(urb.buffer ? urb.buffer->data : nullptr,
                                                      length);
      Finish(urb, 0, static_cast<int>(length));
    } else {
      const int pipe = PipeOf(endpoint);
      size_t sent = 0;
      const bool ok = Sim().BulkWrite(simHandle, pipe, urb.buffer ? urb.buffer->data : nullptr,
                                      static_cast<size_t>(urb.Struct().buffer_length), sent);
      Finish(urb, ok ? 0 : -EPIPE, static_cast<int>(sent));
    }
    AnswerIns();
    Complete(client, 0);
  }

  void Reap(UMockdevIoctlClient* client) {
    std::deque<Urb>& from = !discarded.empty() ? discarded : finished;
    if (from.empty()) return Complete(client, EAGAIN);
    UMockdevIoctlData* pointer = Argument(client, sizeof(void*));
    if (pointer == nullptr) return Complete(client, EFAULT);
    Urb urb = from.front();
    from.pop_front();
    umockdev_ioctl_data_set_ptr(pointer, 0, urb.urb);
    Complete(client, 0);
    g_object_unref(pointer);
    urb.Release();
  }

  void Discard(UMockdevIoctlClient* client) {
    const auto address = *reinterpret_cast<const gulong*>(umockdev_ioctl_client_get_arg(client)->data);
    const auto at = std::find_if(pendingIn.begin(), pendingIn.end(),
                                 [&](const Urb& u) { return u.urb->client_addr == address; });
    if (at == pendingIn.end()) return Complete(client, EINVAL);
    discardedAfter.push_back(SteadyClock::now() - at->submitted);
    at->Struct().status = -ENOENT;
    at->Struct().actual_length = 0;
    discarded.push_back(*at);
    pendingIn.erase(at);
    Complete(client, 0);
  }

  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto& a = *static_cast<Adapter*>(self);
    const std::lock_guard lock(a.bench->mutex_);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    if (a.gone) {
      Complete(client, ENODEV);
      return TRUE;
    }
    switch (request) {
      case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = Argument(client, sizeof(uint32_t));
        const uint32_t value = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                               USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
        std::memcpy(caps->data, &value, sizeof value);
        Complete(client, 0);
        g_object_unref(caps);
        break;
      }
      case USBDEVFS_DISCONNECT_CLAIM:
      case USBDEVFS_CLAIMINTERFACE:
        Complete(client, a.refuseClaim ? EBUSY : 0);
        break;
      case USBDEVFS_RELEASEINTERFACE:
        Complete(client, 0);
        break;
      case USBDEVFS_GETDRIVER:
      case USBDEVFS_IOCTL:  // no kernel driver to detach or attach
        Complete(client, ENODATA);
        break;
      case USBDEVFS_SUBMITURB:
        a.Submit(client);
        break;
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY:
        a.Reap(client);
        break;
      case USBDEVFS_DISCARDURB:
        a.Discard(client);
        break;
      default:
        Complete(client, ENOTTY);
        break;
    }
    return TRUE;
  }
};

// ---- the parallel port ----

struct EmulatedBench::Port {
  EmulatedBench* bench = nullptr;
  uint16_t base = 0;
  UMockdevIoctlBase* handler = nullptr;
  bool refuseClaim = false;
  bool claimed = false;
  uint8_t control = 0;
  int claims = 0;
  int releases = 0;

  // The byte an ioctl reads or writes, through `access`.
  template <typename F>
  static void Byte(UMockdevIoctlClient* client, F access) {
    UMockdevIoctlData* byte = Argument(client, 1);
    if (byte == nullptr) return Complete(client, EFAULT);
    access(byte->data[0]);
    Complete(client, 0);
    g_object_unref(byte);
  }

  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto& p = *static_cast<Port*>(self);
    const std::lock_guard lock(p.bench->mutex_);
    PortIo& port = p.bench->rig_.Port();
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    if (request == PPCLAIM) {
      if (p.refuseClaim) return Complete(client, EBUSY), TRUE;
      p.claimed = true;
      ++p.claims;
      return Complete(client, 0), TRUE;
    }
    // ppdev refuses every register access of a port this file has not claimed.
    if (!p.claimed) return Complete(client, EINVAL), TRUE;
    switch (request) {
      case PPRELEASE:
        p.claimed = false;
        ++p.releases;
        Complete(client, 0);
        break;
      case PPWDATA:
        Byte(client, [&](uint8_t& v) { port.Out(p.base, v); });
        break;
      case PPRDATA:
        Byte(client, [&](uint8_t& v) { v = port.In(p.base); });
        break;
      case PPRSTATUS:
        Byte(client, [&](uint8_t& v) { v = port.In(static_cast<uint16_t>(p.base + 1)); });
        break;
      case PPWCONTROL:
        Byte(client, [&](uint8_t& v) { p.control = v; });
        break;
      case PPRCONTROL:
        Byte(client, [&](uint8_t& v) { v = p.control; });
        break;
      default:
        Complete(client, ENOTTY);
        break;
    }
    return TRUE;
  }
};

// ---- the spidev node ----

struct EmulatedBench::Spidev {
  EmulatedBench* bench = nullptr;
  std::unique_ptr<sim::SpidevNode> node;
  UMockdevIoctlBase* handler = nullptr;
  std::optional<int> messagesLeft;
  bool gone = false;
  uint8_t extraModeBits = 0;
  uint32_t speedReadBack = 0;
  std::vector<SpidevMessage> messages;
  std::vector<std::string> requests;

  // A setting written (the node takes it or refuses it) or read back.
  template <typename T, typename Set, typename Get>
  void Setting(UMockdevIoctlClient* client, bool write, const char* name, Set set, Get get) {
    UMockdevIoctlData* arg = Argument(client, sizeof(T));
    if (arg == nullptr) return Complete(client, EFAULT);
    T value{};
    if (write) {
      std::memcpy(&value, arg->data, sizeof value);
      requests.push_back(fmt::format("WR_{} {}", name, value));
      Complete(client, set(value) ? 0 : EINVAL);
    } else {
      value = get();
      std::memcpy(arg->data, &value, sizeof value);
      requests.push_back(fmt::format("RD_{}", name));
      Complete(client, 0);
    }
    g_object_unref(arg);
  }

  void Message(UMockdevIoctlClient* client, size_t count) {
    UMockdevIoctlData* arg = Argument(client, count * sizeof(spi_ioc_transfer));
    if (arg == nullptr) return Complete(client, EFAULT);
    SpidevMessage record;
    record.mode = node->Mode();
    record.bits = node->BitsPerWord();
    record.speed = node->MaxSpeed();
    std::vector<SpiTransfer> transfers(count);
    std::vector<UMockdevIoctlData*> buffers;
    for (size_t i = 0; i < count; ++i) {
      spi_ioc_transfer k{};
      std::memcpy(&k, arg->data + i * sizeof k, sizeof k);
      record.transfers.push_back(k);
      SpiTransfer& t = transfers[i];
      const auto resolve = [&](size_t field) -> uint8_t* {
        UMockdevIoctlData* b = umockdev_ioctl_data_resolve(arg, i * sizeof k + field, k.len, nullptr);
        if (b == nullptr) return nullptr;
        buffers.push_back(b);
        return b->data;
      };
      t.tx = k.tx_buf != 0 ? resolve(offsetof(spi_ioc_transfer, tx_buf)) : nullptr;
      if (t.tx != nullptr) record.tx.insert(record.tx.end(), t.tx, t.tx + k.len);
      t.rx = k.rx_buf != 0 ? resolve(offsetof(spi_ioc_transfer, rx_buf)) : nullptr;
      t.length = k.len;
      t.speedHz = k.speed_hz;
      t.delayUsecs = k.delay_usecs;
      t.bitsPerWord = k.bits_per_word;
      t.csChange = k.cs_change != 0;
    }
    messages.push_back(std::move(record));
    Nanoseconds busy{0};
    size_t total = 0;
    for (const SpiTransfer& t : transfers) total += t.length;
    std::string error;
    const bool ok = node->Run(transfers, bench->clock_.Now(), busy, error);
    node->Done(bench->clock_.Now());
    const int errorNumber = error == "Message too long" ? EMSGSIZE : EINVAL;
    umockdev_ioctl_client_complete(client, ok ? static_cast<long>(total) : -1,
                                   ok ? 0 : errorNumber);
    for (UMockdevIoctlData* b : buffers) g_object_unref(b);
    g_object_unref(arg);
  }

  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto& d = *static_cast<Spidev*>(self);
    const std::lock_guard lock(d.bench->mutex_);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    if (d.gone) return Complete(client, ENODEV), TRUE;
    sim::SpidevNode& n = *d.node;
    switch (request) {
      case SPI_IOC_WR_MODE:
      case SPI_IOC_RD_MODE:
        d.Setting<uint8_t>(client, request == SPI_IOC_WR_MODE, "MODE",
                           [&](uint8_t v) { return n.SetMode(v); },
                           [&] { return static_cast<uint8_t>(n.Mode() | d.extraModeBits); });
        return TRUE;
      case SPI_IOC_WR_BITS_PER_WORD:
      case SPI_IOC_RD_BITS_PER_WORD:
        d.Setting<uint8_t>(client, request == SPI_IOC_WR_BITS_PER_WORD, "BITS_PER_WORD",
                           [&](uint8_t v) { return n.SetBitsPerWord(v); },
                           [&] { return n.BitsPerWord(); });
        return TRUE;
      case SPI_IOC_WR_MAX_SPEED_HZ:
      case SPI_IOC_RD_MAX_SPEED_HZ:
        d.Setting<uint32_t>(client, request == SPI_IOC_WR_MAX_SPEED_HZ, "MAX_SPEED_HZ",
                            [&](uint32_t v) { return n.SetMaxSpeed(v); },
                            [&] { return d.speedReadBack != 0 ? d.speedReadBack : n.MaxSpeed(); });
        return TRUE;
      default:
        break;
    }
    // SPI_IOC_MESSAGE(n): the size field says how many transfers follow.
    if (_IOC_TYPE(request) == SPI_IOC_MAGIC && _IOC_NR(request) == 0 &&
        _IOC_DIR(request) == _IOC_WRITE && _IOC_SIZE(request) % sizeof(spi_ioc_transfer) == 0 &&
        _IOC_SIZE(request) > 0) {
      if (d.messagesLeft && (*d.messagesLeft)-- <= 0) {
        d.gone = true;
        return Complete(client, ENODEV), TRUE;
      }
      d.Message(client, _IOC_SIZE(request) / sizeof(spi_ioc_transfer));
      return TRUE;
    }
    Complete(client, ENOTTY);
    return TRUE;
  }
};

// ---- the bench ----

bool PreloadInPlace() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

sim::RigOptions EmulatedBench::DefaultRig() {
  sim::RigOptions options;
  options.adapters = {};
  options.ftdiBoards = {};
  options.spidevNodes = {};
  options.noise = false;
  options.motion = sim::MotionProfile::AtRest();
  return options;
}

EmulatedBench::EmulatedBench(sim::RigOptions options) : rig_(clock_, std::move(options)) {
  if (!PreloadInPlace()) {
    ADD_FAILURE() << "the back-end tests need umockdev's preload library: run them under "
                     "umockdev-wrapper";
  }
  testbed_ = umockdev_testbed_new();
}

EmulatedBench::~EmulatedBench() {
  // The testbed's worker thread stops with it, before the handlers' state goes.
  g_object_unref(testbed_);
  for (auto& a : adapters_) g_object_unref(a->handler);
  if (port_) g_object_unref(port_->handler);
  if (spidev_) g_object_unref(spidev_->handler);
}

std::string EmulatedBench::RootDir() const {
  gchar* dir = umockdev_testbed_get_root_dir(testbed_);
  std::string root = dir;
  g_free(dir);
  return root;
}

int EmulatedBench::AddAdapter(int bus, int port, const sim::AdapterOptions& options) {
  auto a = std::make_unique<Adapter>();
  a->bench = this;
  a->simSlot = static_cast<int>(adapters_.size());
  const int devnum = port + 1;
  const std::string busDir = fmt::format("/devices/pci0000:00/0000:00:14.0/usb{}", bus);
  const std::string devpath = fmt::format("{}/{}-{}", busDir, bus, port);
  a->syspath = "/sys" + devpath;
  a->devNode = fmt::format("/dev/bus/usb/{:03}/{:03}", bus, devnum);

  std::array<uint8_t, 18> device{};
  std::vector<UsbPipeInfo> pipes;
  {
    const std::lock_guard lock(mutex_);
    sim::AdapterOptions plugged = options;
    plugged.present = true;
    rig_.SimUsb().SetAdapter(a->simSlot, plugged);
    a->simHandle = rig_.SimUsb().Open(fmt::format("Ezusb-{}", a->simSlot));
    rig_.SimUsb().GetDeviceDescriptor(a->simHandle, device);
    rig_.SimUsb().GetPipeInfo(a->simHandle, pipes);
  }
  // The handler first, so the node answers as soon as the add event announces it.
  a->handler = Attach(testbed_, a->devNode, G_CALLBACK(&Adapter::OnIoctl), a.get());
  AddFromString(
      testbed_,
      fmt::format("P: {}\nN: bus/usb/{:03}/{:03}\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
                  "E: DRIVER=usb\nE: BUSNUM={:03}\nE: DEVNUM={:03}\nE: DEVNAME={}\n"
                  "E: PRODUCT={:x}/{:x}/1\nA: busnum={}\\n\nA: devnum={}\\n\nA: dev={}:{}\\n\n"
                  "A: speed={}\\n\nA: idVendor={:04x}\\n\nA: idProduct={:04x}\\n\n"
                  "A: bConfigurationValue=1\\n\nA: manufacturer={}\\n\nA: product={}\\n\n"
                  "H: descriptors={}\n",
                  devpath, bus, devnum, bus, devnum, a->devNode, kAdapterVendorId,
                  options.productId, bus, devnum, kUsbMajor, (bus - 1) * 128 + devnum - 1,
                  options.highSpeed ? 480 : 12, kAdapterVendorId, options.productId,
                  sim::kManufacturerText, sim::kProductText, Hex(Descriptors(device, pipes))));
  adapters_.push_back(std::move(a));
  return static_cast<int>(adapters_.size()) - 1;
}

int EmulatedBench::AddFtdi(int bus, int port, const FtdiBoard& board) {
  auto a = std::make_unique<Adapter>();
  a->bench = this;
  a->ftdi = std::make_unique<FtdiChip>();
  a->ftdi->board = board;
  for (int c = 0; c < a->ftdi->Channels(); ++c) {
    a->ftdi->engines[c] = std::make_unique<sim::MpsseEngine>(&rig_.Slave(), a->ftdi->Bcd());
  }
  const int devnum = port + 1;
  const std::string devpath =
      fmt::format("/devices/pci0000:00/0000:00:14.0/usb{0}/{0}-{1}", bus, port);
  a->syspath = "/sys" + devpath;
  a->devNode = fmt::format("/dev/bus/usb/{:03}/{:03}", bus, devnum);
  a->handler = Attach(testbed_, a->devNode, G_CALLBACK(&Adapter::OnIoctl), a.get());
  AddFromString(
      testbed_,
      fmt::format("P: {}\nN: bus/usb/{:03}/{:03}\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
                  "E: DRIVER=usb\nE: BUSNUM={:03}\nE: DEVNUM={:03}\nE: DEVNAME={}\n"
                  "E: PRODUCT={:x}/{:x}/{:x}\nA: busnum={}\\n\nA: devnum={}\\n\n"
                  "A: dev={}:{}\\n\nA: speed=480\\n\nA: idVendor={:04x}\\n\n"
                  "A: idProduct={:04x}\\n\nA: bConfigurationValue=1\\n\n"
                  "A: manufacturer=FTDI\\n\nA: product={}\\n\nA: serial={}\\n\n"
                  "H: descriptors={}\n",
                  devpath, bus, devnum, bus, devnum, a->devNode, kFtdiVendorId, board.productId,
                  a->ftdi->Bcd(), bus, devnum, kUsbMajor,
                  (bus - 1) * 128 + devnum - 1, kFtdiVendorId, board.productId, board.description,
                  board.serial, Hex(a->ftdi->Descriptors())));
  adapters_.push_back(std::move(a));
  return static_cast<int>(adapters_.size()) - 1;
}

sim::MpsseEngine& EmulatedBench::FtdiEngine(int adapter, char channel) {
  return *adapters_.at(static_cast<size_t>(adapter))->ftdi->engines[channel == 'B' ? 1 : 0];
}

std::vector<FtdiRequest> EmulatedBench::FtdiRequests(int adapter) {
  const std::lock_guard lock(mutex_);
  return adapters_.at(static_cast<size_t>(adapter))->ftdi->requests;
}

void EmulatedBench::Unplug(int adapter) {
  Adapter& a = *adapters_.at(static_cast<size_t>(adapter));
  {
    const std::lock_guard lock(mutex_);
    a.gone = true;
  }
  umockdev_testbed_uevent(testbed_, a.syspath.c_str(), "remove");
  umockdev_testbed_remove_device(testbed_, a.syspath.c_str());
}

void EmulatedBench::FailAfterUrbs(int adapter, int urbs) {
  const std::lock_guard lock(mutex_);
  adapters_.at(static_cast<size_t>(adapter))->urbsLeft = urbs;
}

void EmulatedBench::RefuseClaim(int adapter, bool refuse) {
  const std::lock_guard lock(mutex_);
  adapters_.at(static_cast<size_t>(adapter))->refuseClaim = refuse;
}

void EmulatedBench::AnswerStrings(int adapter, Strings strings) {
  const std::lock_guard lock(mutex_);
  adapters_.at(static_cast<size_t>(adapter))->strings = strings;
}

void EmulatedBench::WithholdReplies(int adapter, bool withhold) {
  const std::lock_guard lock(mutex_);
  adapters_.at(static_cast<size_t>(adapter))->withhold = withhold;
}

std::vector<UrbRecord> EmulatedBench::Urbs(int adapter) {
  const std::lock_guard lock(mutex_);
  return adapters_.at(static_cast<size_t>(adapter))->record;
}

std::vector<SteadyClock::duration> EmulatedBench::DiscardedAfter(int adapter) {
  const std::lock_guard lock(mutex_);
  return adapters_.at(static_cast<size_t>(adapter))->discardedAfter;
}

std::string EmulatedBench::DevNode(int adapter) {
  return adapters_.at(static_cast<size_t>(adapter))->devNode;
}

void EmulatedBench::AddParallelPort(const std::string& name, uint16_t base, PortListing listing) {
  port_ = std::make_unique<Port>();
  port_->bench = this;
  port_->base = base;
  const std::string node = "/dev/" + name;
  port_->handler = Attach(testbed_, node, G_CALLBACK(&Port::OnIoctl), port_.get());
  // The ppdev node; given contents, umockdev makes it a plain file, not a terminal.
  AddFromString(testbed_,
                fmt::format("P: /devices/virtual/ppdev/{0}\nN: {0}=00\nE: SUBSYSTEM=ppdev\n"
                            "E: DEVNAME={1}\nA: dev={2}:0\\n\n",
                            name, node, kPpdevMajor));
  const fs::path root = RootDir();
  if (listing == PortListing::Proc) {
    const fs::path proc = root / "proc/sys/dev/parport";
    fs::create_directories(proc / name);
    fs::create_directories(proc / "default");  // the defaults folder, which is no port
    std::ofstream(proc / "default" / "timeslice") << "200\n";
    std::ofstream(proc / name / "base-addr") << base << '\t' << base + 0x400 << '\n';
    return;
  }
  const std::string parent = listing == PortListing::SysfsPlatform
                                 ? fmt::format("/devices/platform/parport_pc.{}", base)
                                 : "/devices/pnp0/00:05";
  const std::string resources =
      fmt::format("state = active\\nio 0x{:x}-0x{:x}\\nirq 7\\n", base, base + 7);
  AddFromString(testbed_, fmt::format("P: {}\nE: SUBSYSTEM={}\nA: resources={}\n", parent,
                                      listing == PortListing::SysfsPnp ? "pnp" : "platform",
                                      listing == PortListing::SysfsPnp ? resources : ""));
  AddFromString(testbed_, fmt::format("P: {}/{}\nE: SUBSYSTEM=parport\n", parent, name));
  // umockdev lists a bus under /sys/bus only when the host knows it as one.
  const fs::path bus = root / "sys/bus/parport/devices";
  fs::create_directories(bus);
  if (!fs::is_symlink(bus / name)) {
    fs::create_directory_symlink("../../.." + parent + "/" + name, bus / name);
  }
}

void EmulatedBench::AddSpidev(const std::string& name, bool sixteenBitWords) {
  spidev_ = std::make_unique<Spidev>();
  spidev_->bench = this;
  spidev_->node = std::make_unique<sim::SpidevNode>(
      &rig_.Slave(), sim::SpidevNodeOptions{"/dev/" + name, sixteenBitWords});
  const std::string node = "/dev/" + name;
  spidev_->handler = Attach(testbed_, node, G_CALLBACK(&Spidev::OnIoctl), spidev_.get());
  // Given contents, umockdev makes the node a plain file, not a terminal.
  const std::string devpath =
      fmt::format("/devices/platform/soc/spi0/spi_master/spi0/spi0.0/spidev/{}", name);
  AddFromString(testbed_, fmt::format("P: {}\nN: {}=00\nE: SUBSYSTEM=spidev\nE: DEVNAME={}\n"
                                      "A: dev=153:0\\n\n",
                                      devpath, name, node));
  // The class listing, where umockdev does not make it.
  const fs::path classDir = RootDir() + "/sys/class/spidev";
  fs::create_directories(classDir);
  if (!fs::exists(classDir / name)) {
    fs::create_directory_symlink("../.." + devpath, classDir / name);
  }
}

void EmulatedBench::SpidevReadsBack(uint8_t extraModeBits, uint32_t speedHz) {
  const std::lock_guard lock(mutex_);
  spidev_->extraModeBits = extraModeBits;
  spidev_->speedReadBack = speedHz;
}

void EmulatedBench::ListSpidev(const std::string& name) {
  const fs::path classDir = RootDir() + "/sys/class/spidev";
  fs::create_directories(classDir);
  fs::create_directory_symlink("../../devices/platform/soc/" + name, classDir / name);
}

void EmulatedBench::FailSpidevAfter(int messages) {
  const std::lock_guard lock(mutex_);
  spidev_->messagesLeft = messages;
}

std::vector<SpidevMessage> EmulatedBench::SpidevMessages() {
  const std::lock_guard lock(mutex_);
  return spidev_->messages;
}

std::vector<std::string> EmulatedBench::SpidevRequests() {
  const std::lock_guard lock(mutex_);
  return spidev_->requests;
}

void EmulatedBench::RefusePortClaim(bool refuse) {
  const std::lock_guard lock(mutex_);
  port_->refuseClaim = refuse;
}

int EmulatedBench::PortClaims() {
  const std::lock_guard lock(mutex_);
  return port_->claims;
}

int EmulatedBench::PortReleases() {
  const std::lock_guard lock(mutex_);
  return port_->releases;
}

// ---- file access without root's override ----

namespace {

constexpr uint32_t kFileOverride = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

bool Capabilities(bool set, __user_cap_data_struct (&data)[2]) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};  // 0: this thread
  return syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

}  // namespace

WithoutFileOverride::WithoutFileOverride() {
  __user_cap_data_struct data[2]{};
  if (!Capabilities(false, data) || (data[0].effective & kFileOverride) == 0) return;
  savedEffective_[0] = data[0].effective;
  savedEffective_[1] = data[1].effective;
  data[0].effective &= ~kFileOverride;
  dropped_ = Capabilities(true, data);
  if (!dropped_) ADD_FAILURE() << "cannot drop CAP_DAC_OVERRIDE: " << std::strerror(errno);
}

WithoutFileOverride::~WithoutFileOverride() {
  if (!dropped_) return;
  __user_cap_data_struct data[2]{};
  Capabilities(false, data);
  data[0].effective = savedEffective_[0];
  data[1].effective = savedEffective_[1];
  Capabilities(true, data);
}

}  // namespace pemra::test
