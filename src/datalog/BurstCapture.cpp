#include "datalog/BurstCapture.h"

#include <algorithm>

#include "core/RegisterTable.h"
#include "core/SamplePeriod.h"

namespace pemra {

namespace {

double Seconds(Nanoseconds t) { return std::chrono::duration<double>(t).count(); }

}  // namespace

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
      readings_(channels_.size()) {}

void BurstCapture::Start() {
  access_.ReadRegister(reg::SMPL_PRD);
  summary_ = BurstSummary{};
  summary_.period = SamplePeriod(static_cast<uint16_t>(access_.RawValue));
  pollInterval_ = std::chrono::duration_cast<Nanoseconds>(summary_.period * options_.pollFraction);
  stallLimit_ = std::max(options_.stallLimit, summary_.period * 8);
  lastNew_ = clock_.Now();
  anyBurst_ = false;
}

bool BurstCapture::Next(BurstRow& row) {
  if (summary_.end != BurstEnd::Running) return false;
  if (channels_.empty()) {
    summary_.end = BurstEnd::NoNewData;  // nothing to pace by
    return false;
  }
  for (;;) {
    if ((anyBurst_ && !WaitUntil(lastBurst_ + pollInterval_)) || StopRequested()) {
      summary_.end = BurstEnd::Stopped;
      return false;
    }
    const Nanoseconds now = clock_.Now();
    const Nanoseconds previousBurst = anyBurst_ ? lastBurst_ : now - summary_.period;
    lastBurst_ = now;
    anyBurst_ = true;
    if (!access_.ReadRegisters(channels_, readings_)) {
      summary_.end = BurstEnd::TransferFailed;
      return false;
    }
    if (readings_.front().NewDataFlag == 0) {
      ++summary_.duplicates;
      if (now - lastNew_ > stallLimit_) {
        summary_.end = BurstEnd::NoNewData;
        return false;
      }
      continue;
    }
    if (summary_.rows == 0) {
      summary_.first = now;
    } else {
      // This sample appeared after the previous burst, which did not see it, and at most one
      // period before this burst (the register holds the newest sample); the sample kept
      // before it existed at its own burst. So at least `earliest - last` passed between the
      // two, and every whole period in that time held a sample that no burst saw.
      const Nanoseconds earliest = std::max(previousBurst, now - summary_.period);
      const Nanoseconds apart = earliest - summary_.last;
      if (apart >= summary_.period) summary_.missed += apart / summary_.period;
    }
    summary_.last = now;
    lastNew_ = now;
    ++summary_.rows;
    row = BurstRow{summary_.rows, now, readings_};
    return true;
  }
}

bool BurstCapture::WaitUntil(Nanoseconds due) {
  if (!options_.stopRequested) {
    clock_.Wait(due - clock_.Now());
    return true;
  }
  for (Nanoseconds left = due - clock_.Now(); left > Nanoseconds::zero();
       left = due - clock_.Now()) {
    if (StopRequested()) return false;
    clock_.Wait(std::min(left, kStopCheckInterval));
  }
  return true;
}

void BurstCapture::Finish() {
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
