#pragma once
// Rate series of known noise for the analysis tests (not the simulator): white rate noise
// of density N, flicker of bias instability B by Kasdin and Walter's filter
// (h_0 = 1, h_k = h_(k-1) (k - 1/2) / k, applied by FFT convolution, driven by white noise of
// variance B^2, so that the one-sided spectrum is B^2 / (pi f) and the Allan floor 0.664 B),
// and a random walk of K (steps of variance K^2 / rate), all seeded.

#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace pemra::testing {

inline void Fft(std::vector<std::complex<double>>& a, bool inverse) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double angle = 2 * std::numbers::pi / static_cast<double>(len) * (inverse ? 1 : -1);
    const std::complex<double> step(std::cos(angle), std::sin(angle));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w(1);
      for (size_t k = 0; k < len / 2; ++k) {
        const auto u = a[i + k], v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        w *= step;
      }
    }
  }
  if (inverse)
    for (auto& v : a) v /= static_cast<double>(n);
}

struct PowerLaw {
  double n = 0, b = 0, k = 0;  // N unit*sqrt(s), B unit, K unit/sqrt(s)
};

inline std::vector<double> PowerLawNoise(const PowerLaw& truth, double rate, size_t samples,
                                         uint64_t seed) {
  std::mt19937_64 engine(seed);
  std::normal_distribution<double> gauss;
  std::vector<double> y(samples, 0.0);
  const double white = truth.n * std::sqrt(rate);
  double walk = 0;
  const double step = truth.k / std::sqrt(rate);
  for (size_t i = 0; i < samples; ++i) {
    walk += step * gauss(engine);
    y[i] = white * gauss(engine) + walk;
  }
  if (truth.b > 0) {
    size_t size = 1;
    while (size < 2 * samples) size <<= 1;
    std::vector<std::complex<double>> h(size), w(size);
    double hk = 1;
    for (size_t i = 0; i < samples; ++i) {
      h[i] = hk;
      hk *= (static_cast<double>(i) + 0.5) / static_cast<double>(i + 1);
      w[i] = truth.b * gauss(engine);
    }
    Fft(h, false);
    Fft(w, false);
    for (size_t i = 0; i < size; ++i) h[i] *= w[i];
    Fft(h, true);
    for (size_t i = 0; i < samples; ++i) y[i] += h[i].real();
  }
  return y;
}

}  // namespace pemra::testing
