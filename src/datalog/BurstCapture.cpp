#include "datalog/BurstCapture.h"

#include <algorithm>

#include "core/RegisterTable.h"
#include "core/SamplePeriod.h"

namespace pemra {

namespace {

double Seconds(Nanoseconds t) { return std::chrono::duration<double>(t).count(); }

// A wait shorter than this is skipped: waking from a sleep costs about as much, and a burst a
// little early at worst finds the same sample again.
constexpr Nanoseconds kShortestSleep = std::chrono::microseconds(100);
constexpr int32_t kNewData = 32768;  // a new-data flag as register access gives it

}  // namespace

void LatenessHistogram::Add(Nanoseconds late) {
  const int64_t bin = std::clamp<int64_t>(late / kBin, 0, static_cast<int64_t>(kBins) - 1);
  ++bins_[static_cast<size_t>(bin)];
  ++count_;
}

Nanoseconds LatenessHistogram::Percentile999() const {
  if (count_ == 0) return Nanoseconds::zero();
  // Fewer than 1000 values: the largest one.
  const int64_t allowedAbove = count_ / 1000;
  int64_t above = count_;
  for (size_t i = 0; i < kBins; ++i) {
    above -= bins_[i];
    if (above <= allowedAbove) return kBin * static_cast<int64_t>(i + 1);
  }
  return kBin * static_cast<int64_t>(kBins);
}

void BurstSummary::Keep(Nanoseconds at) {
  if (rows == 0) {
    first = at;
  } else if (at - last > longestGap) {
    longestGap = at - last;
    longestGapAfter = rows;
  }
  last = at;
  ++rows;
}

double BurstSummary::AchievedRate() const {
  if (rows < 2 || last <= first) return 0.0;
  return static_cast<double>(rows - 1) / Seconds(last - first);
}

double BurstSummary::SensorRate() const {
  return period > Nanoseconds::zero() ? 1.0 / Seconds(period) : 0.0;
}

BurstCapture::BurstCapture(RegisterAccess& access, std::vector<int16_t> channels,
                           BurstOptions options)
    : access_(access),
      clock_(access.SessionClock()),
      channels_(std::move(channels)),
      options_(options),
      readings_(channels_.size()) {
  burstEntries_ = channels_;
  if (!channels_.empty()) burstEntries_.push_back(channels_.front());
  burstReadings_.resize(burstEntries_.size());
}

bool BurstCapture::Burst() {
  if (!access_.ReadRegisters(burstEntries_, burstReadings_)) return false;
  std::copy_n(burstReadings_.begin(), readings_.size(), readings_.begin());
  return true;
}

void BurstCapture::Start() {
  access_.ReadRegister(reg::SMPL_PRD);
  summary_ = BurstSummary{};
  summary_.period = SamplePeriod(static_cast<uint16_t>(access_.RawValue));
  pollInterval_ = std::chrono::duration_cast<Nanoseconds>(summary_.period * options_.pollFraction);
  lead_ = std::chrono::duration_cast<Nanoseconds>(summary_.period * options_.leadFraction);
  baseLead_ = lead_;
  lateness_ = LatenessHistogram{};
  stallLimit_ = std::max(options_.stallLimit, summary_.period * 8);
  lastNew_ = clock_.Now();
  nextDue_ = lastNew_;
  pairMissed_ = 0;
  anyBurst_ = false;
  StartPaced();
}

void BurstCapture::StartPaced() {
  paced_ = nullptr;
  PacedBursts* paced = options_.hardwarePacing ? access_.Paced() : nullptr;
  if (paced == nullptr || burstEntries_.empty()) return;
  std::vector<int16_t> addresses;
  for (const int16_t index : burstEntries_) {
    if (index < 0 || index >= kRegisterTableSize) return;
    const RegisterEntry& entry = access_.Table()[static_cast<size_t>(index)];
    if (!entry.RegReadable) return;
    addresses.push_back(static_cast<int16_t>(entry.RegAddress & 0x7F));
  }
  summary_.pacingNote.clear();
  pacedWrites_.clear();
  pacedRepeats_ = 0;
  if (paced->StartPaced(addresses, summary_.period)) paced_ = paced;
  summary_.hardwarePaced = paced_ != nullptr;
  summary_.pacingNote = paced->PacingNote();
  pacedWords_.assign(addresses.size(), 0);
}

void BurstCapture::EndPaced() {
  if (paced_ == nullptr) return;
  pacedWrites_.clear();
  PacedBursts* paced = paced_;
  paced_ = nullptr;
  paced->StopPaced();
}

bool BurstCapture::NextPaced(BurstRow& row) {
  for (;;) {
    if (EndRequested()) {
      EndPaced();
      return false;
    }
    if (pacedWrites_.empty()) {
      // The queue is filled by the thread that collects it, so none of it runs dry while a
      // capture thread starts. Each burst's time is kept: it cannot run before it was written.
      for (int i = 0; i < std::max(paced_->QueueLength(), 1); ++i) {
        if (!paced_->QueuePaced()) {
          paced_ = nullptr;  // the transport failed and said so
          summary_.end = BurstEnd::TransferFailed;
          return false;
        }
        pacedWrites_.push_back(clock_.Now());
      }
    }
    const Nanoseconds called = clock_.Now();
    bool waited = false;
    const bool read = paced_->ReadPaced(pacedWords_, waited);
    const Nanoseconds back = clock_.Now();
    if (!read || !paced_->QueuePaced()) {
      paced_ = nullptr;  // the transport failed and reported it; nothing is queued any more
      summary_.end = BurstEnd::TransferFailed;
      return false;
    }
    // This burst was queued at `written`; the one queued just now goes to the back.
    const Nanoseconds written = pacedWrites_.front();
    pacedWrites_.pop_front();
    pacedWrites_.push_back(clock_.Now());
    // The chip read this burst at the first data-ready edge after it had both the burst and
    // the previous one done: one period after the last, or later when the burst came after
    // that edge (the queue ran dry), each edge passed meanwhile a sample lost; the first at
    // most a period after it was queued. The chip read it before its answers came, and, when
    // they had to be waited for, after the wait began: held within those bounds the estimate
    // stays on the sensor's own clock, which may run a little fast or slow.
    int64_t lost = 0;
    // The first burst ran at the first edge after it was queued.
    Nanoseconds at = std::min(back, written + summary_.period);
    if (anyBurst_) {
      lost = written > lastBurst_ ? (written - lastBurst_) / summary_.period : 0;
      at = lastBurst_ + summary_.period * (lost + 1);
      at = waited ? std::clamp(at, called, back) : std::min(at, back);
    }
    lastBurst_ = at;
    anyBurst_ = true;
    for (size_t i = 0; i < pacedWords_.size(); ++i) {
      burstReadings_[i] = ConvertWord(access_.Table()[static_cast<size_t>(burstEntries_[i])],
                                      pacedWords_[i] & 0xFFFF);
    }
    std::copy_n(burstReadings_.begin(), readings_.size(), readings_.begin());
    if (readings_.front().NewDataFlag == 0) {
      // An edge without a new sample (not expected of the sensor): no row. A whole queue of
      // them, or no new sample for the stall limit, ends the capture.
      ++summary_.duplicates;
      pairMissed_ += lost;
      if (++pacedRepeats_ > paced_->QueueLength() || at - lastNew_ > stallLimit_) {
        EndPaced();
        summary_.end = BurstEnd::NoNewData;
        return false;
      }
      continue;
    }
    pacedRepeats_ = 0;
    const bool torn = Crossed();
    if (torn) ++summary_.torn;
    if (summary_.rows > 0) pairMissed_ += lost;
    summary_.missed = pairMissed_;
    summary_.Keep(at);
    lastNew_ = at;
    row = BurstRow{summary_.rows, at, readings_, torn};
    return true;
  }
}

bool BurstCapture::EndRequested() {
  if (options_.stop != nullptr && options_.stop->load(std::memory_order_relaxed)) {
    summary_.end = BurstEnd::Done;
    return true;
  }
  if (StopRequested()) {
    summary_.end = BurstEnd::Stopped;
    return true;
  }
  return false;
}

bool BurstCapture::SleepUntil(Nanoseconds due) {
  for (;;) {
    if (EndRequested()) return false;
    const Nanoseconds left = due - clock_.Now();
    if (left < kShortestSleep) return true;
    const Nanoseconds slice = std::min(left, kStopCheckInterval);
    const Nanoseconds wakeAt = clock_.Now() + slice;
    clock_.Sleep(slice);
    if (options_.learnLead && slice == left) LearnLateness(clock_.Now() - wakeAt);
  }
}

void BurstCapture::LearnLateness(Nanoseconds late) {
  lateness_.Add(std::max(late, Nanoseconds::zero()));
  // Cover the 99.9th percentile, and a bin more for the lateness not seen yet.
  const Nanoseconds wanted = lateness_.Percentile999() + LatenessHistogram::kBin;
  lead_ = std::clamp(wanted, baseLead_, std::max(baseLead_, summary_.period / 2));
}

bool BurstCapture::Next(BurstRow& row) {
  if (summary_.end != BurstEnd::Running) return false;
  if (channels_.empty()) {
    summary_.end = BurstEnd::NoNewData;  // nothing to pace by
    return false;
  }
  if (paced_ != nullptr) return NextPaced(row);
  for (;;) {
    const Nanoseconds due = anyBurst_ ? std::max(lastBurst_ + pollInterval_, nextDue_) : nextDue_;
    if (!SleepUntil(due)) return false;
    const Nanoseconds now = clock_.Now();
    const Nanoseconds previousBurst = anyBurst_ ? lastBurst_ : now - summary_.period;
    lastBurst_ = now;
    anyBurst_ = true;
    if (!Burst()) {
      summary_.end = BurstEnd::TransferFailed;
      return false;
    }
    const bool fresh = readings_.front().NewDataFlag != 0;
    // The pacing channel read again at the end has new data: a sample update fell inside the
    // burst (its first read had cleared the flag). A burst that began on a new sample may
    // mix two; one that began on the old one saw the new one arrive. Either way the new
    // sample is read whole, at once, and it is new even though that read finds the pacing
    // channel's flag cleared.
    const bool reread = Crossed();
    if (!fresh) {
      ++summary_.duplicates;
      if (!reread) {
        if (now - lastNew_ > stallLimit_) {
          summary_.end = BurstEnd::NoNewData;
          return false;
        }
        continue;
      }
    }
    bool torn = false;
    Nanoseconds at = now;
    Nanoseconds before = previousBurst;
    if (reread) {
      ++summary_.rereads;
      firstRead_ = readings_;
      before = now;
      at = clock_.Now();
      lastBurst_ = at;
      if (!Burst()) {
        summary_.end = BurstEnd::TransferFailed;
        return false;
      }
      // A flag either read saw belongs to the sample kept: the first read cleared the flags
      // of the channels it read after the update.
      for (size_t i = 0; i < readings_.size(); ++i) {
        readings_[i].NewDataFlag = std::max(readings_[i].NewDataFlag, firstRead_[i].NewDataFlag);
      }
      readings_.front().NewDataFlag = kNewData;
      torn = Crossed();
      if (torn) ++summary_.torn;
    }
    if (summary_.rows > 0) {
      // This sample appeared after the previous burst, which did not see it, and at most one
      // period before this burst (the register holds the newest sample); the sample kept
      // before it existed at its own burst. So at least `earliest - last` passed between the
      // two, and every whole period in that time held a sample that no burst saw.
      const Nanoseconds earliest = std::max(before, at - summary_.period);
      const Nanoseconds apart = earliest - summary_.last;
      int64_t missed = apart >= summary_.period ? apart / summary_.period : 0;
      // A burst that began on a new sample and was read again lost that sample.
      if (reread && fresh) missed = std::max<int64_t>(missed, 1);
      pairMissed_ += missed;
    }
    summary_.Keep(at);
    // Bursts are timed by their start, and a read comes at a point within its burst that may
    // vary a little: the span is shortened by the lead so that variation never counts a loss.
    const Nanoseconds span = summary_.last - summary_.first - lead_;
    const int64_t spanMissed =
        span > Nanoseconds::zero() ? span / summary_.period - (summary_.rows - 1) : 0;
    summary_.missed = std::max(pairMissed_, spanMissed);
    lastNew_ = at;
    // The next sample comes one period after this one appeared, which was no later than this
    // burst.
    nextDue_ = at + summary_.period - lead_;
    row = BurstRow{summary_.rows, at, readings_, torn};
    return true;
  }
}

void BurstCapture::Finish() {
  EndPaced();
  if (summary_.end == BurstEnd::Running) summary_.end = BurstEnd::Done;
}

BurstSummary RunBurstCapture(BurstCapture& capture, int64_t count,
                             const std::function<bool(const BurstRow&)>& onRow) {
  BurstRow row;
  while (count <= 0 || capture.Summary().rows < count) {
    if (!capture.Next(row)) return capture.Summary();
    if (!onRow(row)) break;
  }
  capture.Finish();
  return capture.Summary();
}

}  // namespace pemra
