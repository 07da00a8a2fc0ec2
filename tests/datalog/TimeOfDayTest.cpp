// The system's time of day as a log carries it.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>

#include "datalog/TimeOfDay.h"

namespace pemra {
namespace {

TEST(SystemTimeOfDay, SecondsSinceMidnightInUtcAreEpochSecondsModuloADay) {
  const char* saved = std::getenv("TZ");
  const std::string before = saved != nullptr ? saved : "";
  setenv("TZ", "UTC", 1);
  tzset();
  SystemTimeOfDay day;
  const double epoch = static_cast<double>(std::time(nullptr));
  const double seconds = day.SecondsSinceMidnight();
  if (saved != nullptr) {
    setenv("TZ", before.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  double apart = std::fmod(seconds - std::fmod(epoch, 86400.0) + 86400.0, 86400.0);
  if (apart > 43200.0) apart -= 86400.0;  // across midnight between the two readings
  // Single precision near 86400 still resolves 1/128 s.
  EXPECT_LE(std::abs(apart), 1.0) << seconds << " against " << epoch;
}

}  // namespace
}  // namespace pemra
