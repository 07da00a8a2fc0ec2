#pragma once
// The scheduling priority of a capture thread, raised as far as the system grants it, so
// other programs that want the processor do not delay the next read: real-time scheduling
// (SCHED_FIFO at a modest priority) when RLIMIT_RTPRIO or the privilege allows it, else
// real-time through the rtkit service on the system bus when it runs, else a lower nice
// value when RLIMIT_NICE or the privilege allows that. None of them is required.

#include <string>

namespace pemra {

enum class PriorityKind {
  NotAsked,  // the capture runs on the caller's thread; nothing was changed
  Normal,    // asked, none granted
  RealTime,  // SCHED_FIFO, set by the program itself
  Rtkit,     // SCHED_RR, granted by rtkit
  Nice,      // a nice value below 0
};

struct CapturePriority {
  PriorityKind kind = PriorityKind::NotAsked;
  int level = 0;  // the real-time priority (1-99) or the nice value (-20 to -1)

  bool operator==(const CapturePriority&) const = default;
};

inline constexpr int kCaptureRealTimePriority = 10;
inline constexpr int kCaptureNice = -10;

// Raises the calling thread's priority as far as the system grants it; says what it got.
CapturePriority RaiseThreadPriority();

// What a capture thread would be granted now: a short-lived thread asks and ends.
CapturePriority ProbeCapturePriority();

// "real-time (SCHED_FIFO 10)", "real-time through rtkit (SCHED_RR 10)", "nice -10",
// "normal (no higher priority allowed)", "normal".
std::string PriorityText(const CapturePriority& priority);

}  // namespace pemra
