#pragma once
// The series the noise-analysis benchmarks measure: 10^7 samples of white noise (mean 1.5,
// spread 0.6, seed 1), made once per program.

#include <cstddef>
#include <random>
#include <vector>

namespace pemra::bench {

inline constexpr size_t kSamples = 10000000;

inline const std::vector<double>& Samples() {
  static const std::vector<double> y = [] {
    std::vector<double> v(kSamples);
    std::mt19937_64 generator(1);
    std::normal_distribution<double> normal(1.5, 0.6);
    for (double& x : v) x = normal(generator);
    return v;
  }();
  return y;
}

}  // namespace pemra::bench
