#pragma once
// The simulator's options as both programs take them:
//   --sim-motion still|moving   the sensor lying still, or today's moving profile (default)
//   --sim-seed N                the seed of every noise draw (default 1)
//   --sim-noise KEY=VALUE,...   noise processes in data-sheet units, 0 turns one off:
//       gyro-arw (deg/sqrt(h)), gyro-bi (deg/h), gyro-rrw (deg/h/sqrt(h)),
//       accel-vrw (m/s/sqrt(h)), accel-bi (mg), accel-rw (m/s/h/sqrt(h))
//   --sim-clock virtual         the rig's clock advances as fast as the CPU allows
//   --sim-drdy-unwired          the FTDI board's ADBUS5 (GPIOL1) left open: no data-ready line
// Parsing only, plus applying the result to a rig's options.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sim/MotionProfile.h"
#include "sim/Rig.h"
#include "sim/SimulatedSensor.h"

namespace pemra::sim {

struct SimSettings {
  bool still = false;
  uint64_t seed = 1;
  NoiseModel gyro = MotionProfile::DefaultGyroNoise();    // deg/s units
  NoiseModel accel = MotionProfile::DefaultAccelNoise();  // g units
  bool virtualClock = false;
  bool dataReadyWired = true;  // the sensor's DI/O1 to the FTDI boards' GPIOL1
};

inline constexpr std::string_view kSimDrdyUnwired = "--sim-drdy-unwired";

// Each returns an error text naming the option, or nullopt when the value was taken.
std::optional<std::string> ParseSimMotion(std::string_view text, SimSettings& settings);
std::optional<std::string> ParseSimSeed(std::string_view text, SimSettings& settings);
std::optional<std::string> ParseSimNoise(std::string_view text, SimSettings& settings);
std::optional<std::string> ParseSimClock(std::string_view text, SimSettings& settings);

// The motion profile (still or moving) with the settings' noise, and the seed.
void ApplySimSettings(const SimSettings& settings, SensorOptions& options);
// The same for a whole rig, with the data-ready line's wiring.
void ApplySimSettings(const SimSettings& settings, RigOptions& options);

}  // namespace pemra::sim
