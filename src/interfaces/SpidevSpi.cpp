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

}  // namespace

SpidevSpi::SpidevSpi(SpidevDriver* driver, MessageSink& messages, TraceSink* trace)
    : MaxClockHz(kSensorMaxClockHz), driver_(driver), messages_(messages), trace_(trace) {
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
  transfers_.clear();
  for (size_t i = 0; i < frames.size(); ++i) {
    uint8_t* out = tx_.data() + i * kFrameBytes;
    if (bits_ == 16) {
      std::memcpy(out, &frames[i], 2);
    } else {
      out[0] = static_cast<uint8_t>(frames[i] >> 8);  // most significant byte first
      out[1] = static_cast<uint8_t>(frames[i] & 0xFF);
    }
    SpiTransfer t;
    t.tx = out;
    t.rx = rx_.data() + i * kFrameBytes;
    t.length = kFrameBytes;
    // Between frames the select goes high for at least the sensor's stall.
    const bool last = i + 1 == frames.size();
    t.csChange = !last;
    t.delayUsecs = last ? 0 : static_cast<uint16_t>(kSensorStallMicroseconds);
    transfers_.push_back(t);
  }
  if (!driver_->Message(handle_, transfers_)) {
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

int32_t SpidevSpi::ReadWord(int16_t address) {
  const auto frame = static_cast<uint16_t>((address & 0x7F) << 8);
  const uint16_t frames[2] = {frame, frame};
  if (!Exchange(frames, "Error Reading SPI")) return 0;
  return Answer(1);
}

void SpidevSpi::WriteFramePair(int32_t frameA, int32_t frameB) {
  const uint16_t frames[2] = {static_cast<uint16_t>(frameA), static_cast<uint16_t>(frameB)};
  Exchange(frames, "Error Writing SPI");
}

bool SpidevSpi::ReadWords(std::span<const int16_t> addresses, std::span<int32_t> words) {
  const bool read = ReadWordsInPasses(
      addresses, words, frames_,
      [this](std::span<const uint16_t> frames) { return Exchange(frames, "Error Reading SPI"); },
      [this](size_t frame) { return static_cast<int32_t>(Answer(frame)); });
  return read && SpidevSelected;
}

}  // namespace pemra
