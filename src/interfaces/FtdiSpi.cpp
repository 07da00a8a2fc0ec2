#include "interfaces/FtdiSpi.h"

#include <algorithm>

#include <fmt/format.h>

#include "core/ShownText.h"
#include "interfaces/SpiFrames.h"
#include "interfaces/TraceText.h"

namespace pemra {

namespace {

constexpr uint8_t kNoAnswerWords = 0;

// "b" or "B" after the last colon names the channel.
bool SplitChannel(std::string_view device, std::string_view& name, char& channel) {
  name = device;
  channel = 'A';
  const size_t colon = device.rfind(':');
  if (colon == std::string_view::npos) return true;
  const std::string_view suffix = device.substr(colon + 1);
  if (suffix.size() != 1) return false;
  const char c = static_cast<char>(suffix[0] & ~0x20);  // upper case
  if (c != 'A' && c != 'B') return false;
  name = device.substr(0, colon);
  channel = c;
  return true;
}

}  // namespace

uint16_t MpsseDivisor(uint32_t maxHz, uint32_t baseHz) {
  if (maxHz == 0) return 0xFFFF;
  // The smallest d with base / ((1 + d) x 2) <= maxHz.
  const uint32_t half = baseHz / 2;
  const uint32_t d = (half + maxHz - 1) / maxHz;
  return static_cast<uint16_t>(std::clamp<uint32_t>(d, 1, 0x10000) - 1);
}

uint32_t MpsseClockHz(uint16_t divisor, uint32_t baseHz) {
  return baseHz / 2 / (uint32_t{divisor} + 1);
}

uint16_t MpsseStallBytes(uint32_t clockHz, uint32_t stallMicroseconds) {
  const uint64_t clocks =
      (uint64_t{stallMicroseconds} * clockHz + 999'999) / 1'000'000;  // rounded up
  return static_cast<uint16_t>(std::max<uint64_t>(1, (clocks + 7) / 8));
}

std::vector<uint8_t> MpsseSetupBuffer(uint16_t divisor, bool hSeries) {
  std::vector<uint8_t> buffer;
  if (hSeries) buffer = {mpsse::kDivideBy5Off, mpsse::kAdaptiveOff, mpsse::kThreePhaseOff};
  buffer.insert(buffer.end(), {mpsse::kSetDivisor, static_cast<uint8_t>(divisor & 0xFF),
                               static_cast<uint8_t>(divisor >> 8), mpsse::kSetLowByte,
                               mpsse::kDeselected, mpsse::kDirections, mpsse::kLoopbackOff});
  return buffer;
}

void AppendMpsseFrames(std::vector<uint8_t>& buffer, std::span<const uint16_t> frames, bool read,
                       uint16_t stallBytes, bool hSeries) {
  const auto low = [&](uint8_t value) {
    buffer.insert(buffer.end(), {mpsse::kSetLowByte, value, mpsse::kDirections});
  };
  for (const uint16_t frame : frames) {
    low(mpsse::kSelected);
    low(mpsse::kSelectedSkLow);
    buffer.insert(buffer.end(), {read ? mpsse::kClockBytesInOut : mpsse::kClockBytesOut, 0x01,
                                 0x00, static_cast<uint8_t>(frame >> 8),
                                 static_cast<uint8_t>(frame & 0xFF)});
    low(mpsse::kReleasedSkLow);
    low(mpsse::kDeselected);
    if (stallBytes == 0) continue;
    const auto count = static_cast<uint16_t>(stallBytes - 1);
    const uint8_t countLow = static_cast<uint8_t>(count & 0xFF);
    const uint8_t countHigh = static_cast<uint8_t>(count >> 8);
    if (hSeries) {
      buffer.insert(buffer.end(), {mpsse::kClockBytesIdle, countLow, countHigh});
    } else {
      buffer.insert(buffer.end(), {mpsse::kClockBytesOutRising, countLow, countHigh});
      buffer.insert(buffer.end(), stallBytes, uint8_t{0});
    }
  }
  if (read) buffer.push_back(mpsse::kSendImmediate);
}

std::vector<uint8_t> MpsseLineWatchBuffer(int looks, uint16_t spacingBytes, bool hSeries) {
  std::vector<uint8_t> buffer;
  const auto count = static_cast<uint16_t>(std::max<uint16_t>(spacingBytes, 1) - 1);
  const uint8_t countLow = static_cast<uint8_t>(count & 0xFF);
  const uint8_t countHigh = static_cast<uint8_t>(count >> 8);
  for (int i = 0; i < looks; ++i) {
    buffer.push_back(mpsse::kReadLowByte);
    if (i + 1 == looks) break;
    if (hSeries) {
      buffer.insert(buffer.end(), {mpsse::kClockBytesIdle, countLow, countHigh});
    } else {
      buffer.insert(buffer.end(), {mpsse::kClockBytesOutRising, countLow, countHigh});
      buffer.insert(buffer.end(), size_t{count} + 1, uint8_t{0});
    }
  }
  buffer.push_back(mpsse::kSendImmediate);
  return buffer;
}

bool DataReadyToggles(std::span<const uint8_t> lowBytes) {
  int high = 0;
  int changes = 0;
  for (size_t i = 0; i < lowBytes.size(); ++i) {
    const bool level = (lowBytes[i] & mpsse::kGpiol1) != 0;
    high += level ? 1 : 0;
    if (i > 0 && level != ((lowBytes[i - 1] & mpsse::kGpiol1) != 0)) ++changes;
  }
  const int low = static_cast<int>(lowBytes.size()) - high;
  return high > 0 && low > 0 && changes >= 4;
}

int PacedQueueLength(size_t framesPerBurst, bool hSeries) {
  const size_t answerBytes = std::max<size_t>(2 * framesPerBurst, 1);
  const size_t fits = (hSeries ? kAnswerBufferH : kAnswerBufferD) / answerBytes;
  return static_cast<int>(std::clamp<size_t>(fits, 1, kPacedQueue));
}

void AppendPacedBurst(std::vector<uint8_t>& buffer, std::span<const uint16_t> frames,
                      uint16_t stallBytes, bool hSeries, bool activeHigh) {
  // Level-sensitive waits: the inactive level first, so a burst that follows the last one
  // within the same active half period waits for the next sample instead of reading this one
  // again.
  if (activeHigh) {
    buffer.insert(buffer.end(), {mpsse::kWaitOnLow, mpsse::kWaitOnHigh});
  } else {
    buffer.insert(buffer.end(), {mpsse::kWaitOnHigh, mpsse::kWaitOnLow});
  }
  AppendMpsseFrames(buffer, frames, true, stallBytes, hSeries);
}

int FindFtdiChannel(const std::vector<FtdiChannel>& channels, std::string_view device) {
  if (device.empty()) return channels.empty() ? -1 : 0;
  std::string_view name;
  char channel = 'A';
  if (!SplitChannel(device, name, channel)) return -1;
  for (size_t i = 0; i < channels.size(); ++i) {
    const FtdiChannel& c = channels[i];
    if (c.channel != channel) continue;
    if ((!c.serial.empty() && c.serial == name) || c.position == name) return static_cast<int>(i);
  }
  return -1;
}

FtdiSpi::FtdiSpi(FtdiDriver* driver, MessageSink& messages, TraceSink* trace)
    : MaxClockHz(kSensorMaxClockHz),
      driver_(driver),
      messages_(messages),
      trace_(trace),
      divisor_(MpsseDivisor(kSensorMaxClockHz)) {
  frames_.reserve(kMaxBurstFrames);
  buffer_.reserve(kMaxBurstFrames * 32);
  answers_.reserve(kMaxBurstFrames * 2);
}

FtdiSpi::~FtdiSpi() { Deselect(); }

bool FtdiSpi::Scan(bool report) {
  Channels.clear();
  const bool listed = driver_ != nullptr && driver_->List(Channels);
  if (!Channels.empty()) return true;
  if (report) {
    std::string text = "No FTDI board found (FT232H, FT2232H or FT4232H)";
    if (driver_ != nullptr && !listed) text += ": " + driver_->LastError();
    messages_.Show(Message{std::move(text), "", MessageIcon::None});
  }
  return false;
}

void FtdiSpi::Deselect() {
  if (handle_ != FtdiDriver::kNoHandle && driver_ != nullptr) driver_->Close(handle_);
  handle_ = FtdiDriver::kNoHandle;
  FtdiSelected = false;
  pacedQueued_ = 0;
}

bool FtdiSpi::Select(std::string_view device) {
  Deselect();
  if (!Scan(device.empty())) {
    if (!device.empty()) {
      messages_.Show(
          Message{fmt::format("FTDI board {} not found", ShownText(device)), "", MessageIcon::None});
    }
    return false;
  }
  const int index = FindFtdiChannel(Channels, device);
  if (index < 0) {
    messages_.Show(
          Message{fmt::format("FTDI board {} not found", ShownText(device)), "", MessageIcon::None});
    return false;
  }
  SelectedChannel = Channels[static_cast<size_t>(index)];
  const std::string name = FtdiChannelName(SelectedChannel);
  handle_ = driver_->Open(SelectedChannel);
  if (handle_ == FtdiDriver::kNoHandle) {
    messages_.Show(Message{"Cannot open " + name + ": " + driver_->LastError(), "",
                           MessageIcon::None});
    return false;
  }
  hSeries_ = SelectedChannel.chip != "FT2232D";
  baseHz_ = FtdiBaseClockHz(SelectedChannel.chip);
  // Until SMPL_PRD is known, the low-power timing, which the sensor takes in either mode.
  timing_ = kLowPowerTiming;
  divisor_ = MpsseDivisor(std::min(MaxClockHz, timing_.maxHz), baseHz_);
  stallBytes_ = MpsseStallBytes(ClockHz(), timing_.stallMicroseconds);
  FtdiSelected = true;

  // In step with the engine: a bogus command comes back as "bad command" and itself.
  buffer_.assign({mpsse::kBogusCommand});
  uint8_t echo[2] = {0, 0};
  Trace('>', buffer_);
  if (!driver_->Write(handle_, buffer_.data(), buffer_.size()) ||
      !driver_->Read(handle_, echo, sizeof echo)) {
    Fail("Error Setting up SPI\r\n" + name + ": " + driver_->LastError());
    return false;
  }
  Trace('<', std::vector<uint8_t>(echo, echo + 2));
  if (echo[0] != mpsse::kBadCommandReply || echo[1] != mpsse::kBogusCommand) {
    Fail(fmt::format("Error Setting up SPI\r\n{}: the MPSSE engine answered {:02X} {:02X} "
                     "instead of FA AA",
                     name, echo[0], echo[1]));
    return false;
  }
  buffer_ = MpsseSetupBuffer(divisor_, hSeries_);
  if (!SendCommands("Error Setting up SPI")) return false;
  return FollowSamplePeriod();
}

bool FtdiSpi::SendCommands(const char* failText) {
  Trace('>', buffer_);
  if (!driver_->Write(handle_, buffer_.data(), buffer_.size())) {
    Fail(std::string(failText) + "\r\n" + FtdiChannelName(SelectedChannel) + ": " +
         driver_->LastError());
    return false;
  }
  return true;
}

bool FtdiSpi::UseTiming(const SerialTiming& timing) {
  const uint16_t divisor = MpsseDivisor(std::min(MaxClockHz, timing.maxHz), baseHz_);
  const uint16_t stallBytes = MpsseStallBytes(MpsseClockHz(divisor, baseHz_),
                                              timing.stallMicroseconds);
  const bool changed = timing.lowPower != timing_.lowPower || divisor != divisor_;
  timing_ = timing;
  stallBytes_ = stallBytes;
  if (!changed) return true;
  divisor_ = divisor;
  buffer_.assign({mpsse::kSetDivisor, static_cast<uint8_t>(divisor & 0xFF),
                  static_cast<uint8_t>(divisor >> 8)});
  if (!SendCommands("Error Setting up SPI")) return false;
  if (trace_ != nullptr) {
    trace_->Line("ftdi timing: " +
                 SerialTimingText(ClockHz(), timing_.stallMicroseconds, timing_.lowPower));
  }
  return true;
}

bool FtdiSpi::FollowSamplePeriod() {
  if (!UseTiming(kLowPowerTiming)) return false;
  const uint16_t frames[2] = {uint16_t{kSmplPrdAddress} << 8, uint16_t{kSmplPrdAddress} << 8};
  if (!Exchange(frames, true, "Error Reading SPI")) return false;
  return UseTiming(SerialTimingFor(answers_[2] << 8 | answers_[3]));
}

void FtdiSpi::Fail(const std::string& text) {
  Deselect();
  messages_.Show(Message{text, "", MessageIcon::None});
}

void FtdiSpi::Trace(char direction, const std::vector<uint8_t>& bytes) {
  if (trace_ == nullptr) return;
  fmt::memory_buffer line;
  fmt::format_to(std::back_inserter(line), "ftdi {}", direction);
  for (uint8_t b : bytes) fmt::format_to(std::back_inserter(line), " {:02X}", b);
  trace_->Line(std::string_view(line.data(), line.size()));
}

bool FtdiSpi::Exchange(std::span<const uint16_t> frames, bool read, const char* failText) {
  if (!FtdiSelected) return false;
  buffer_.clear();
  AppendMpsseFrames(buffer_, frames, read, stallBytes_, hSeries_);
  answers_.assign(read ? 2 * frames.size() : kNoAnswerWords, 0);
  Trace('>', buffer_);
  const std::string name = FtdiChannelName(SelectedChannel);
  if (!driver_->Write(handle_, buffer_.data(), buffer_.size())) {
    Fail(std::string(failText) + "\r\n" + name + ": " + driver_->LastError());
    return false;
  }
  if (read && !driver_->Read(handle_, answers_.data(), answers_.size())) {
    Fail(std::string(failText) + "\r\n" + name + ": " + driver_->LastError());
    if (trace_ != nullptr) {
      for (uint16_t f : frames) TraceSpiFrame(*trace_, f, kNoAnswer);
    }
    return false;
  }
  if (trace_ != nullptr) {
    if (read) Trace('<', answers_);
    for (size_t i = 0; i < frames.size(); ++i) {
      TraceSpiFrame(*trace_, frames[i],
                    read ? int32_t{answers_[2 * i]} << 8 | answers_[2 * i + 1] : kNoAnswer);
    }
  }
  return true;
}

int32_t FtdiSpi::ReadWord(int16_t address) {
  const auto frame = static_cast<uint16_t>((address & 0x7F) << 8);
  const uint16_t frames[2] = {frame, frame};
  if (!Exchange(frames, true, "Error Reading SPI")) return 0;
  return answers_[2] << 8 | answers_[3];
}

void FtdiSpi::WriteFramePair(int32_t frameA, int32_t frameB) {
  const uint16_t frames[2] = {static_cast<uint16_t>(frameA), static_cast<uint16_t>(frameB)};
  const bool samplePeriod = WritesSamplePeriod(frames[0]) || WritesSamplePeriod(frames[1]);
  // A write to SMPL_PRD may change the timing from its second frame on.
  if (samplePeriod && !UseTiming(kLowPowerTiming)) return;
  if (!Exchange(frames, false, "Error Writing SPI")) return;
  if (samplePeriod) FollowSamplePeriod();
}

bool FtdiSpi::ReadWords(std::span<const int16_t> addresses, std::span<int32_t> words) {
  const bool read = ReadWordsInPasses(
      addresses, words, frames_,
      [this](std::span<const uint16_t> frames) { return Exchange(frames, true, "Error Reading SPI"); },
      [this](size_t frame) { return answers_[2 * frame] << 8 | answers_[2 * frame + 1]; });
  return read && FtdiSelected;
}

}  // namespace pemra

namespace pemra {

namespace {
constexpr uint8_t kMscCtrlAddress = 0x34;
constexpr int32_t kDataReadyEnable = 0x04;
constexpr int32_t kDataReadyPolarity = 0x02;  // active high
constexpr int32_t kDataReadyOnDio0 = 0x01;    // clear: DI/O1
constexpr const char* kWireHint =
    "for hardware-paced capture wire the sensor's DI/O1 to ADBUS5 (GPIOL1)";
}  // namespace

bool FtdiSpi::FindDataReadyLine(Nanoseconds period, bool& activeHigh) {
  // The data-ready output on DI/O1, the line wired to ADBUS5; its polarity as set.
  const int32_t msc = ReadWord(kMscCtrlAddress);
  if (!FtdiSelected) return false;
  const int32_t wanted = (msc & ~kDataReadyOnDio0) | kDataReadyEnable;
  activeHigh = (wanted & kDataReadyPolarity) != 0;
  if (wanted != msc) {
    WriteFramePair(0x8000 | (kMscCtrlAddress + 1) << 8 | (msc >> 8 & 0xFF),
                   0x8000 | kMscCtrlAddress << 8 | (wanted & 0xFF));
    if (!FtdiSelected) return false;
    if (trace_ != nullptr) {
      trace_->Line(fmt::format("ftdi data ready: MSC_CTRL {:04X} -> {:04X} (output on DI/O1)",
                               msc, wanted));
    }
  }
  const auto spacingUs = static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(period).count() / 3);
  buffer_ = MpsseLineWatchBuffer(kDataReadyLooks, MpsseStallBytes(ClockHz(), spacingUs),
                                 hSeries_);
  if (!SendCommands("Error Reading SPI")) return false;
  answers_.assign(kDataReadyLooks, 0);
  if (!driver_->Read(handle_, answers_.data(), answers_.size())) {
    Fail("Error Reading SPI\r\n" + FtdiChannelName(SelectedChannel) + ": " +
         driver_->LastError());
    return false;
  }
  Trace('<', answers_);
  return DataReadyToggles(answers_);
}

bool FtdiSpi::StartPaced(std::span<const int16_t> addresses, Nanoseconds period) {
  dataReadyWired_ = false;
  pacedQueued_ = 0;
  pacingNote_.clear();
  if (!FtdiSelected || addresses.empty()) return false;
  if (addresses.size() + 1 > kMaxBurstFrames || period > kLongestPacedPeriod ||
      period <= Nanoseconds::zero()) {
    pacingNote_ = "bursts paced by polling the new-data flag (too long a burst or period "
                  "for the data-ready line)";
    return false;
  }
  bool activeHigh = true;
  if (!FindDataReadyLine(period, activeHigh)) {
    if (!FtdiSelected) return false;
    pacingNote_ = std::string("data-ready line not found on ADBUS5 (GPIOL1): bursts paced by "
                              "polling the new-data flag; ") + kWireHint;
    if (trace_ != nullptr) trace_->Line("ftdi " + pacingNote_);
    return false;
  }
  dataReadyWired_ = true;
  PipelinedReadFrames(addresses, pacedFrames_);
  pacedQueue_ = PacedQueueLength(pacedFrames_.size(), hSeries_);
  pacedBuffer_.clear();
  AppendPacedBurst(pacedBuffer_, pacedFrames_, stallBytes_, hSeries_, activeHigh);
  pacingNote_ = fmt::format(
      "hardware-paced on the data-ready line (DI/O1 to ADBUS5/GPIOL1), {} bursts queued",
      pacedQueue_);
  if (trace_ != nullptr) trace_->Line("ftdi " + pacingNote_);
  return true;
}

bool FtdiSpi::ReadPaced(std::span<int32_t> words, bool& waited) {
  std::fill(words.begin(), words.end(), 0);
  waited = false;
  if (!FtdiSelected || pacedQueued_ == 0 || words.size() + 1 != pacedFrames_.size()) return false;
  answers_.assign(2 * pacedFrames_.size(), 0);
  if (!driver_->Read(handle_, answers_.data(), answers_.size())) {
    pacedQueued_ = 0;
    Fail("Error Reading SPI\r\n" + FtdiChannelName(SelectedChannel) + ": " +
         driver_->LastError());
    return false;
  }
  --pacedQueued_;
  waited = driver_->LastReadWaited();
  if (trace_ != nullptr) {
    Trace('<', answers_);
    for (size_t i = 0; i < pacedFrames_.size(); ++i) {
      TraceSpiFrame(*trace_, pacedFrames_[i], int32_t{answers_[2 * i]} << 8 | answers_[2 * i + 1]);
    }
  }
  for (size_t i = 0; i < words.size(); ++i) {
    words[i] = answers_[2 * (i + 1)] << 8 | answers_[2 * (i + 1) + 1];
  }
  return true;
}

bool FtdiSpi::QueuePaced() {
  if (!FtdiSelected || pacedBuffer_.empty()) return false;
  buffer_ = pacedBuffer_;
  if (!SendCommands("Error Reading SPI")) {
    pacedQueued_ = 0;
    return false;
  }
  ++pacedQueued_;
  return true;
}

void FtdiSpi::StopPaced() {
  // The queued bursts run at the next data-ready edges; their answers are collected so that
  // nothing is left behind the next exchange's.
  while (pacedQueued_ > 0 && FtdiSelected) {
    answers_.assign(2 * pacedFrames_.size(), 0);
    if (!driver_->Read(handle_, answers_.data(), answers_.size())) {
      pacedQueued_ = 0;
      Fail("Error Reading SPI\r\n" + FtdiChannelName(SelectedChannel) + ": " +
           driver_->LastError());
      return;
    }
    --pacedQueued_;
  }
  pacedQueued_ = 0;
}

}  // namespace pemra
