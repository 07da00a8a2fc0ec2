#pragma once
// The reading step of a log taken in bursts: each sample of the log is one new sensor
// sample, read with all its checked channels in one pass of the transport (BurstCapture), so
// no sample is logged twice and none is skipped while the bursts keep up.

#include <optional>
#include <vector>

#include "datalog/BurstCapture.h"
#include "datalog/SampleReader.h"

namespace pemra {

class BurstSampleReader final : public SampleReader {
 public:
  explicit BurstSampleReader(RegisterAccess& access, BurstOptions options = {});

  // Waits for the next new sample and reads the checked channels (their new-data flags are
  // those of this read). When the capture has ended (a failed transfer, or no new data) the
  // checked channels read zeros without flags and Ended() is true.
  void ReadSample(const ChannelSet& channels, SampleReadings& readings) override;

  // The clock time at the start of the burst that read the last sample (empty before the
  // first and once the capture has ended).
  std::optional<Nanoseconds> SampleTime() const override;

  bool Ended() const;
  bool Stopped() const override;
  // The register-table entries each burst reads, the pacing one first (empty before the
  // first sample).
  const std::vector<int16_t>& Channels() const;
  // Totals over the run (a change of channels starts a new capture and adds it up).
  BurstSummary Summary() const;

 private:
  RegisterAccess& access_;
  BurstOptions options_;
  ChannelSet channels_{};
  std::optional<BurstCapture> capture_;
  BurstSummary earlier_;  // captures before the present one
  std::optional<Nanoseconds> sampleTime_;
};

}  // namespace pemra
