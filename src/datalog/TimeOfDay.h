#pragma once
// The wall-clock readings a data log carries: seconds since midnight in single precision
// (begin and end seconds, the time column) and the date and time texts of the header.

#include <string>

#include "core/Clock.h"

namespace pemra {

inline constexpr double kSecondsPerDay = 86400.0;

class TimeOfDay {
 public:
  virtual ~TimeOfDay() = default;
  // Seconds since local midnight; restarts at 0 at midnight.
  virtual float SecondsSinceMidnight() = 0;
  // The current date and time of day in the user's short formats.
  virtual std::string DateText() = 0;
  virtual std::string TimeText() = 0;
};

// The system's local time. The texts come from strftime with the given formats ("%x" and
// "%X": the C library's LC_TIME locale).
class SystemTimeOfDay : public TimeOfDay {
 public:
  explicit SystemTimeOfDay(std::string dateFormat = "%x", std::string timeFormat = "%X");
  float SecondsSinceMidnight() override;
  std::string DateText() override;
  std::string TimeText() override;

 private:
  std::string Format(const std::string& format) const;
  std::string dateFormat_;
  std::string timeFormat_;
};

// Time of day on a session clock: `startSeconds` at the clock's origin, wrapping at
// midnight; fixed date and time texts. For runs on a test clock.
class ClockTimeOfDay final : public TimeOfDay {
 public:
  ClockTimeOfDay(const Clock& clock, double startSeconds, std::string date, std::string time)
      : clock_(clock), start_(startSeconds), date_(std::move(date)), time_(std::move(time)) {}
  float SecondsSinceMidnight() override;
  std::string DateText() override { return date_; }
  std::string TimeText() override { return time_; }

 private:
  const Clock& clock_;
  double start_;
  std::string date_;
  std::string time_;
};

}  // namespace pemra
