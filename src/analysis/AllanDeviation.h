#pragma once
// Allan deviation of rate data (a gyro or accelerometer column, evenly spaced samples) at
// averaging times tau = m / rate:
// - overlapping (the default): every start sample, N + 1 - 2m terms;
// - plain: back-to-back averages of m samples, floor(N / m) - 1 terms;
// - modified: overlapping, with the phase averaged over m samples, N + 2 - 3m terms.
// Each point carries its number of terms and a 68% confidence interval from its equivalent
// degrees of freedom, worked out for white rate noise (white frequency noise, the -1/2
// slope of angle or velocity random walk): the exact variance of the estimator for that
// noise, and the chi-square quantiles of those degrees of freedom.
// The sums run over cumulative sums of the samples (less their mean), so a point costs one
// pass over the data whatever m is.

#include <atomic>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace pemra {

enum class AllanType { Overlapping, Plain, Modified };
enum class TauGridKind { Octave, Decade, All, List };

struct TauGrid {
  TauGridKind kind = TauGridKind::Octave;  // m = 1, 2, 4, ...; Decade: 1, 2, 5, 10, 20, ...
  std::vector<double> taus;                // seconds, for List
};

struct AllanPoint {
  double tau = 0;        // seconds
  int64_t m = 0;         // samples averaged
  double deviation = 0;  // in the units of the data
  double low = 0;        // 68% confidence interval
  double high = 0;
  int64_t terms = 0;     // squared differences averaged
  double edf = 0;        // equivalent degrees of freedom
};

// The largest m with at least one term for `samples` samples.
int64_t MaxAveragingFactor(int64_t samples, AllanType type);

// The averaging factors of `grid`, ascending, each with at least one term. List taus are
// rounded to whole samples; those that give no m in range are added to `outOfRange`.
std::vector<int64_t> AveragingFactors(const TauGrid& grid, int64_t samples, double rate,
                                      AllanType type, std::vector<double>* outOfRange = nullptr);

// The deviation of `y` (samples at `rate` per second) at every m of `grid`. A set `cancel`
// ends the work early with the points done so far.
std::vector<AllanPoint> AllanDeviation(std::span<const double> y, double rate, AllanType type,
                                       const TauGrid& grid,
                                       const std::atomic<bool>* cancel = nullptr);

// Equivalent degrees of freedom of a deviation at m with `terms` terms, for white rate noise.
double WhiteNoiseEdf(AllanType type, int64_t m, int64_t terms);

// The p-quantile of the chi-square distribution with `dof` (> 0, not necessarily whole)
// degrees of freedom.
double ChiSquareQuantile(double p, double dof);

// "overlapping", "plain", "modified".
std::string_view AllanTypeText(AllanType type);

}  // namespace pemra
