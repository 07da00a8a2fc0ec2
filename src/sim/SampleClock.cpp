#include "sim/SampleClock.h"

#include <algorithm>

namespace pemra::sim {

void SampleClock::Start(Nanoseconds now, Nanoseconds period) {
  epochStart_ = now;
  epochFirst_ = 0;
  period_ = std::max(period, Nanoseconds{1});
  paused_ = false;
  frozenLatest_ = -1;
}

void SampleClock::SetPeriod(Nanoseconds now, Nanoseconds period) {
  period = std::max(period, Nanoseconds{1});
  if (period == period_) return;
  if (paused_) {
    period_ = period;
    return;
  }
  const int64_t latest = Latest(now);
  period_ = period;
  epochFirst_ = latest + 1;
  epochStart_ = now + period_;
}

void SampleClock::Pause(Nanoseconds now) {
  if (paused_) return;
  frozenLatest_ = Latest(now);
  paused_ = true;
}

void SampleClock::Resume(Nanoseconds at) {
  if (!paused_) return;
  paused_ = false;
  epochFirst_ = frozenLatest_ + 1;
  epochStart_ = at;
}

int64_t SampleClock::Latest(Nanoseconds now) const {
  if (paused_) return frozenLatest_;
  if (now < epochStart_) return epochFirst_ - 1;
  return epochFirst_ + (now - epochStart_).count() / period_.count();
}

Nanoseconds SampleClock::TimeOf(int64_t k) const {
  return epochStart_ + period_ * (k - epochFirst_);
}

}  // namespace pemra::sim
