#pragma once
// One row per sensor sample: reads the chosen output registers in bursts (one pipelined
// pass of the transport each) issued faster than the sensor's sample period, and keeps a
// burst only when the first channel's new-data flag says its sample is new. Bursts that find
// the same sample again are discarded as duplicates. Between two kept samples, every whole
// sample period that must have passed (from the burst that kept the first to the earliest
// moment the second can have appeared) counts one sample missed.

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "core/Clock.h"
#include "core/RegisterAccess.h"

namespace pemra {

struct BurstOptions {
  // Bursts start at most this fraction of the sample period apart (sooner ones wait).
  double pollFraction = 0.25;
  // Without a new sample for max(this, 8 periods) the capture ends (sensor asleep, busy
  // for long, or a channel that never has new data).
  Nanoseconds stallLimit = std::chrono::seconds(1);
  // Asked between bursts and during every wait (at least every kStopCheckInterval): true
  // ends the capture at once (a signal).
  std::function<bool()> stopRequested;
};

inline constexpr Nanoseconds kStopCheckInterval = std::chrono::milliseconds(50);

// Why a capture ended.
enum class BurstEnd {
  Running,         // not ended
  Done,            // the samples asked for were taken, or the row callback said stop
  TransferFailed,  // a burst failed (the transport reported it); no row was made of it
  NoNewData,       // no new sample within the stall limit
  Stopped,         // the stop request said so
};

struct BurstSummary {
  int64_t rows = 0;        // samples kept
  int64_t missed = 0;      // samples that must have been missed (from the burst times)
  int64_t duplicates = 0;  // bursts discarded because their sample was not new
  Nanoseconds first{0};    // clock time of the first kept sample's burst
  Nanoseconds last{0};     // ... and of the last one's
  Nanoseconds period{0};   // sample period from SMPL_PRD
  BurstEnd end = BurstEnd::Running;

  // Kept samples per second over the run (first to last kept sample); 0 below two rows.
  double AchievedRate() const;
  // Samples per second the sensor produces at this period.
  double SensorRate() const;
};

// One kept sample.
struct BurstRow {
  int64_t number = 0;                         // 1, 2, ... in capture order
  Nanoseconds at{0};                          // clock time at the start of its burst
  std::span<const RegisterReading> readings;  // one per channel, in the channels' order
};

class BurstCapture {
 public:
  // `channels`: register-table indexes to read in each burst; the first one paces (it must
  // be an output register whose new-data flag the model sets).
  BurstCapture(RegisterAccess& access, std::vector<int16_t> channels, BurstOptions options = {});

  // Reads SMPL_PRD (through ReadRegister) for the sample period. Call before Next.
  void Start();
  // Bursts until a new sample arrives (true: `row` holds it, valid until the next call) or
  // the capture ends (false: Summary().end says why).
  bool Next(BurstRow& row);
  // Marks the capture done (the caller took what it wanted).
  void Finish();

  const BurstSummary& Summary() const { return summary_; }
  const std::vector<int16_t>& Channels() const { return channels_; }

 private:
  bool StopRequested() const { return options_.stopRequested && options_.stopRequested(); }
  // Waits until `due` in slices that look for a stop request; false when one came.
  bool WaitUntil(Nanoseconds due);

  RegisterAccess& access_;
  Clock& clock_;
  std::vector<int16_t> channels_;
  BurstOptions options_;
  BurstSummary summary_;
  std::vector<RegisterReading> readings_;
  Nanoseconds pollInterval_{0};
  Nanoseconds stallLimit_{0};
  Nanoseconds lastBurst_{0};
  Nanoseconds lastNew_{0};  // time of the last kept sample, or of Start
  bool anyBurst_ = false;
};

// Takes `count` samples (0: until onRow returns false or the capture ends) and hands each
// row to onRow as it is taken; onRow returns false to stop after that row.
BurstSummary RunBurstCapture(BurstCapture& capture, int64_t count,
                             const std::function<bool(const BurstRow&)>& onRow);

}  // namespace pemra
