#include "datalog/TimeOfDay.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace pemra {

SystemTimeOfDay::SystemTimeOfDay(std::string dateFormat, std::string timeFormat)
    : dateFormat_(std::move(dateFormat)), timeFormat_(std::move(timeFormat)) {}

float SystemTimeOfDay::SecondsSinceMidnight() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const double fraction =
      std::chrono::duration<double>(now - std::chrono::system_clock::from_time_t(seconds)).count();
  const double sinceMidnight = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
  return static_cast<float>(sinceMidnight + std::fmod(fraction + 1.0, 1.0));
}

std::string SystemTimeOfDay::Format(const std::string& format) const {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[128];
  const size_t length = std::strftime(text, sizeof text, format.c_str(), &local);
  return std::string(text, length);
}

std::string SystemTimeOfDay::DateText() { return Format(dateFormat_); }
std::string SystemTimeOfDay::TimeText() { return Format(timeFormat_); }

float ClockTimeOfDay::SecondsSinceMidnight() {
  const double elapsed = std::chrono::duration<double>(clock_.Now()).count();
  return static_cast<float>(std::fmod(start_ + elapsed, kSecondsPerDay));
}

}  // namespace pemra
