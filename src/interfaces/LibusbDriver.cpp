#include "interfaces/LibusbDriver.h"

#include "interfaces/AccessHint.h"

#include <libusb.h>

#include <algorithm>
#include <charconv>
#include <climits>

#include <fmt/format.h>

namespace pemra {

namespace {

constexpr std::string_view kSlotPrefix = "Ezusb-";
constexpr int kInterface = 0;
constexpr unsigned kTimeoutMs = static_cast<unsigned>(LibusbDriver::kTransferTimeout.count());

// Where a device sits: its bus, then the port numbers from the root hub down.
struct Location {
  uint8_t bus = 0;
  std::vector<uint8_t> ports;
  libusb_device* device = nullptr;
  bool operator<(const Location& other) const {
    return bus != other.bus ? bus < other.bus : ports < other.ports;
  }
};

// The slot number of "Ezusb-<n>", or -1.
int SlotOf(std::string_view deviceName) {
  if (deviceName.substr(0, kSlotPrefix.size()) != kSlotPrefix) return -1;
  const std::string_view digits = deviceName.substr(kSlotPrefix.size());
  int slot = -1;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), slot);
  if (error != std::errc{} || end != digits.data() + digits.size()) return -1;
  return slot >= 0 && slot < kAdapterSlots ? slot : -1;
}

}  // namespace

LibusbDriver::LibusbDriver() {
  const int result = libusb_init(&context_);
  if (result != LIBUSB_SUCCESS) {
    context_ = nullptr;
    lastError_ = libusb_error_name(result);
  }
}

LibusbDriver::~LibusbDriver() {
  for (Handle h = 0; h < static_cast<Handle>(open_.size()); ++h) Close(h);
  if (context_ != nullptr) libusb_exit(context_);
}

LibusbDriver::OpenAdapter* LibusbDriver::Find(Handle handle) {
  if (handle < 0 || handle >= static_cast<Handle>(open_.size())) return nullptr;
  OpenAdapter& adapter = open_[static_cast<size_t>(handle)];
  return adapter.handle != nullptr ? &adapter : nullptr;
}

UsbDriver::Handle LibusbDriver::Open(std::string_view deviceName) {
  openFailure_.clear();
  if (context_ == nullptr) return kNoHandle;  // lastError_ tells why libusb did not start
  const int slot = SlotOf(deviceName);
  if (slot < 0) {
    lastError_ = fmt::format("no such device file: {}", deviceName);
    return kNoHandle;
  }

  // The adapters present now, in a stable order; slot k is the k-th of them.
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context_, &list);
  if (count < 0) {
    lastError_ = libusb_error_name(static_cast<int>(count));
    return kNoHandle;
  }
  std::vector<Location> adapters;
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(list[i], &descriptor) != LIBUSB_SUCCESS) continue;
    if (descriptor.idVendor != kAdapterVendorId) continue;
    Location location;
    location.bus = libusb_get_bus_number(list[i]);
    uint8_t ports[8];
    const int depth = libusb_get_port_numbers(list[i], ports, sizeof ports);
    if (depth > 0) location.ports.assign(ports, ports + depth);
    location.device = list[i];
    adapters.push_back(std::move(location));
  }
  std::sort(adapters.begin(), adapters.end());

  OpenAdapter adapter;
  int result = LIBUSB_ERROR_NOT_FOUND;
  std::string node;
  if (static_cast<size_t>(slot) < adapters.size()) {
    libusb_device* device = adapters[static_cast<size_t>(slot)].device;
    node = UsbDeviceNode(libusb_get_bus_number(device), libusb_get_device_address(device));
    result = libusb_open(device, &adapter.handle);
    if (result == LIBUSB_SUCCESS) {
      libusb_device_descriptor d{};
      libusb_get_device_descriptor(device, &d);
      adapter.deviceDescriptor = {d.bLength,
                                  d.bDescriptorType,
                                  static_cast<uint8_t>(d.bcdUSB & 0xFF),
                                  static_cast<uint8_t>(d.bcdUSB >> 8),
                                  d.bDeviceClass,
                                  d.bDeviceSubClass,
                                  d.bDeviceProtocol,
                                  d.bMaxPacketSize0,
                                  static_cast<uint8_t>(d.idVendor & 0xFF),
                                  static_cast<uint8_t>(d.idVendor >> 8),
                                  static_cast<uint8_t>(d.idProduct & 0xFF),
                                  static_cast<uint8_t>(d.idProduct >> 8),
                                  static_cast<uint8_t>(d.bcdDevice & 0xFF),
                                  static_cast<uint8_t>(d.bcdDevice >> 8),
                                  d.iManufacturer,
                                  d.iProduct,
                                  d.iSerialNumber,
                                  d.bNumConfigurations};
      // Pipe k is the k-th endpoint of interface 0.
      libusb_config_descriptor* config = nullptr;
      if (libusb_get_active_config_descriptor(device, &config) == LIBUSB_SUCCESS) {
        if (config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0) {
          const libusb_interface_descriptor& alt = config->interface[0].altsetting[0];
          for (int e = 0; e < alt.bNumEndpoints; ++e) {
            adapter.pipes.push_back(
                UsbPipeInfo{alt.endpoint[e].wMaxPacketSize, alt.endpoint[e].bEndpointAddress});
          }
        }
        libusb_free_config_descriptor(config);
      }
      libusb_set_auto_detach_kernel_driver(adapter.handle, 1);
      result = libusb_claim_interface(adapter.handle, kInterface);
      if (result != LIBUSB_SUCCESS) {
        libusb_close(adapter.handle);
        adapter.handle = nullptr;
      }
    }
  }
  libusb_free_device_list(list, 1);
  if (adapter.handle == nullptr) {
    lastError_ = libusb_error_name(result);
    if (static_cast<size_t>(slot) < adapters.size()) {
      openFailure_ = lastError_;
      if (result == LIBUSB_ERROR_ACCESS) {
        openFailure_ += ": no permission to open it";
        const std::string hint = AccessHint(node);
        if (!hint.empty()) openFailure_ += "; " + hint;
      } else if (result == LIBUSB_ERROR_BUSY) {
        openFailure_ += ": another program has claimed it";
      }
    }
    return kNoHandle;
  }

  auto free = std::find_if(open_.begin(), open_.end(),
                           [](const OpenAdapter& a) { return a.handle == nullptr; });
  if (free == open_.end()) free = open_.insert(open_.end(), OpenAdapter{});
  *free = std::move(adapter);
  return static_cast<Handle>(free - open_.begin());
}

void LibusbDriver::Close(Handle handle) {
  OpenAdapter* adapter = Find(handle);
  if (adapter == nullptr) return;
  libusb_release_interface(adapter->handle, kInterface);
  libusb_close(adapter->handle);
  *adapter = OpenAdapter{};
}

bool LibusbDriver::GetDeviceDescriptor(Handle handle, std::array<uint8_t, 18>& descriptor) {
  OpenAdapter* adapter = Find(handle);
  if (adapter == nullptr) {
    lastError_ = "no such handle";
    return false;
  }
  descriptor = adapter->deviceDescriptor;
  return true;
}

bool LibusbDriver::GetStringDescriptor(Handle handle, uint8_t index, size_t maxLength,
                                       std::vector<uint8_t>& descriptor) {
  OpenAdapter* adapter = Find(handle);
  if (adapter == nullptr) {
    lastError_ = "no such handle";
    return false;
  }
  descriptor.assign(std::min<size_t>(maxLength, 255), 0);
  const auto length = static_cast<int>(descriptor.size());
  // Language 0 first, as the adapters have always been asked; then the device's first
  // language, for devices that refuse language 0.
  int result = libusb_get_string_descriptor(adapter->handle, index, 0, descriptor.data(), length);
  if (result < 0) {
    uint8_t languages[4] = {};
    if (libusb_get_string_descriptor(adapter->handle, 0, 0, languages, sizeof languages) >= 4) {
      const auto language = static_cast<uint16_t>(languages[2] | languages[3] << 8);
      result = libusb_get_string_descriptor(adapter->handle, index, language, descriptor.data(),
                                            length);
    }
  }
  if (result < 0) {
    lastError_ = libusb_error_name(result);
    descriptor.clear();
    return false;
  }
  descriptor.resize(static_cast<size_t>(result));
  return true;
}

bool LibusbDriver::GetPipeInfo(Handle handle, std::vector<UsbPipeInfo>& pipes) {
  OpenAdapter* adapter = Find(handle);
  if (adapter == nullptr) {
    lastError_ = "no such handle";
    return false;
  }
  pipes = adapter->pipes;
  return true;
}

bool LibusbDriver::Transfer(Handle handle, int pipe, uint8_t* data, size_t length,
                            size_t& transferred, bool in) {
  transferred = 0;
  OpenAdapter* adapter = Find(handle);
  if (adapter == nullptr) {
    lastError_ = "no such handle";
    return false;
  }
  if (pipe < 0 || static_cast<size_t>(pipe) >= adapter->pipes.size()) {
    lastError_ = fmt::format("no pipe {}", pipe);
    return false;
  }
  if (length > static_cast<size_t>(INT_MAX)) {
    lastError_ = "transfer too long";
    return false;
  }
  const uint8_t endpoint = adapter->pipes[static_cast<size_t>(pipe)].endpointAddress;
  if (((endpoint & LIBUSB_ENDPOINT_IN) != 0) != in) {
    lastError_ = fmt::format("pipe {} does not go that way", pipe);
    return false;
  }
  int actual = 0;
  const int result = libusb_bulk_transfer(adapter->handle, endpoint, data,
                                          static_cast<int>(length), &actual, kTimeoutMs);
  transferred = actual > 0 ? static_cast<size_t>(actual) : 0;
  if (result != LIBUSB_SUCCESS) {
    lastError_ = libusb_error_name(result);
    return false;
  }
  return true;
}

bool LibusbDriver::BulkWrite(Handle handle, int pipe, const uint8_t* data, size_t length,
                             size_t& transferred) {
  // libusb takes a non-const buffer for both directions; an OUT transfer only reads it.
  return Transfer(handle, pipe, const_cast<uint8_t*>(data), length, transferred, false);
}

bool LibusbDriver::BulkRead(Handle handle, int pipe, uint8_t* data, size_t length,
                            size_t& transferred) {
  return Transfer(handle, pipe, data, length, transferred, true);
}

}  // namespace pemra
