#pragma once
// Allan deviation of rate data (a gyro or accelerometer column, evenly spaced samples) at
// averaging times tau = m / rate:
// - overlapping (the default): every start sample, N + 1 - 2m terms;
// - plain: back-to-back averages of m samples, floor(N / m) - 1 terms;
// - modified: overlapping, with the phase averaged over m samples, N + 2 - 3m terms;
// - Hadamard (overlapping): third differences of the phase, N + 1 - 3m terms, blind to a
//   linear drift of the rate and defined for noises down to alpha -4.
// Each point carries its number of terms, the noise identified there (NoiseIdentification.h)
// and a 68% confidence interval: the equivalent degrees of freedom for that noise by
// Greenhall's algorithm (DegreesOfFreedom.h) and the chi-square quantiles of them.
// The sums run over cumulative sums of the samples (less their mean), so a point costs one
// pass over the data whatever m is.

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "analysis/NoiseIdentification.h"

namespace pemra {

enum class AllanType { Overlapping, Plain, Modified, Hadamard };
enum class TauGridKind { Octave, Decade, All, List };

struct TauGrid {
  // Octave: m = 1, 2, 4, ...; Decade: 1, 2, 5, 10, 20, ...; All: every m up to
  // kAllFactorsUpTo, then at most kDenseFactorsPerDecade distinct factors per decade.
  TauGridKind kind = TauGridKind::Octave;
  std::vector<double> taus;                // seconds, for List
};

struct AllanPoint {
  double tau = 0;        // seconds
  int64_t m = 0;         // samples averaged
  double deviation = 0;  // in the units of the data
  double low = 0;        // 68% confidence interval
  double high = 0;
  int64_t terms = 0;     // squared differences averaged
  double edf = 0;        // equivalent degrees of freedom, for the noise identified
  NoiseId noise;         // the noise identified at m; the interval assumes it
};

inline constexpr int64_t kAllFactorsUpTo = 100000;
inline constexpr int kDenseFactorsPerDecade = 100;

// The largest m with at least one term for `samples` samples.
int64_t MaxAveragingFactor(int64_t samples, AllanType type);

// The averaging factors of `grid`, ascending, each with at least one term. List taus are
// rounded to whole samples; those that give no m in range are added to `outOfRange`.
std::vector<int64_t> AveragingFactors(const TauGrid& grid, int64_t samples, double rate,
                                      AllanType type, std::vector<double>* outOfRange = nullptr);

// The deviation of `y` (samples at `rate` per second) at every m of `grid`. A set `cancel`
// ends the work early with the points done so far; `progress`, when given, gets the
// fraction of the work done after each point.
std::vector<AllanPoint> AllanDeviation(std::span<const double> y, double rate, AllanType type,
                                       const TauGrid& grid,
                                       const std::atomic<bool>* cancel = nullptr,
                                       const std::function<void(double)>& progress = {});

// The work of AllanDeviation on `factors` for `samples` samples, in sample-terms (about a
// nanosecond each on a current machine): for an estimate of its time before it starts.
double DeviationWork(AllanType type, int64_t samples, const std::vector<int64_t>& factors);

// Equivalent degrees of freedom of a deviation at m with `terms` terms, for white rate noise,
// exactly (the estimator's kernel correlated term by term; Allan types only).
double WhiteNoiseEdf(AllanType type, int64_t m, int64_t terms);

// Equivalent degrees of freedom of a deviation of `samples` samples at m for noise alpha
// (Greenhall's algorithm, for every type).
double DegreesOfFreedom(AllanType type, int alpha, int64_t m, int64_t samples);

// The 68% interval of a deviation with `edf` degrees of freedom: deviation times
// sqrt(edf / chi2(0.841345, edf)) and sqrt(edf / chi2(0.158655, edf)).
struct Interval {
  double low = 0, high = 0;
};
Interval ConfidenceInterval(double deviation, double edf);

// Removes the least-squares straight line (a linear drift) from `y`.
void RemoveLinearDrift(std::span<double> y);

// The order of the phase differences of `type`: 2 for the Allan types, 3 for the Hadamard.
int DifferenceOrder(AllanType type);

// The p-quantile of the chi-square distribution with `dof` (> 0, not necessarily whole)
// degrees of freedom.
double ChiSquareQuantile(double p, double dof);

// "overlapping", "plain", "modified", "Hadamard".
std::string_view AllanTypeText(AllanType type);
// "overlapping Allan deviation", ..., "modified Allan deviation", "overlapping Hadamard
// deviation".
std::string_view DeviationName(AllanType type);

}  // namespace pemra
