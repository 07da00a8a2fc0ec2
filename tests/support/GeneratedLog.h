#pragma once
// A log of known noise in the program's own format, for the tests of the programs that read
// one: 32768 rows at 100 per second ("Sample #", "Time (sec)", "X Gryo", "X acc"); gyro
// white noise of 0.05 deg/s per sample (N 0.3 deg/sqrt(h)) and accelerometer 0.005 g, each
// with a random walk (steps of 0.002 deg/s and 0.0002 g) when `walk`. Seeded, so the same
// every run.

#include <cmath>
#include <cstdint>
#include <string>

namespace pemra::testing {

inline std::string WhiteAndWalkLog(bool walk) {
  std::string text = "Sample #,Time (sec),X Gryo,X acc,\r\n";
  uint64_t state = 12345;
  const auto gauss = [&state] {  // Box-Muller on a small linear congruential generator
    const auto next = [&state] {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      return (static_cast<double>(state >> 11) + 0.5) / 9007199254740992.0;
    };
    const double u = next(), v = next();
    return std::sqrt(-2 * std::log(u)) * std::cos(2 * 3.141592653589793 * v);
  };
  double gyroWalk = 0, accelWalk = 0;
  for (int i = 0; i < 32768; ++i) {
    gyroWalk += walk ? 0.002 * gauss() : 0;
    accelWalk += walk ? 0.0002 * gauss() : 0;
    text += std::to_string(i + 1) + "," + std::to_string(i * 0.01) + "," +
            std::to_string(0.05 * gauss() + gyroWalk) + "," +
            std::to_string(0.005 * gauss() + accelWalk) + ",\r\n";
  }
  return text;
}

}  // namespace pemra::testing
