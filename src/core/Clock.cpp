#include "core/Clock.h"

#include <thread>

namespace pemra {

namespace {
// Below this the wait spins; above it the thread sleeps until this much is left, since a
// sleep may overshoot by the scheduler's granularity.
constexpr Nanoseconds kSpinStretch = std::chrono::microseconds(1500);
}  // namespace

RealClock::RealClock() : origin_(std::chrono::steady_clock::now()) {}

Nanoseconds RealClock::Now() const {
  return std::chrono::duration_cast<Nanoseconds>(std::chrono::steady_clock::now() - origin_);
}

void RealClock::Wait(Nanoseconds duration) {
  if (duration <= Nanoseconds::zero()) return;
  const auto end = std::chrono::steady_clock::now() + duration;
  if (duration > kSpinStretch) std::this_thread::sleep_until(end - kSpinStretch);
  while (std::chrono::steady_clock::now() < end) {
  }
}

void TestClock::Wait(Nanoseconds duration) {
  waits_.push_back(duration);
  if (duration > Nanoseconds::zero()) now_ += duration;
}

void TestClock::Advance(Nanoseconds duration) {
  if (duration > Nanoseconds::zero()) now_ += duration;
}

}  // namespace pemra
