#include "sim/Measurement.h"

#include <cmath>
#include <numbers>

namespace pemra::sim {

namespace {

// Noise streams: one per output channel; nulling draws use their own.
constexpr uint32_t kAutoNullStream = 100;

double Seconds(Nanoseconds t) { return double(t.count()) * 1e-9; }

constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;

}  // namespace

Measurement::Measurement(int16_t model, MotionProfile profile, uint64_t seed)
    : formats_(model), profile_(profile), noise_(seed) {
  settings_.gyroScale = formats_.GyroBaseScale();
}

void Measurement::SetModel(int16_t model) {
  formats_ = OutputFormats(model);
  DropCache();
}

void Measurement::SetProfile(const MotionProfile& profile) {
  profile_ = profile;
  DropCache();
}

void Measurement::SetSeed(uint64_t seed) {
  noise_.SetSeed(seed);
  for (MovingNoise& m : filterNoise_) m.Reset();
  DropCache();
}

MeasurementSettings& Measurement::EditSettings() {
  DropCache();
  return settings_;
}

void Measurement::DropCache() {
  for (CachedSample& s : cache_) s.valid = 0;
}

int32_t Measurement::Code(Channel c, int64_t k, const SampleClock& samples) {
  CachedSample* slot = nullptr;
  for (CachedSample& s : cache_) {
    if (s.sample == k) slot = &s;
  }
  if (slot == nullptr) {
    slot = &cache_[cacheNext_];
    cacheNext_ = (cacheNext_ + 1) % cache_.size();
    slot->sample = k;
    slot->valid = 0;
  }
  const uint32_t bit = 1u << int(c);
  if ((slot->valid & bit) == 0) {
    const int32_t code = Compute(c, k, samples);
    // Compute may have filled other channels of the same sample (the angles read the
    // accelerometers); the slot still belongs to k.
    slot->code[size_t(c)] = code;
    slot->valid |= bit;
  }
  return slot->code[size_t(c)];
}

int32_t Measurement::Compute(Channel c, int64_t k, const SampleClock& samples) {
  const bool isGyro = c == Channel::GyroX || c == Channel::GyroY || c == Channel::GyroZ;
  if (formats_.GyroXOnly() && (c == Channel::GyroY || c == Channel::GyroZ)) return 0;

  const FieldFormat& f = formats_.Of(c);
  if (settings_.testPattern) {
    const uint32_t bits = uint32_t(uint64_t(k) & ((1u << f.width) - 1));
    return f.isSigned ? SignExtend(bits, f.width) : int32_t(bits);
  }

  double value = Physical(c, k, samples);
  double scale = f.scale;
  if (isGyro) {
    const int axis = int(c) - int(Channel::GyroX);
    scale = settings_.gyroScale;
    value += settings_.gyroOffset[size_t(axis)] * formats_.GyroBaseScale() / 4.0;
  } else if (c >= Channel::AccelX && c <= Channel::AccelZ) {
    const int axis = int(c) - int(Channel::AccelX);
    value += settings_.accelOffset[size_t(axis)] * f.scale;
  }
  return formats_.Encode(c, value, scale);
}

double Measurement::Physical(Channel c, int64_t k, const SampleClock& samples) {
  const double t = Seconds(samples.TimeOf(k));
  const double period = Seconds(samples.Period());
  const int64_t taps = settings_.taps;
  const bool noisy = settings_.noise;
  const uint32_t stream = uint32_t(c);

  switch (c) {
    case Channel::Supply:
      return settings_.supplyVolts +
             (noisy ? profile_.supplyNoise * noise_.Gaussian(stream, k) : 0.0);
    case Channel::GyroX:
    case Channel::GyroY:
    case Channel::GyroZ: {
      const size_t axis = size_t(int(c) - int(Channel::GyroX));
      double v = profile_.rate[axis].MeanOver(t, period, taps) + profile_.gyroBias[axis];
      if (noisy) v += Noise(profile_.gyroNoise, axis, stream, k, t, period, taps);
      if (settings_.selfTest && !settings_.selfTestFault) v += kSelfTestRate;
      return v;
    }
    case Channel::AccelX:
    case Channel::AccelY:
    case Channel::AccelZ: {
      const size_t axis = size_t(int(c) - int(Channel::AccelX));
      double v = profile_.acceleration[axis].MeanOver(t, period, taps) + profile_.accelBias[axis];
      if (noisy) v += Noise(profile_.accelNoise, 3 + axis, stream, k, t, period, taps);
      if (settings_.selfTest && !settings_.selfTestFault) v += kSelfTestAccel;
      return v;
    }
    case Channel::TempY:
    case Channel::TempZ:
      if (formats_.HasAngles()) {
        // Pitch and roll from the accelerometer outputs of the same sample.
        const double ax = Code(Channel::AccelX, k, samples) * formats_.Of(Channel::AccelX).scale;
        const double ay = Code(Channel::AccelY, k, samples) * formats_.Of(Channel::AccelY).scale;
        const double az = Code(Channel::AccelZ, k, samples) * formats_.Of(Channel::AccelZ).scale;
        if (c == Channel::TempY) return std::atan2(ax, std::hypot(ay, az)) * kDegreesPerRadian;
        return std::atan2(ay, az) * kDegreesPerRadian;
      }
      [[fallthrough]];
    case Channel::TempX: {
      const size_t axis = size_t(int(c) - int(Channel::TempX));
      return profile_.temperature[axis].At(t) +
             (noisy ? profile_.temperatureNoise * noise_.Gaussian(stream, k) : 0.0);
    }
    case Channel::AuxAdc:
      return settings_.dacVolts;
  }
  return 0.0;
}

double Measurement::GyroBiasEstimate(int axis, double seconds, double now, int64_t draw) {
  double v = profile_.gyroBias[size_t(axis)];
  if (settings_.noise && seconds > 0) {
    v += profile_.gyroNoise.randomWalk * noise_.Gaussian(kAutoNullStream + uint32_t(axis), draw) /
         std::sqrt(seconds);
    v += slowNoise_[size_t(axis)].At(noise_, now, profile_.gyroNoise);
  }
  return v;
}

// White noise of density N (the moving mean of the taps' draws, each of spread
// N / sqrt(period), so the density holds whatever the taps), plus the slow processes.
double Measurement::Noise(const NoiseModel& model, size_t axis, uint32_t stream, int64_t k,
                          double t, double period, int64_t taps) {
  double v = 0;
  if (model.randomWalk != 0 && period > 0)
    v += model.randomWalk / std::sqrt(period) * filterNoise_[axis].Mean(noise_, stream, k, taps);
  return v + slowNoise_[axis].At(noise_, t, model);
}

}  // namespace pemra::sim
