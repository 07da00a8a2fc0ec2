#pragma once
// The one replaceable clock that every wait and every time-dependent part of the
// library reads: Delay, elapsed-time waits and the simulated sensor.

#include <chrono>
#include <cstdint>
#include <vector>

namespace pemra {

using Nanoseconds = std::chrono::nanoseconds;

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic time since an arbitrary origin fixed for the clock's lifetime.
  virtual Nanoseconds Now() const = 0;
  // Waits the given time (nothing for zero or negative durations).
  virtual void Wait(Nanoseconds duration) = 0;
  // Waits without using the processor: the thread blocks for the whole time, as a transfer
  // that blocks in the kernel does, and may end some tens of microseconds late.
  virtual void Sleep(Nanoseconds duration) { Wait(duration); }
  // True when time moves only through Wait (the test clock): work that would run beside
  // the caller on a thread of its own runs inline instead, so it stays deterministic.
  virtual bool Instant() const { return false; }
};

// Waits on the monotonic clock: sleeps for the bulk of a long wait and spins the last
// stretch, so 10-microsecond resolution holds without burning a core for seconds.
class RealClock final : public Clock {
 public:
  RealClock();
  Nanoseconds Now() const override;
  void Wait(Nanoseconds duration) override;
  void Sleep(Nanoseconds duration) override;

 private:
  std::chrono::steady_clock::time_point origin_;
};

// Advances instantly and records every wait and sleep, so a 33-second procedure runs in
// microseconds and a simulated sensor on the same clock sees the same virtual time.
class TestClock final : public Clock {
 public:
  Nanoseconds Now() const override { return now_; }
  void Wait(Nanoseconds duration) override;
  bool Instant() const override { return true; }
  // Moves time on without recording a wait (time passing outside the program).
  void Advance(Nanoseconds duration);
  const std::vector<Nanoseconds>& Waits() const { return waits_; }
  void ClearWaits() { waits_.clear(); }

 private:
  Nanoseconds now_{0};
  std::vector<Nanoseconds> waits_;
};

}  // namespace pemra
