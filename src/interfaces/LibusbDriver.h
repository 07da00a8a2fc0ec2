#pragma once
// The USB adapters through libusb: devices with the adapters' vendor ID fill the slots
// "Ezusb-0".."Ezusb-3" in a stable order (bus number, then port path). Opening a slot
// claims interface 0, closing releases it; pipe k is the k-th endpoint of interface 0;
// every transfer has a time-out, so a silent or unplugged adapter fails instead of hanging.

#include <chrono>
#include <string>
#include <vector>

#include "interfaces/UsbDriver.h"

struct libusb_context;
struct libusb_device_handle;

namespace pemra {

class LibusbDriver final : public UsbDriver {
 public:
  static constexpr std::chrono::milliseconds kTransferTimeout{1000};

  // Starts libusb. If it cannot start (no USB in this system or sandbox), every Open fails
  // and LastError says why.
  LibusbDriver();
  ~LibusbDriver() override;
  LibusbDriver(const LibusbDriver&) = delete;
  LibusbDriver& operator=(const LibusbDriver&) = delete;

  Handle Open(std::string_view deviceName) override;
  void Close(Handle handle) override;
  bool GetDeviceDescriptor(Handle handle, std::array<uint8_t, 18>& descriptor) override;
  bool GetStringDescriptor(Handle handle, uint8_t index, size_t maxLength,
                           std::vector<uint8_t>& descriptor) override;
  bool GetPipeInfo(Handle handle, std::vector<UsbPipeInfo>& pipes) override;
  bool BulkWrite(Handle handle, int pipe, const uint8_t* data, size_t length,
                 size_t& transferred) override;
  bool BulkRead(Handle handle, int pipe, uint8_t* data, size_t length,
                size_t& transferred) override;
  std::string LastError() const override { return lastError_; }
  std::string OpenFailureReason() const override { return openFailure_; }

  bool Started() const { return context_ != nullptr; }

 private:
  struct OpenAdapter {
    libusb_device_handle* handle = nullptr;
    std::array<uint8_t, 18> deviceDescriptor{};
    std::vector<UsbPipeInfo> pipes;
  };

  OpenAdapter* Find(Handle handle);
  bool Transfer(Handle handle, int pipe, uint8_t* data, size_t length, size_t& transferred,
                bool in);

  libusb_context* context_ = nullptr;
  std::vector<OpenAdapter> open_;  // indexed by handle; a null handle is a free entry
  std::string lastError_;
  std::string openFailure_;  // the last Open found an adapter but could not open it
};

}  // namespace pemra
