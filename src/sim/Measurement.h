#pragma once
// The measurement model: the data code of any output for any internal sample, computed on
// demand. A sample is the motion profile's true value plus bias plus white noise, averaged
// over 2^N taps (noise falls with the square root of the tap count), converted to codes at the
// scale in force, plus the offset registers; or, with the test pattern on, the sample number.

#include <array>
#include <cstddef>
#include <cstdint>

#include "sim/MotionProfile.h"
#include "sim/NoiseSource.h"
#include "sim/OutputFormat.h"
#include "sim/SampleClock.h"
#include "sim/SensorRegisters.h"

namespace pemra::sim {

// What the registers and the rig's options set. The sensor fills it and calls
// Measurement::SettingsChanged after every change.
struct MeasurementSettings {
  double gyroScale = 0.07326;          // degrees per second per LSB at the range in force
  int64_t taps = 4;                     // 2^N filter taps
  std::array<int32_t, 3> gyroOffset{};  // register codes, quarter-LSB steps at the highest range
  std::array<int32_t, 3> accelOffset{};  // register codes, accelerometer LSB
  bool selfTest = false;                // MSC_CTRL bit 8: the self-test response is applied
  bool selfTestFault = false;           // an injected fault: no self-test response
  bool testPattern = false;
  bool noise = true;
  double supplyVolts = 5.0;
  double dacVolts = 0.0;                // latched AUX_DAC output
};

// The self-test response added to every gyro and accelerometer output.
inline constexpr double kSelfTestRate = 20.0;  // degrees per second
inline constexpr double kSelfTestAccel = 0.15;  // g

class Measurement {
 public:
  Measurement(int16_t model, MotionProfile profile, uint64_t seed);

  // Data code (sign-converted for signed fields) of channel c for sample k >= 0.
  int32_t Code(Channel c, int64_t k, const SampleClock& samples);

  // The gyro bias auto-null sees on one axis when it averages for `seconds` up to `now`:
  // the bias, its slow processes at `now`, and the mean of the white noise over that time.
  // `draw` numbers the nulling run.
  double GyroBiasEstimate(int axis, double seconds, double now, int64_t draw);

  const OutputFormats& Formats() const { return formats_; }
  void SetModel(int16_t model);
  const MotionProfile& Profile() const { return profile_; }
  void SetProfile(const MotionProfile& profile);
  void SetSeed(uint64_t seed);
  const MeasurementSettings& Settings() const { return settings_; }
  // Changes the settings; cached sample codes are dropped.
  MeasurementSettings& EditSettings();
  // Sample times changed (period, sleep, power-up): cached codes are dropped.
  void SamplesChanged() { DropCache(); }

 private:
  double Physical(Channel c, int64_t k, const SampleClock& samples);
  double Noise(const NoiseModel& model, size_t axis, uint32_t stream, int64_t k, double t,
               double period, int64_t taps);
  int32_t Compute(Channel c, int64_t k, const SampleClock& samples);

  OutputFormats formats_;
  MotionProfile profile_;
  NoiseSource noise_;
  MeasurementSettings settings_;
  std::array<MovingNoise, 6> filterNoise_{};  // gyro X-Z, accel X-Z
  std::array<SlowNoise, 6> slowNoise_{SlowNoise(0), SlowNoise(1), SlowNoise(2),
                                      SlowNoise(3), SlowNoise(4), SlowNoise(5)};

  void DropCache();

  // Codes of the two samples asked for last (the newest and, for the alarms' rate of change,
  // an older one), one valid bit per channel.
  struct CachedSample {
    int64_t sample = -1;
    uint32_t valid = 0;
    std::array<int32_t, kChannels> code{};
  };
  std::array<CachedSample, 2> cache_{};
  size_t cacheNext_ = 0;  // slot to replace next
};

}  // namespace pemra::sim
