#include "core/Clock.h"

#include <ctime>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace pemra {

namespace {

// Below this the wait spins; above it the thread sleeps until this much is left. With a
// 1-microsecond timer slack a sleep ends within some tens of microseconds of its time, so
// a short final spin keeps the 10-microsecond resolution.
constexpr Nanoseconds kSpinStretch = std::chrono::microseconds(100);
constexpr unsigned long kTimerSlackNs = 1000;

// The kernel's default timer slack (50 microseconds) is added to every sleep of the
// thread; the waits need their ends kept tighter, so each waiting thread asks for less
// once.
void TightenTimerSlack() {
#if defined(__linux__)
  thread_local bool done = false;
  if (done) return;
  done = true;
  prctl(PR_SET_TIMERSLACK, kTimerSlackNs, 0, 0, 0);
#endif
}

// Sleeps on the monotonic clock (which steady_clock reads) until an absolute time.
void SleepUntil(std::chrono::steady_clock::time_point until) {
  const auto sinceEpoch = until.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
  timespec at{};
  at.tv_sec = static_cast<time_t>(seconds.count());
  at.tv_nsec = static_cast<long>((sinceEpoch - seconds).count());
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
    // Interrupted by a signal: sleep on to the same time.
  }
}

}  // namespace

RealClock::RealClock() : origin_(std::chrono::steady_clock::now()) {}

Nanoseconds RealClock::Now() const {
  return std::chrono::duration_cast<Nanoseconds>(std::chrono::steady_clock::now() - origin_);
}

void RealClock::Wait(Nanoseconds duration) {
  if (duration <= Nanoseconds::zero()) return;
  const auto end = std::chrono::steady_clock::now() + duration;
  if (duration > kSpinStretch) {
    TightenTimerSlack();
    SleepUntil(end - kSpinStretch);
  }
  while (std::chrono::steady_clock::now() < end) {
  }
}

void RealClock::Sleep(Nanoseconds duration) {
  if (duration <= Nanoseconds::zero()) return;
  TightenTimerSlack();
  SleepUntil(std::chrono::steady_clock::now() + duration);
}

void TestClock::Wait(Nanoseconds duration) {
  waits_.push_back(duration);
  if (duration > Nanoseconds::zero()) now_ += duration;
}

void TestClock::Advance(Nanoseconds duration) {
  if (duration > Nanoseconds::zero()) now_ += duration;
}

}  // namespace pemra
