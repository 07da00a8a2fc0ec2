#include "interfaces/SpidevSpi.h"

#include <algorithm>
#include <cstring>

#include <fmt/format.h>

#include "core/ShownText.h"
#include "interfaces/SpiFrames.h"
#include "interfaces/TraceText.h"

namespace pemra {

namespace {

constexpr uint32_t kFrameBytes = 2;
// Transfers of one message at most: 32 short transfers fill spidev's 4096-byte buffer on
// arm64, where each is rounded up to 128 bytes.
constexpr size_t kMaxSpidevTransfers = 32;

}  // namespace

SpidevSpi::SpidevSpi(SpidevDriver* driver, MessageSink& messages, TraceSink* trace, Clock* clock)
    : MaxClockHz(kSensorMaxClockHz),
      driver_(driver),
      messages_(messages),
      trace_(trace),
      clock_(clock) {
  frames_.reserve(kMaxBurstFrames);
  tx_.reserve(kMaxBurstFrames * kFrameBytes);
  rx_.reserve(kMaxBurstFrames * kFrameBytes);
  transfers_.reserve(kMaxBurstFrames);
}

SpidevSpi::~SpidevSpi() { Deselect(); }

bool SpidevSpi::Scan(bool report) {
  Devices.clear();
  const bool listed = driver_ != nullptr && driver_->List(Devices);
  if (!Devices.empty()) return true;
  if (report) {
    std::string text = "No SPI device found (/dev/spidev*)";
    if (driver_ != nullptr && !listed) text += ": " + driver_->LastError();
    messages_.Show(Message{std::move(text), "", MessageIcon::None});
  }
  return false;
}

void SpidevSpi::Deselect() {
  if (handle_ != SpidevDriver::kNoHandle && driver_ != nullptr) driver_->Close(handle_);
  handle_ = SpidevDriver::kNoHandle;
  SpidevSelected = false;
}

void SpidevSpi::Fail(const std::string& text) {
  Deselect();
  messages_.Show(Message{text, "", MessageIcon::None});
}

bool SpidevSpi::Select(std::string_view path) {
  Deselect();
  if (!Scan(path.empty())) {
    if (!path.empty()) {
      messages_.Show(
          Message{fmt::format("SPI device {} not found", ShownText(path)), "", MessageIcon::None});
    }
    return false;
  }
  if (!path.empty() && std::find(Devices.begin(), Devices.end(), path) == Devices.end()) {
    messages_.Show(
          Message{fmt::format("SPI device {} not found", ShownText(path)), "", MessageIcon::None});
    return false;
  }
  SelectedDevice = path.empty() ? Devices.front() : std::string(path);
  handle_ = driver_->Open(SelectedDevice);
  if (handle_ == SpidevDriver::kNoHandle) {
    messages_.Show(Message{"Cannot open " + driver_->LastError(), "", MessageIcon::None});
    return false;
  }
  const std::string name = "SPI " + SelectedDevice;
  if (!driver_->SetMode(handle_, kSpiMode3)) {
    Fail("Error Setting up SPI\r\n" + name + ": mode 3: " + driver_->LastError());
    return false;
  }
  // 16-bit words where the controller has them, else each frame as two bytes.
  bits_ = 16;
  if (!driver_->SetBitsPerWord(handle_, 16)) {
    bits_ = 8;
    if (!driver_->SetBitsPerWord(handle_, 8)) {
      Fail("Error Setting up SPI\r\n" + name + ": 16- or 8-bit words: " + driver_->LastError());
      return false;
    }
  }
  // The node's highest speed; each transfer asks for the timing's clock.
  timing_ = kNormalTiming;
  clockHz_ = std::min(MaxClockHz, kSensorMaxClockHz);
  if (!driver_->SetMaxSpeed(handle_, clockHz_)) {
    Fail("Error Setting up SPI\r\n" + name + ": " + ClockText(clockHz_) + ": " +
         driver_->LastError());
    return false;
  }
  if (trace_ != nullptr) {
    trace_->Line(fmt::format("spidev {}: mode 3, {}, {}", SelectedDevice,
                             bits_ == 16 ? "16-bit words" : "8-bit words (byte pairs)",
                             ClockText(clockHz_)));
  }
  SpidevSelected = true;
  return FollowSamplePeriod();
}

void SpidevSpi::UseTiming(const SerialTiming& timing) {
  const uint32_t hz = std::min({MaxClockHz, kSensorMaxClockHz, timing.maxHz});
  const bool changed = hz != clockHz_ || timing.lowPower != timing_.lowPower;
  timing_ = timing;
  clockHz_ = hz;
  if (changed && trace_ != nullptr) {
    trace_->Line(fmt::format("spidev timing: {}", SerialTimingText(clockHz_,
                                                                  timing_.stallMicroseconds,
                                                                  timing_.lowPower)));
  }
}

bool SpidevSpi::FollowSamplePeriod() {
  UseTiming(kLowPowerTiming);
  const uint16_t frames[2] = {uint16_t{kSmplPrdAddress} << 8, uint16_t{kSmplPrdAddress} << 8};
  if (!Exchange(frames, "Error Reading SPI")) return false;
  UseTiming(SerialTimingFor(Answer(1)));
  return true;
}

uint16_t SpidevSpi::Answer(size_t frame) const {
  const uint8_t* at = rx_.data() + frame * kFrameBytes;
  if (bits_ == 16) {
    uint16_t word = 0;
    std::memcpy(&word, at, 2);  // the machine's byte order, as the kernel keeps 16-bit words
    return word;
  }
  return static_cast<uint16_t>(at[0] << 8 | at[1]);
}

bool SpidevSpi::Exchange(std::span<const uint16_t> frames, const char* failText) {
  if (!SpidevSelected) return false;
  tx_.resize(frames.size() * kFrameBytes);
  rx_.assign(frames.size() * kFrameBytes, 0);
  for (size_t i = 0; i < frames.size(); ++i) {
    uint8_t* out = tx_.data() + i * kFrameBytes;
    if (bits_ == 16) {
      std::memcpy(out, &frames[i], 2);
    } else {
      out[0] = static_cast<uint8_t>(frames[i] >> 8);  // most significant byte first
      out[1] = static_cast<uint8_t>(frames[i] & 0xFF);
    }
  }
  // The low-power stall is longer than the core's chip-select release: one frame a message.
  const size_t perMessage = timing_.lowPower ? 1 : kMaxSpidevTransfers;
  for (size_t first = 0; first < frames.size(); first += perMessage) {
    if (SendMessage(first, std::min(perMessage, frames.size() - first))) continue;
    Fail(std::string(failText) + "\r\nSPI " + SelectedDevice + ": " + driver_->LastError());
    if (trace_ != nullptr) {
      for (uint16_t f : frames) TraceSpiFrame(*trace_, f, kNoAnswer);
    }
    return false;
  }
  if (trace_ != nullptr) {
    for (size_t i = 0; i < frames.size(); ++i) TraceSpiFrame(*trace_, frames[i], Answer(i));
  }
  return true;
}

bool SpidevSpi::SendMessage(size_t first, size_t count) {
  transfers_.clear();
  for (size_t i = first; i < first + count; ++i) {
    SpiTransfer t;
    t.tx = tx_.data() + i * kFrameBytes;
    t.rx = rx_.data() + i * kFrameBytes;
    t.length = kFrameBytes;
    t.speedHz = clockHz_;
    // Between frames the select goes high for the core's cs_change delay; after the last
    // the message ends with it high.
    t.csChange = i + 1 < first + count;
    transfers_.push_back(t);
  }
  if (clock_ != nullptr) {
    const Nanoseconds due =
        lastMessageEnd_ + std::chrono::microseconds(timing_.stallMicroseconds);
    if (clock_->Now() < due) clock_->Wait(due - clock_->Now());
  }
  const bool sent = driver_->Message(handle_, transfers_);
  if (clock_ != nullptr) lastMessageEnd_ = clock_->Now();
  return sent;
}

int32_t SpidevSpi::ReadWord(int16_t address) {
  const auto frame = static_cast<uint16_t>((address & 0x7F) << 8);
  const uint16_t frames[2] = {frame, frame};
  if (!Exchange(frames, "Error Reading SPI")) return 0;
  return Answer(1);
}

void SpidevSpi::WriteFramePair(int32_t frameA, int32_t frameB) {
  const uint16_t frames[2] = {static_cast<uint16_t>(frameA), static_cast<uint16_t>(frameB)};
  const bool samplePeriod = WritesSamplePeriod(frames[0]) || WritesSamplePeriod(frames[1]);
  // A write to SMPL_PRD may change the timing from its second frame on.
  if (samplePeriod) UseTiming(kLowPowerTiming);
  if (Exchange(frames, "Error Writing SPI") && samplePeriod) FollowSamplePeriod();
}

bool SpidevSpi::ReadWords(std::span<const int16_t> addresses, std::span<int32_t> words) {
  const bool read = ReadWordsInPasses(
      addresses, words, frames_,
      [this](std::span<const uint16_t> frames) { return Exchange(frames, "Error Reading SPI"); },
      [this](size_t frame) { return static_cast<int32_t>(Answer(frame)); }, kMaxBurstFrames);
  return read && SpidevSelected;
}

}  // namespace pemra
