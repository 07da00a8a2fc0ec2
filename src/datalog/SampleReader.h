#pragma once
// The reading step of a log sample: the checked channels, in channel order, each with its
// raw value, scaled value and new-data flag. The plain reader does one ReadRegister per
// channel; a reader that takes the whole sample in one exchange can stand in for it.

#include <array>

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
  // The run takes no more samples (a reader that reads ahead stops here).
  virtual void Finish() {}
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
