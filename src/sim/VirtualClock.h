#pragma once
// A clock that advances as fast as the CPU allows: a wait moves its time on at once and
// nothing is recorded, so a simulated rig on it runs hours of sensor time in seconds and a
// long log costs no memory for its waits. Safe to read and wait on from several threads.

#include <atomic>

#include "core/Clock.h"

namespace pemra::sim {

class VirtualClock final : public Clock {
 public:
  Nanoseconds Now() const override { return Nanoseconds(now_.load(std::memory_order_acquire)); }
  void Wait(Nanoseconds duration) override {
    if (duration > Nanoseconds::zero()) now_.fetch_add(duration.count(), std::memory_order_acq_rel);
  }
  // Time moves only through waits: a capture on a thread of its own would race ahead of its
  // writer in virtual time and drop rows, so it runs inline, taking turns with the writer.
  bool Instant() const override { return true; }

 private:
  std::atomic<Nanoseconds::rep> now_{0};
};

}  // namespace pemra::sim
