#pragma once
// Simulated FTDI boards behind the FTDI back-end interface: each MPSSE channel runs an MPSSE
// engine whose lines go to the sensor. For tests it records every command buffer and answer
// and injects faults (a refused open, a failed transfer, a board pulled out). With the timing
// model each command buffer costs one high-speed round trip (a 125 us microframe) plus the
// bus time it clocks. Between two command buffers the lines rest for the time that passed on
// the clock. A read waits, on the clock, for answers that commands queued behind a wait on
// GPIOL1 give once the line gets there (at most the time-out of 1000 ms).

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "interfaces/FtdiDriver.h"
#include "sim/MpsseEngine.h"
#include "sim/TransferFaults.h"

namespace pemra::sim {

struct FtdiBoardOptions {
  uint16_t productId = kFtdiProductFt232h;
  std::string serial = "FT5XYZ12";
  std::string description = "Single RS232-HS";
  std::string position = "1-4";
  // The device release: 0 for the one the product ID's H part has (0x0900 FT232H, 0x0700
  // FT2232H, 0x0800 FT4232H); 0x0500 makes an FT2232D of product 0x6010.
  uint16_t bcdDevice = 0;
  // The sensor's data-ready output (DI/O1) wired to channel A's GPIOL1 (ADBUS5).
  bool dataReadyWired = true;
};

// The device release a board reports.
uint16_t BoardBcdDevice(const FtdiBoardOptions& options);

inline constexpr Nanoseconds kFtdiRoundTrip = std::chrono::microseconds(125);
inline constexpr Nanoseconds kFtdiReadTimeout = std::chrono::milliseconds(1000);

class SimulatedFtdiDriver final : public FtdiDriver {
 public:
  SimulatedFtdiDriver(SpiSlave& slave, Clock& clock, const std::vector<FtdiBoardOptions>& boards);

  bool List(std::vector<FtdiChannel>& channels) override;
  Handle Open(const FtdiChannel& channel) override;
  void Close(Handle handle) override;
  bool Write(Handle handle, const uint8_t* data, size_t length) override;
  bool Read(Handle handle, uint8_t* data, size_t length) override;
  std::string LastError() const override { return lastError_; }
  bool LastReadWaited() const override { return readWaited_; }

  // The engine of a board's channel ('A' or 'B').
  MpsseEngine& Engine(size_t board, char channel);
  size_t OpenHandles() const { return handles_.size(); }

  // ---- faults ----
  void FailOpen(std::string reason) { openFailure_ = std::move(reason); }
  // The n-th write or read from now fails (n = 1: the next one).
  void FailNthTransfer(uint64_t n) { faults_.FailNth(n); }
  // After n more writes and reads every transfer, open and listing fails: the boards are gone.
  void UnplugAfter(uint64_t n) { faults_.GoneAfter(n); }

  void SetTimingModel(bool on) { timingModel_ = on; }

  struct Transfer {
    bool read = false;
    bool ok = false;
    std::vector<uint8_t> bytes;  // written, or read when ok
  };
  const std::deque<Transfer>& Transfers() const { return transfers_; }
  void ClearTransfers() { transfers_.clear(); }
  void SetRecordLimit(size_t limit) { recordLimit_ = limit; }

 private:
  struct Board {
    FtdiBoardOptions options;
    std::unique_ptr<MpsseEngine> channels[2];
  };
  struct OpenChannel {
    size_t board;
    int channel;
  };
  MpsseEngine* EngineOf(Handle handle);
  bool Unplugged() const { return faults_.Gone(); }
  void Record(bool read, bool ok, const uint8_t* data, size_t length);
  bool Fail(std::string reason);

  Clock& clock_;
  std::vector<Board> boards_;
  std::map<Handle, OpenChannel> handles_;
  Handle nextHandle_ = 1;
  std::string lastError_;
  std::string openFailure_;
  TransferFaults faults_;
  bool timingModel_ = false;
  bool readWaited_ = true;
  std::deque<Transfer> transfers_;
  size_t recordLimit_ = 4096;
};

}  // namespace pemra::sim
