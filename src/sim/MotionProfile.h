#pragma once
// What the simulated sensor experiences: rotation rates, accelerations and temperatures as
// functions of time, plus its per-axis biases and noise levels. Every quantity is a constant
// plus sine waves, so the mean over any run of equally spaced samples has a closed form and
// the filter never has to visit the samples one by one.

#include <array>
#include <cstdint>

#include "sim/NoiseProcesses.h"

namespace pemra::sim {

struct Wave {
  double amplitude = 0.0;
  double frequencyHz = 0.0;
  double phase = 0.0;  // radians
};

// constant + sum of waves.
struct Signal {
  double constant = 0.0;
  std::array<Wave, 2> waves{};

  double At(double seconds) const;
  // Mean of the signal over `taps` samples spaced `spacing` seconds apart, the last taken at
  // `lastSeconds` (the moving-average filter of the sensor).
  double MeanOver(double lastSeconds, double spacing, int64_t taps) const;
};

struct MotionProfile {
  std::array<Signal, 3> rate;          // degrees per second, X Y Z
  std::array<Signal, 3> acceleration;  // g, X Y Z
  std::array<Signal, 3> temperature;   // degrees Celsius, X Y Z sensors
  std::array<double, 3> gyroBias{};    // degrees per second
  std::array<double, 3> accelBias{};   // g
  NoiseModel gyroNoise;                // deg/s: white, bias instability, random walk
  NoiseModel accelNoise;               // g
  double temperatureNoise = 0.0;       // degrees Celsius rms
  double supplyNoise = 0.0;            // volts rms

  // The profile a live chart shows: X rate 30 deg/s sine at 0.5 Hz, Y 10 deg/s at 0.2 Hz,
  // Z 5 deg/s constant, 1 g along +Z with a small 2 Hz vibration on X and Y, biases of a
  // few deg/s and some tens of mg, temperatures near 25 degrees drifting slowly.
  static MotionProfile Default();
  // The default sensor lying still: no rotation, 1 g along +Z, no vibration, constant
  // temperatures; the same biases and noise as the default.
  static MotionProfile AtRest();
  // The noise of either profile: white noise of 0.6 deg/s and 5 mg rms per sample at
  // 819.2 samples per second (at one filter tap), bias instability of 90 deg/h and 0.3 mg,
  // and random walks that meet the bias-instability floor at 30 s (so that a two-hour log
  // shows all three).
  static NoiseModel DefaultGyroNoise();
  static NoiseModel DefaultAccelNoise();
};

}  // namespace pemra::sim
