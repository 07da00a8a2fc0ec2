#pragma once
// The dominant power-law noise of rate data at one averaging factor: the exponent alpha of
// its spectrum S_y(f) ~ f^alpha (2 white phase, 1 flicker phase, 0 white rate = angle or
// velocity random walk, -1 flicker rate = bias instability, -2 random walk of rate, -3 and
// -4 beyond it), as NIST SP 1065 identifies it:
// - the lag-1 autocorrelation method of Riley and Greenhall: the m-sample averages, less
//   their straight line, differenced until delta = r1 / (1 + r1) falls below 1/4 (or the
//   deviation's order is reached); p = -2 (delta + d) rounded is alpha;
// - where fewer than 30 averages remain, the B1 ratio (standard over plain Allan variance of
//   the averages) against its expected values for white, flicker and random walk of rate,
//   the noise whose value lies nearest in ratio;
// - where fewer than 4 averages remain, neither says anything: the previous averaging
//   factor's noise is carried on.

#include <cstdint>
#include <span>
#include <string_view>

namespace pemra {

enum class NoiseIdMethod { LagOneAutocorrelation, B1Ratio, Carried };

struct NoiseId {
  int alpha = 0;          // identified, within the range the deviation handles
  double estimate = 0;    // the unrounded estimate (lag-1: p; B1: the nearest exponent)
  NoiseIdMethod method = NoiseIdMethod::LagOneAutocorrelation;
};

// Averages fewer than these leave the method below.
inline constexpr int64_t kLagOneMinimumAverages = 30;
inline constexpr int64_t kB1MinimumAverages = 4;

// The noise at averaging factor m of the rate samples whose running sums are `x` (x[0] = 0,
// x[i + 1] = x[i] + y[i]; the phase the deviations difference), for a deviation whose
// differences are of order `order` in the phase (2 for the Allan deviations, 3 for the
// Hadamard): alpha is kept in [2 - 2 order, 2], i.e. -2 .. 2 or -4 .. 2. `previous` is
// carried where too few averages remain (the previous factor's result, or nullptr).
NoiseId IdentifyNoise(std::span<const double> x, int64_t m, int order,
                      const NoiseId* previous = nullptr);

// The B1 ratio expected for N averages of noise whose Allan variance goes as tau^mu.
double ExpectedB1(int64_t averages, int mu);

// The lag-1 autocorrelation of `z` about its mean (0 for fewer than 2 values or none that vary).
double LagOneAutocorrelation(std::span<const double> z);

// "white phase", "flicker phase", "white", "flicker", "random walk", "flicker walk",
// "random run".
std::string_view NoiseText(int alpha);
// "lag-1 autocorrelation", "B1 ratio", "carried".
std::string_view NoiseIdMethodText(NoiseIdMethod method);

}  // namespace pemra
