#pragma once
// The FTDI boards through libftdi1: FT232H, FT2232H and FT4232H (vendor 0403, products 6014,
// 6010, 6011) in bus and port order, each MPSSE channel opened by its board's position.
// Every failure carries libftdi's error string, with libusb's error name where libftdi
// passes one on; answers are awaited at most kReadTimeout.

#include <chrono>
#include <string>
#include <vector>

#include "interfaces/FtdiDriver.h"

struct ftdi_context;

namespace pemra {

class LibftdiDriver final : public FtdiDriver {
 public:
  static constexpr std::chrono::milliseconds kReadTimeout{1000};

  LibftdiDriver() = default;
  ~LibftdiDriver() override;
  LibftdiDriver(const LibftdiDriver&) = delete;
  LibftdiDriver& operator=(const LibftdiDriver&) = delete;

  bool List(std::vector<FtdiChannel>& channels) override;
  Handle Open(const FtdiChannel& channel) override;
  void Close(Handle handle) override;
  bool Write(Handle handle, const uint8_t* data, size_t length) override;
  bool Read(Handle handle, uint8_t* data, size_t length) override;
  std::string LastError() const override { return lastError_; }
  bool LastReadWaited() const override { return readWaited_; }

 private:
  ftdi_context* Find(Handle handle);

  std::vector<ftdi_context*> open_;  // indexed by handle; null is a free entry
  std::string lastError_;
  bool readWaited_ = true;
};

}  // namespace pemra
