#include "interfaces/LibftdiDriver.h"

#include "interfaces/AccessHint.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <climits>
#include <tuple>

#include <fmt/format.h>

namespace pemra {

namespace {

constexpr int kUsbTimeoutMs = static_cast<int>(LibftdiDriver::kReadTimeout.count());
constexpr unsigned char kLatencyMs = 1;  // answers leave the chip 1 ms after the last byte

struct Found {
  uint8_t bus = 0;
  std::vector<uint8_t> ports;
  libusb_device* device = nullptr;
  uint16_t product = 0;
  uint16_t release = 0;  // bcdDevice: tells an FT2232D from an FT2232H
  bool operator<(const Found& other) const {
    return std::tie(bus, ports) < std::tie(other.bus, other.ports);
  }
  std::string Position() const {
    std::string text = fmt::format("{}-", bus);
    for (size_t i = 0; i < ports.size(); ++i) text += fmt::format("{}{}", i ? "." : "", ports[i]);
    return text;
  }
};

// The boards libftdi finds (vendor 0403 and its own products), in bus and port order. The
// list holds a reference on each device until ftdi_list_free.
std::vector<Found> FindBoards(ftdi_context* ftdi, ftdi_device_list*& list, std::string& error) {
  std::vector<Found> boards;
  list = nullptr;
  const int count = ftdi_usb_find_all(ftdi, &list, 0, 0);
  if (count < 0) {
    error = ftdi_get_error_string(ftdi);
    return boards;
  }
  for (ftdi_device_list* at = list; at != nullptr; at = at->next) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(at->dev, &descriptor) != LIBUSB_SUCCESS) continue;
    if (FtdiMpsseChannels(descriptor.idProduct, descriptor.bcdDevice) == 0) continue;  // no MPSSE
    Found found;
    found.bus = libusb_get_bus_number(at->dev);
    uint8_t ports[8];
    const int depth = libusb_get_port_numbers(at->dev, ports, sizeof ports);
    if (depth > 0) found.ports.assign(ports, ports + depth);
    found.device = at->dev;
    found.product = descriptor.idProduct;
    found.release = descriptor.bcdDevice;
    boards.push_back(std::move(found));
  }
  std::sort(boards.begin(), boards.end());
  return boards;
}

// libftdi's error text; its bulk reads and writes return libusb's code, named after it.
std::string Reason(ftdi_context* ftdi, int usbCode = 0) {
  std::string text = ftdi_get_error_string(ftdi);
  if (usbCode < 0) text += fmt::format(" ({})", libusb_error_name(usbCode));
  return text;
}

}  // namespace

LibftdiDriver::~LibftdiDriver() {
  for (Handle h = 0; h < static_cast<Handle>(open_.size()); ++h) Close(h);
}

ftdi_context* LibftdiDriver::Find(Handle handle) {
  if (handle < 0 || handle >= static_cast<Handle>(open_.size())) return nullptr;
  return open_[static_cast<size_t>(handle)];
}

bool LibftdiDriver::List(std::vector<FtdiChannel>& channels) {
  channels.clear();
  ftdi_context* ftdi = ftdi_new();
  if (ftdi == nullptr) {
    lastError_ = "libftdi cannot start (no USB in this system?)";
    return false;
  }
  ftdi_device_list* list = nullptr;
  std::string error;
  const std::vector<Found> boards = FindBoards(ftdi, list, error);
  for (const Found& board : boards) {
    char manufacturer[128] = "";
    char description[128] = "";
    char serial[128] = "";
    // A board whose strings cannot be read (no permission) is still listed: opening it
    // names the reason.
    if (ftdi_usb_get_strings2(ftdi, board.device, manufacturer, sizeof manufacturer, description,
                              sizeof description, serial, sizeof serial) < 0) {
      description[0] = serial[0] = '\0';
    }
    FtdiChannel channel;
    channel.chip = std::string(FtdiChipName(board.product, board.release));
    channel.serial = serial;
    channel.description = description;
    channel.position = board.Position();
    channel.channels = FtdiMpsseChannels(board.product, board.release);
    for (int c = 0; c < channel.channels; ++c) {
      channel.channel = static_cast<char>('A' + c);
      channels.push_back(channel);
    }
  }
  if (list != nullptr) ftdi_list_free(&list);
  ftdi_free(ftdi);
  if (!error.empty()) {
    lastError_ = error;
    return false;
  }
  return true;
}

FtdiDriver::Handle LibftdiDriver::Open(const FtdiChannel& channel) {
  ftdi_context* ftdi = ftdi_new();
  if (ftdi == nullptr) {
    lastError_ = "libftdi cannot start (no USB in this system?)";
    return kNoHandle;
  }
  const auto fail = [&](const std::string& step) {
    lastError_ = step + ": " + Reason(ftdi);
    ftdi_usb_close(ftdi);
    ftdi_free(ftdi);
    return kNoHandle;
  };
  ftdi->usb_read_timeout = kUsbTimeoutMs;
  ftdi->usb_write_timeout = kUsbTimeoutMs;
  if (ftdi_set_interface(ftdi, channel.channel == 'B' ? INTERFACE_B : INTERFACE_A) < 0) {
    return fail("channel " + std::string(1, channel.channel));
  }
  ftdi_device_list* list = nullptr;
  std::string error;
  const std::vector<Found> boards = FindBoards(ftdi, list, error);
  const auto at = std::find_if(boards.begin(), boards.end(),
                               [&](const Found& b) { return b.Position() == channel.position; });
  int usbCode = 0;
  if (at == boards.end()) {
    if (list != nullptr) ftdi_list_free(&list);
    lastError_ = error.empty() ? "not on the bus any more (unplugged?)" : error;
    ftdi_free(ftdi);
    return kNoHandle;
  }
  const int result = ftdi_usb_open_dev(ftdi, at->device);
  const std::string node =
      UsbDeviceNode(libusb_get_bus_number(at->device), libusb_get_device_address(at->device));
  if (result == -4) {
    // libftdi does not pass libusb's reason for a failed open on: ask once more.
    libusb_device_handle* probe = nullptr;
    usbCode = libusb_open(at->device, &probe);
    if (probe != nullptr) libusb_close(probe);
  }
  ftdi_list_free(&list);
  if (result < 0) {
    lastError_ = ftdi_get_error_string(ftdi);
    if (usbCode < 0) lastError_ += fmt::format(" ({})", libusb_error_name(usbCode));
    if (usbCode == LIBUSB_ERROR_ACCESS) {
      lastError_ += ": no permission to open it";
      const std::string hint = AccessHint(node);
      if (!hint.empty()) lastError_ += "; " + hint;
    }
    ftdi_free(ftdi);
    return kNoHandle;
  }
  if (ftdi_set_latency_timer(ftdi, kLatencyMs) < 0) return fail("latency timer");
  if (ftdi_set_bitmode(ftdi, 0, BITMODE_RESET) < 0) return fail("bit mode");
  if (ftdi_set_bitmode(ftdi, 0, BITMODE_MPSSE) < 0) return fail("MPSSE mode");
  if (ftdi_tcioflush(ftdi) < 0) return fail("purge");

  auto free = std::find(open_.begin(), open_.end(), nullptr);
  if (free == open_.end()) free = open_.insert(open_.end(), nullptr);
  *free = ftdi;
  return static_cast<Handle>(free - open_.begin());
}

void LibftdiDriver::Close(Handle handle) {
  ftdi_context* ftdi = Find(handle);
  if (ftdi == nullptr) return;
  // Back to the default mode; an unplugged board refuses, which changes nothing.
  ftdi_set_bitmode(ftdi, 0, BITMODE_RESET);
  ftdi_usb_close(ftdi);
  ftdi_free(ftdi);
  open_[static_cast<size_t>(handle)] = nullptr;
}

bool LibftdiDriver::Write(Handle handle, const uint8_t* data, size_t length) {
  ftdi_context* ftdi = Find(handle);
  if (ftdi == nullptr) {
    lastError_ = "no such handle";
    return false;
  }
  if (length > static_cast<size_t>(INT_MAX)) {
    lastError_ = "command buffer too long";
    return false;
  }
  // The bulk writes ftdi_write_data would make, made here so a failure keeps libusb's own
  // code (ftdi_write_data turns every one into -1, which would read LIBUSB_ERROR_IO).
  size_t sent = 0;
  const size_t chunk = std::max<size_t>(1, ftdi->writebuffer_chunksize);
  while (sent < length) {
    const int size = static_cast<int>(std::min(chunk, length - sent));
    int done = 0;
    const int result = libusb_bulk_transfer(ftdi->usb_dev, static_cast<unsigned char>(ftdi->in_ep),
                                            const_cast<uint8_t*>(data + sent), size, &done,
                                            ftdi->usb_write_timeout);
    if (result < 0) {
      lastError_ = fmt::format("usb bulk write failed ({})", libusb_error_name(result));
      return false;
    }
    if (done <= 0) {
      lastError_ = fmt::format("usb bulk write sent {} of {} bytes", sent, length);
      return false;
    }
    sent += static_cast<size_t>(done);
  }
  return true;
}

bool LibftdiDriver::Read(Handle handle, uint8_t* data, size_t length) {
  ftdi_context* ftdi = Find(handle);
  if (ftdi == nullptr) {
    lastError_ = "no such handle";
    return false;
  }
  if (length > static_cast<size_t>(INT_MAX)) {
    lastError_ = "answer too long";
    return false;
  }
  // ftdi_read_data gives what the chip has sent so far; the chip sends its status every
  // latency period, so each call returns within a few milliseconds.
  const auto deadline = std::chrono::steady_clock::now() + kReadTimeout;
  size_t got = 0;
  while (got < length) {
    const int result = ftdi_read_data(ftdi, data + got, static_cast<int>(length - got));
    if (result < 0) {
      lastError_ = Reason(ftdi, result);
      return false;
    }
    if (got == 0) readWaited_ = static_cast<size_t>(result) < length;
    got += static_cast<size_t>(result);
    if (got < length && std::chrono::steady_clock::now() > deadline) {
      lastError_ = fmt::format("no answer within {} ms ({} of {} bytes)", kReadTimeout.count(),
                               got, length);
      return false;
    }
  }
  return true;
}

}  // namespace pemra
