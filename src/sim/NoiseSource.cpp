#include "sim/NoiseSource.h"

namespace pemra::sim {

namespace {

// splitmix64's finaliser: a bijective mix with good avalanche.
uint64_t Mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 31;
  return x;
}

uint64_t Hash(uint64_t seed, uint32_t stream, int64_t index) {
  return Mix(seed * 0x9E3779B97F4A7C15ull ^ Mix((uint64_t(stream) << 48) ^ uint64_t(index)));
}

}  // namespace

double NoiseSource::Uniform(uint32_t stream, int64_t index) const {
  return double(Hash(seed_, stream, index) >> 11) * 0x1p-53;
}

int64_t NoiseSource::Raw(uint32_t stream, int64_t index) const {
  const uint64_t h = Hash(seed_, stream, index);
  const int64_t sum = int64_t(h & 0xFFFF) + int64_t((h >> 16) & 0xFFFF) +
                      int64_t((h >> 32) & 0xFFFF) + int64_t(h >> 48);
  // Four uniforms (x + 0.5) / 65536 sum to (sum + 2) / 65536, whose mean is 2.
  return sum - 131070;
}

double MovingNoise::Mean(const NoiseSource& noise, uint32_t stream, int64_t k, int64_t taps) {
  if (valid_ && taps == taps_ && seed_ == noise.Seed() && stream == stream_ &&
      k >= last_ && k - last_ < taps) {
    for (int64_t j = last_ + 1; j <= k; ++j) {
      sum_ += noise.Raw(stream, j) - noise.Raw(stream, j - taps);
    }
  } else {
    sum_ = 0;
    for (int64_t j = k - taps + 1; j <= k; ++j) sum_ += noise.Raw(stream, j);
  }
  valid_ = true;
  seed_ = noise.Seed();
  stream_ = stream;
  last_ = k;
  taps_ = taps;
  return double(sum_) / (NoiseSource::kUnit * double(taps));
}

}  // namespace pemra::sim
