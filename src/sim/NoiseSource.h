#pragma once
// Seeded white noise that can be read at any sample number without generating the ones
// before it: each value is a hash of (seed, stream, sample). The value is the sum of four
// 16-bit uniforms (close to Gaussian, bounded at +-3.46 sigma), kept as an integer so that a
// moving sum over the filter's taps stays exact however long it slides.

#include <cstdint>

namespace pemra::sim {

class NoiseSource {
 public:
  explicit NoiseSource(uint64_t seed = 1) : seed_(seed) {}
  void SetSeed(uint64_t seed) { seed_ = seed; }
  uint64_t Seed() const { return seed_; }

  // Integer draw for (stream, index): zero mean; kUnit of it is one standard deviation.
  int64_t Raw(uint32_t stream, int64_t index) const;
  // The same draw in standard deviations.
  double Gaussian(uint32_t stream, int64_t index) const { return double(Raw(stream, index)) / kUnit; }
  // A uniform draw in [0, 1) for (stream, index).
  double Uniform(uint32_t stream, int64_t index) const;

  static constexpr double kUnit = 65536.0 / 1.7320508075688772;  // 65536 / sqrt(3)

 private:
  uint64_t seed_;
};

// Mean of the noise draws of one stream over the `taps` samples ending at k. Remembers the
// last window so that stepping forward costs one draw per new sample, never more than
// `taps` draws.
class MovingNoise {
 public:
  double Mean(const NoiseSource& noise, uint32_t stream, int64_t k, int64_t taps);
  void Reset() { valid_ = false; }

 private:
  bool valid_ = false;
  uint64_t seed_ = 0;
  uint32_t stream_ = 0;
  int64_t last_ = 0;
  int64_t taps_ = 0;
  int64_t sum_ = 0;
};

}  // namespace pemra::sim
