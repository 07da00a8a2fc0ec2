#pragma once
// One row per sensor sample: reads the chosen output registers in bursts (one pipelined
// pass of the transport each) and keeps a burst only when the first channel's new-data flag
// says its sample is new. Bursts that find the same sample again are discarded as duplicates.
// Between two kept samples, every whole sample period that must have passed (from the burst
// that kept the first to the earliest moment the second can have appeared) counts one sample
// missed; and over the whole capture at least as many samples as whole periods between the
// first and the last kept burst must have come, so any of them not kept were missed too (this
// bound counts the losses of bursts longer than the period, which each pair alone cannot).
//
// A burst reads the pacing channel once more at its end. Reading it cleared its new-data flag,
// so a flag set again there means a sample update fell inside the burst: the channels read
// after it may hold the next sample, a row of it would mix two. The burst is then read again
// at once, within the period, and the new sample kept whole (its flags are those of either
// read: the first cleared the flags of this sample's channels it read after the update); a
// sample the torn burst began on is counted missed. Should the second read cross an update
// too, its row is kept and counted torn.
//
// The waits sleep: after a kept sample the capture sleeps until shortly before the next one
// is due (one period after the burst that found the last, less a lead), then polls once per
// poll interval until the sample is there. The lead is learned as the capture runs: every
// sleep's wake-up lateness is kept in a histogram, and the lead covers its 99.9th percentile
// (at least the configured fraction, at most half a period), so a thread that the system
// wakes late (an ordinary priority on a busy or virtual machine) still bursts in time; the
// time won is spent polling. A burst that found its sample late brings the
// next one earlier by the lead each period; one that came too early finds the same sample
// again and the poll after it comes later. A wait too short to be worth a sleep is skipped.
//
// Where the transport paces bursts on the sensor's data-ready line in hardware (an FTDI board
// with the line wired), the capture uses that instead: each burst is read by the chip at a
// data-ready edge, and the capture only collects the answers. Each row is timed by the edge
// the chip read it at: one period after the previous row's, or later where the queue ran dry
// (a burst written after the edge that should have started it), every edge passed then
// counting a sample missed; a row's time is kept between the moment the capture began to wait
// for its answers (when it had to) and their arrival. The pacing channel is still read again at the end of every burst, and
// a burst that crossed an update is kept and counted torn.

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "core/RegisterAccess.h"

namespace pemra {

struct BurstOptions {
  // The poll interval as a fraction of the sample period: bursts that find no new sample
  // repeat this far apart.
  double pollFraction = 0.25;
  // After a kept sample the next burst comes this fraction of the period before the next
  // sample is due: the sensor's clock may run this much fast without a sample being lost.
  double leadFraction = 0.125;
  // Without a new sample for max(this, 8 periods) the capture ends (sensor asleep, busy
  // for long, or a channel that never has new data).
  Nanoseconds stallLimit = std::chrono::seconds(1);
  // Asked between bursts and during every wait (at least every kStopCheckInterval): true
  // ends the capture at once (a signal), as Stopped.
  std::function<bool()> stopRequested;
  // Set by another thread to end the capture (as Done) at its next wait; null: never.
  const std::atomic<bool>* stop = nullptr;
  // Learn the wake-up lateness and lead by its 99.9th percentile (see above).
  bool learnLead = true;
  // Pace the bursts on the data-ready line where the transport can (see above).
  bool hardwarePacing = true;
};

// Wake-up lateness of the sleeps, in 10-microsecond bins up to 20 ms, and its 99.9th
// percentile.
class LatenessHistogram {
 public:
  static constexpr Nanoseconds kBin = std::chrono::microseconds(10);
  static constexpr size_t kBins = 2000;
  void Add(Nanoseconds late);
  int64_t Count() const { return count_; }
  // The smallest bin edge that at least 99.9% of the lateness kept lies below (0 when empty).
  Nanoseconds Percentile999() const;

 private:
  std::vector<int64_t> bins_ = std::vector<int64_t>(kBins, 0);
  int64_t count_ = 0;
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
  int64_t missed = 0;      // samples that must have been missed (from the burst times),
                           // plus those dropped
  int64_t dropped = 0;     // of the missed: taken, but lost because the writer's queue was full
  int64_t duplicates = 0;  // bursts discarded because their sample was not new
  int64_t rereads = 0;     // bursts read again because a sample update fell inside them
  int64_t torn = 0;        // rows kept that may mix two samples (the second read crossed too)
  Nanoseconds first{0};    // clock time of the first kept sample's burst
  Nanoseconds last{0};     // ... and of the last one's
  Nanoseconds longestGap{0};    // longest time between the bursts of two consecutive rows
  int64_t longestGapAfter = 0;  // the row that gap follows (0: fewer than two rows)
  Nanoseconds period{0};   // sample period from SMPL_PRD
  Nanoseconds cpu{0};      // processor time the capture thread used (0: not measured)
  BurstEnd end = BurstEnd::Running;
  bool hardwarePaced = false;  // the bursts were paced by the data-ready line
  std::string pacingNote;      // the transport's note on the pacing (empty: it has none)

  // Counts one more row, taken by the burst at `at`: rows, first, last and the longest gap.
  void Keep(Nanoseconds at);
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
  bool torn = false;                          // may mix two samples (see above)
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
  // The lead in use (the configured fraction of the period, or what the lateness asks).
  Nanoseconds Lead() const { return lead_; }

 private:
  bool StopRequested() const { return options_.stopRequested && options_.stopRequested(); }
  // Sleeps until the clock reads `due`, in slices short enough to see a stop in time. False
  // when asked to end: by the owner (the end is Done) or by a stop request (Stopped).
  bool SleepUntil(Nanoseconds due);
  // One more wake-up's lateness: the lead follows its 99.9th percentile.
  void LearnLateness(Nanoseconds late);
  // One burst of the channels and the pacing channel again; false when the transfer failed.
  bool Burst();
  // The pacing channel had new data again at the end of the last burst.
  bool Crossed() const { return burstReadings_.back().NewDataFlag != 0; }
  // Starts the transport's paced bursts when it has them and the line is wired.
  void StartPaced();
  // Next on paced bursts; EndPaced collects what is still queued (once).
  bool NextPaced(BurstRow& row);
  void EndPaced();
  // Asked to end: by the owner (Done) or a stop request (Stopped).
  bool EndRequested();

  RegisterAccess& access_;
  Clock& clock_;
  std::vector<int16_t> channels_;
  BurstOptions options_;
  BurstSummary summary_;
  std::vector<int16_t> burstEntries_;  // the channels, then the pacing one again
  std::vector<RegisterReading> burstReadings_;
  std::vector<RegisterReading> readings_;
  std::vector<RegisterReading> firstRead_;  // a torn burst's readings, while it is read again
  Nanoseconds pollInterval_{0};
  Nanoseconds lead_{0};
  Nanoseconds baseLead_{0};
  LatenessHistogram lateness_;
  int64_t pairMissed_ = 0;  // the sum of the bounds between consecutive kept samples
  Nanoseconds stallLimit_{0};
  Nanoseconds lastBurst_{0};
  Nanoseconds lastNew_{0};  // time of the last kept sample, or of Start
  Nanoseconds nextDue_{0};  // no burst before this: shortly before the next sample is due
  bool anyBurst_ = false;
  PacedBursts* paced_ = nullptr;  // non-null while paced bursts are queued
  std::vector<int32_t> pacedWords_;
  std::deque<Nanoseconds> pacedWrites_;  // when each queued burst was written, oldest first
  int pacedRepeats_ = 0;                 // paced bursts in a row that found no new sample
};

// Takes `count` samples (0: until onRow returns false or the capture ends) and hands each
// row to onRow as it is taken; onRow returns false to stop after that row.
BurstSummary RunBurstCapture(BurstCapture& capture, int64_t count,
                             const std::function<bool(const BurstRow&)>& onRow);

}  // namespace pemra
