#include "datalog/BurstSampleReader.h"

#include <algorithm>

#include "core/RegisterTable.h"

namespace pemra {

namespace {
constexpr int16_t kPitchRollModel = 21410;  // X gyro only; pitch and roll for two temperatures
}  // namespace

BurstSampleReader::BurstSampleReader(RegisterAccess& access, BurstOptions options,
                                     CaptureThreadOptions threadOptions)
    : access_(access), options_(options), threadOptions_(threadOptions) {}

void BurstSampleReader::ReadSample(const ChannelSet& channels, SampleReadings& readings) {
  if (!capture_ || channels != channels_) {
    if (capture_) capture_->Stop();  // its thread ends before the session is read from here
    earlier_ = Summary();
    std::vector<int16_t> entries;
    for (int16_t k = 1; k <= kLogChannels; ++k) {
      if (channels[static_cast<size_t>(k)]) entries.push_back(k);
    }
    // The first entry of a burst paces it. Model 21410 has no Y and Z gyros, whose registers
    // never flag new data: another checked channel goes first (readings go back by entry),
    // and with none checked the supply reading is taken along only to pace the bursts.
    if (access_.CurrentSelection().DeviceType == kPitchRollModel) {
      const auto pacing = std::find_if(entries.begin(), entries.end(), [](int16_t k) {
        return k != reg::YGYRO_OUT && k != reg::ZGYRO_OUT;
      });
      if (pacing == entries.end()) {
        entries.insert(entries.begin(), reg::SUPPLY_OUT);
      } else {
        std::rotate(entries.begin(), pacing, entries.end());
      }
    }
    channels_ = channels;
    capture_.emplace(access_, std::move(entries), options_, threadOptions_);
    capture_->Start();
  }
  BurstRow row;
  const bool taken = capture_->Take(row);
  sampleTime_ = taken ? std::optional<Nanoseconds>(row.at) : std::nullopt;
  const std::vector<int16_t>& entries = capture_->Channels();
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!channels[static_cast<size_t>(entries[i])]) continue;  // read only to pace
    ChannelReading& reading = readings[static_cast<size_t>(entries[i])];
    reading = ChannelReading{};
    if (!taken) continue;
    reading.raw = row.readings[i].RawValue;
    reading.scaled = row.readings[i].ScaledValue;
    reading.newData = row.readings[i].NewDataFlag > 0;
  }
}

void BurstSampleReader::Finish() {
  if (capture_) capture_->Stop();
}

std::optional<Nanoseconds> BurstSampleReader::SampleTime() const { return sampleTime_; }

bool BurstSampleReader::Ended() const {
  return capture_ && capture_->Summary().end != BurstEnd::Running &&
         capture_->Summary().end != BurstEnd::Done;
}

bool BurstSampleReader::Stopped() const {
  return capture_ && capture_->Summary().end == BurstEnd::Stopped;
}

CapturePriority BurstSampleReader::Priority() const {
  return capture_ ? capture_->Priority() : CapturePriority{};
}

const std::vector<int16_t>& BurstSampleReader::Channels() const {
  static const std::vector<int16_t> kNone;
  return capture_ ? capture_->Channels() : kNone;
}

BurstSummary BurstSampleReader::Summary() const {
  if (!capture_) return earlier_;
  BurstSummary total = capture_->Summary();
  if (earlier_.longestGap > total.longestGap) {
    total.longestGap = earlier_.longestGap;
    total.longestGapAfter = earlier_.longestGapAfter;
  } else if (total.longestGapAfter > 0) {
    total.longestGapAfter += earlier_.rows;
  }
  total.rows += earlier_.rows;
  total.missed += earlier_.missed;
  total.dropped += earlier_.dropped;
  total.duplicates += earlier_.duplicates;
  total.rereads += earlier_.rereads;
  total.torn += earlier_.torn;
  if (earlier_.rows > 0) total.first = earlier_.first;
  return total;
}

}  // namespace pemra
