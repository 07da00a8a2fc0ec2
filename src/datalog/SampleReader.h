#pragma once
// The reading step of a log sample: the checked channels, in channel order, each with its
// raw value, scaled value and new-data flag. The plain reader does one ReadRegister per
// channel; a reader that takes the whole sample in one exchange can stand in for it.

#include <array>
#include <optional>

#include "core/Clock.h"
#include "core/RegisterAccess.h"
#include "datalog/LogFormat.h"

namespace pemra {

struct ChannelReading {
  int32_t raw = 0;
  float scaled = 0.0f;
  bool newData = false;
};
using SampleReadings = std::array<ChannelReading, kLogChannels + 1>;  // by channel 1..11

class SampleReader {
 public:
  virtual ~SampleReader() = default;
  // Reads every checked channel into its element; the others are left as they are.
  virtual void ReadSample(const ChannelSet& channels, SampleReadings& readings) = 0;
  // True when the last ReadSample gave up on its sample because a stop was requested (a
  // signal during its waits): the run then ends as cancelled, not as a lost interface.
  virtual bool Stopped() const { return false; }
  // When the last sample read was taken, on the session clock, for readers that know it
  // (bursts); empty before the first sample and for the plain reader.
  virtual std::optional<Nanoseconds> SampleTime() const { return std::nullopt; }
};

// ReadRegister(k) for each checked channel k, one after the other with no wait.
class RegisterSampleReader final : public SampleReader {
 public:
  explicit RegisterSampleReader(RegisterAccess& access) : access_(access) {}
  void ReadSample(const ChannelSet& channels, SampleReadings& readings) override;

 private:
  RegisterAccess& access_;
};

}  // namespace pemra
