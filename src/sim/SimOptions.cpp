#include "sim/SimOptions.h"

#include <charconv>
#include <cmath>

namespace pemra::sim {

namespace {

constexpr double kStandardGravity = 9.80665;  // m/s^2 per g
constexpr double kRootHour = 60.0;            // sqrt(3600 s)

struct NoiseKey {
  std::string_view name;
  bool gyro;
  double NoiseModel::*field;
  double perUnit;  // the sensor's units (deg/s or g based) per data-sheet unit
};

constexpr NoiseKey kKeys[] = {
    {"gyro-arw", true, &NoiseModel::randomWalk, 1.0 / kRootHour},
    {"gyro-bi", true, &NoiseModel::biasInstability, 1.0 / 3600.0},
    {"gyro-rrw", true, &NoiseModel::rateRandomWalk, 1.0 / (3600.0 * kRootHour)},
    {"accel-vrw", false, &NoiseModel::randomWalk, 1.0 / (kStandardGravity * kRootHour)},
    {"accel-bi", false, &NoiseModel::biasInstability, 1.0 / 1000.0},
    {"accel-rw", false, &NoiseModel::rateRandomWalk, 1.0 / (kStandardGravity * 3600.0 * kRootHour)},
};

std::string Quoted(std::string_view text) {
  std::string shown;
  for (char c : text.substr(0, 60))
    shown += (c >= 0x20 && c < 0x7F) ? c : '?';
  return "'" + shown + (text.size() > 60 ? "...'" : "'");
}

}  // namespace

std::optional<std::string> ParseSimMotion(std::string_view text, SimSettings& settings) {
  if (text == "still" || text == "moving") {
    settings.still = text == "still";
    return std::nullopt;
  }
  return "--sim-motion: " + Quoted(text) + " is neither still nor moving";
}

std::optional<std::string> ParseSimSeed(std::string_view text, SimSettings& settings) {
  uint64_t seed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seed);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size())
    return "--sim-seed: " + Quoted(text) + " is not a whole number from 0 to 18446744073709551615";
  settings.seed = seed;
  return std::nullopt;
}

std::optional<std::string> ParseSimNoise(std::string_view text, SimSettings& settings) {
  SimSettings changed = settings;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = std::min(text.find(',', start), text.size());
    const std::string_view pair = text.substr(start, comma - start);
    const size_t equals = pair.find('=');
    if (equals == std::string_view::npos)
      return "--sim-noise: " + Quoted(pair) + " is not KEY=VALUE";
    const std::string_view key = pair.substr(0, equals), value = pair.substr(equals + 1);
    const NoiseKey* found = nullptr;
    for (const NoiseKey& k : kKeys)
      if (k.name == key) found = &k;
    if (found == nullptr)
      return "--sim-noise: unknown key " + Quoted(key) +
             " (keys: gyro-arw, gyro-bi, gyro-rrw, accel-vrw, accel-bi, accel-rw)";
    double number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (value.empty() || error != std::errc{} || end != value.data() + value.size() ||
        !std::isfinite(number) || number < 0)
      return "--sim-noise: " + std::string(key) + " needs a number of 0 or more, not " +
             Quoted(value);
    NoiseModel& model = found->gyro ? changed.gyro : changed.accel;
    model.*(found->field) = number * found->perUnit;
    start = comma + 1;
  }
  settings = changed;
  return std::nullopt;
}

std::optional<std::string> ParseSimClock(std::string_view text, SimSettings& settings) {
  if (text == "virtual") {
    settings.virtualClock = true;
    return std::nullopt;
  }
  return "--sim-clock: " + Quoted(text) + " is not virtual";
}

void ApplySimSettings(const SimSettings& settings, SensorOptions& options) {
  options.motion = settings.still ? MotionProfile::AtRest() : MotionProfile::Default();
  options.motion.gyroNoise = settings.gyro;
  options.motion.accelNoise = settings.accel;
  options.seed = settings.seed;
}

void ApplySimSettings(const SimSettings& settings, RigOptions& options) {
  ApplySimSettings(settings, static_cast<SensorOptions&>(options));
  for (FtdiBoardOptions& board : options.ftdiBoards) board.dataReadyWired = settings.dataReadyWired;
}

}  // namespace pemra::sim
