#pragma once
// Numbering of the sensor's internal samples against the session clock. Samples are counted
// from power-up; a change of the sample period or a sleep starts a new stretch ("epoch")
// whose first sample continues the count, so sample numbers never repeat or jump.

#include <cstdint>

#include "core/Clock.h"
#include "core/SamplePeriod.h"  // SamplePeriod of a SMPL_PRD word

namespace pemra::sim {

class SampleClock {
 public:
  // Power-up: sample 0 exists from `now` on.
  void Start(Nanoseconds now, Nanoseconds period);
  // A new period from `now`: the next sample follows one new period after the change.
  void SetPeriod(Nanoseconds now, Nanoseconds period);
  // Sleep: no sample is taken from `now` until Resume; the sample taken at `at` continues
  // the count.
  void Pause(Nanoseconds now);
  void Resume(Nanoseconds at);

  // Number of the newest sample that exists at `now` (-1 before the first).
  int64_t Latest(Nanoseconds now) const;
  // Time at which sample k was (or would have been) taken with the present period. Samples
  // from before the present epoch are placed as if the period had always been this one.
  Nanoseconds TimeOf(int64_t k) const;
  Nanoseconds Period() const { return period_; }
  bool Paused() const { return paused_; }

 private:
  Nanoseconds epochStart_{0};
  int64_t epochFirst_ = 0;
  Nanoseconds period_{1};
  bool paused_ = false;
  int64_t frozenLatest_ = -1;
};

}  // namespace pemra::sim
