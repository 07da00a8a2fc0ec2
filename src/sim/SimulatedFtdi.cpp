#include "sim/SimulatedFtdi.h"

#include <algorithm>

namespace pemra::sim {

uint16_t BoardBcdDevice(const FtdiBoardOptions& options) {
  if (options.bcdDevice != 0) return options.bcdDevice;
  switch (options.productId) {
    case kFtdiProductFt232h:
      return 0x0900;
    case kFtdiProductFt4232h:
      return 0x0800;
    default:
      return 0x0700;
  }
}

SimulatedFtdiDriver::SimulatedFtdiDriver(SpiSlave& slave, Clock& clock,
                                         const std::vector<FtdiBoardOptions>& boards)
    : clock_(clock) {
  for (const FtdiBoardOptions& options : boards) {
    Board board;
    board.options = options;
    // Every MPSSE channel's lines go to the one sensor.
    const uint16_t bcd = BoardBcdDevice(options);
    for (int c = 0; c < FtdiMpsseChannels(options.productId, bcd) && c < 2; ++c) {
      board.channels[c] = std::make_unique<MpsseEngine>(&slave, bcd);
    }
    if (board.channels[0]) board.channels[0]->WireGpiol1(options.dataReadyWired);
    boards_.push_back(std::move(board));
  }
}

bool SimulatedFtdiDriver::Fail(std::string reason) {
  lastError_ = std::move(reason);
  return false;
}

MpsseEngine& SimulatedFtdiDriver::Engine(size_t board, char channel) {
  return *boards_.at(board).channels[channel == 'B' ? 1 : 0];
}

bool SimulatedFtdiDriver::List(std::vector<FtdiChannel>& channels) {
  channels.clear();
  if (Unplugged()) return true;
  for (const Board& board : boards_) {
    FtdiChannel c;
    const uint16_t bcd = BoardBcdDevice(board.options);
    c.chip = std::string(FtdiChipName(board.options.productId, bcd));
    c.serial = board.options.serial;
    c.description = board.options.description;
    c.position = board.options.position;
    c.channels = FtdiMpsseChannels(board.options.productId, bcd);
    for (int i = 0; i < c.channels; ++i) {
      c.channel = static_cast<char>('A' + i);
      channels.push_back(c);
    }
  }
  return true;
}

FtdiDriver::Handle SimulatedFtdiDriver::Open(const FtdiChannel& channel) {
  const auto at = std::find_if(boards_.begin(), boards_.end(), [&](const Board& b) {
    return b.options.position == channel.position;
  });
  if (at == boards_.end() || Unplugged()) {
    lastError_ = "not on the bus any more (unplugged?)";
    return kNoHandle;
  }
  const int c = channel.channel == 'B' ? 1 : 0;
  if (!at->channels[c]) {
    lastError_ = "the board has no MPSSE channel " + std::string(1, channel.channel);
    return kNoHandle;
  }
  if (!openFailure_.empty()) {
    lastError_ = openFailure_;
    return kNoHandle;
  }
  // Reset, MPSSE bit mode, buffers purged.
  MpsseEngine& engine = *at->channels[c];
  engine.SetMpsse(false);
  engine.SetMpsse(true);
  engine.Purge();
  const Handle h = nextHandle_++;
  handles_[h] = OpenChannel{static_cast<size_t>(at - boards_.begin()), c};
  return h;
}

void SimulatedFtdiDriver::Close(Handle handle) {
  if (MpsseEngine* engine = EngineOf(handle); engine != nullptr) engine->SetMpsse(false);
  handles_.erase(handle);
}

MpsseEngine* SimulatedFtdiDriver::EngineOf(Handle handle) {
  const auto it = handles_.find(handle);
  if (it == handles_.end()) return nullptr;
  return boards_[it->second.board].channels[it->second.channel].get();
}

void SimulatedFtdiDriver::Record(bool read, bool ok, const uint8_t* data, size_t length) {
  if (recordLimit_ == 0) return;
  Transfer t;
  t.read = read;
  t.ok = ok;
  if (data != nullptr && length > 0) t.bytes.assign(data, data + length);
  transfers_.push_back(std::move(t));
  while (transfers_.size() > recordLimit_) transfers_.pop_front();
}

bool SimulatedFtdiDriver::Write(Handle handle, const uint8_t* data, size_t length) {
  MpsseEngine* engine = EngineOf(handle);
  const bool gone = Unplugged();
  const bool fault = faults_.Next();
  if (engine == nullptr || fault) {
    Record(false, false, data, length);
    if (engine == nullptr) return Fail("no such handle");
    return Fail(gone ? "usb bulk write failed (LIBUSB_ERROR_NO_DEVICE)"
                            : "usb bulk write failed (LIBUSB_ERROR_IO)");
  }
  engine->Resume(clock_.Now());
  engine->Write(data, length);
  const Nanoseconds busy = engine->TakeBusyTime();
  if (timingModel_) clock_.Wait(kFtdiRoundTrip + busy);
  engine->Pause(clock_.Now());
  Record(false, true, data, length);
  return true;
}

bool SimulatedFtdiDriver::Read(Handle handle, uint8_t* data, size_t length) {
  MpsseEngine* engine = EngineOf(handle);
  const bool gone = Unplugged();
  const bool fault = faults_.Next();
  if (engine == nullptr || fault) {
    Record(true, false, nullptr, 0);
    if (engine == nullptr) return Fail("no such handle");
    return Fail(gone ? "usb bulk read failed (LIBUSB_ERROR_NO_DEVICE)"
                            : "usb bulk read failed (LIBUSB_ERROR_IO)");
  }
  // Answers behind a wait on GPIOL1 come when the line gets to its level.
  const Nanoseconds giveUp = clock_.Now() + kFtdiReadTimeout;
  engine->Advance(clock_.Now());
  readWaited_ = engine->Available() < length;
  while (engine->Available() < length && engine->Waiting() && engine->WaitingUntil() &&
         *engine->WaitingUntil() <= giveUp) {
    clock_.Sleep(*engine->WaitingUntil() - clock_.Now());
    engine->Advance(clock_.Now());
  }
  // The bus time of commands run behind a wait was the chip's, while the host was elsewhere.
  engine->TakeBusyTime();
  if (engine->Available() < length) {
    // The chip would keep sending its status bytes until the host gives up.
    const size_t got = engine->Read(data, length);
    Record(true, false, data, got);
    return Fail("no answer within 1000 ms (" + std::to_string(got) + " of " +
                std::to_string(length) + " bytes)");
  }
  engine->Read(data, length);
  Record(true, true, data, length);
  return true;
}

}  // namespace pemra::sim
