#include "analysis/NoiseIdentification.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace pemra {

namespace {

// The estimate p = -2 (delta + d) of m-sample averages does not land on alpha itself for the
// noises whose averages must be differenced: its expected value follows from the
// generalised autocovariance sz of the differences (Greenhall's functions; DegreesOfFreedom),
// r1 = sz(1) / sz(0):
//   white 0; flicker r1 = (9 ln 3 - 16 ln 2) / (8 ln 2): -1.44599; random walk r1 = 1/4:
//   -2.4; with third differences (Hadamard) flicker walk -3.92663 and random run -4.56522.
// Rounding would put flicker on the edge of random walk (-1.446 against a boundary of -1.5),
// so p is given the noise whose expected estimate lies nearest: the boundaries are the
// midpoints. Above 0 (phase noise) the estimate is rounded.
int AlphaFromEstimate(double p) {
  if (p >= 0.5) return p >= 1.5 ? 2 : 1;
  if (p >= -0.722995853) return 0;
  if (p >= -1.922995853) return -1;
  if (p >= -3.163315248) return -2;
  if (p >= -4.245923942) return -3;
  return -4;
}

}  // namespace

double LagOneAutocorrelation(std::span<const double> z) {
  if (z.size() < 2) return 0;
  double mean = 0;
  for (double v : z) mean += v;
  mean /= static_cast<double>(z.size());
  double num = 0, den = 0;
  for (size_t i = 0; i < z.size(); ++i) {
    const double d = z[i] - mean;
    den += d * d;
    if (i + 1 < z.size()) num += d * (z[i + 1] - mean);
  }
  return den > 0 ? num / den : 0;
}

double ExpectedB1(int64_t averages, int mu) {
  const auto n = static_cast<double>(averages);
  if (mu == 0) return n * std::log(n) / (2 * (n - 1) * std::log(2.0));
  const double m = mu;
  return n * (1 - std::pow(n, m)) / (2 * (n - 1) * (1 - std::pow(2.0, m)));
}

NoiseId IdentifyNoise(std::span<const double> x, int64_t m, int order, const NoiseId* previous) {
  const int lowest = 2 - 2 * order;  // -2 for the Allan deviations, -4 for the Hadamard
  const auto clampAlpha = [&](double p) { return std::clamp(AlphaFromEstimate(p), lowest, 2); };
  const int64_t samples = x.empty() ? 0 : static_cast<int64_t>(x.size()) - 1;
  const int64_t averages = m > 0 ? samples / m : 0;
  if (averages < kB1MinimumAverages) {
    if (previous != nullptr) return {previous->alpha, previous->estimate, NoiseIdMethod::Carried};
    return {0, 0, NoiseIdMethod::Carried};
  }
  const auto mu = static_cast<size_t>(m);
  if (averages < kLagOneMinimumAverages) {
    std::vector<double> z(static_cast<size_t>(averages));
    for (size_t k = 0; k < z.size(); ++k) z[k] = (x[(k + 1) * mu] - x[k * mu]) / static_cast<double>(m);
    // B1: the standard variance of the averages over their plain Allan variance.
    double mean = 0;
    for (double v : z) mean += v;
    mean /= static_cast<double>(z.size());
    double standard = 0, allan = 0;
    for (size_t k = 0; k < z.size(); ++k) {
      standard += (z[k] - mean) * (z[k] - mean);
      if (k + 1 < z.size()) allan += (z[k + 1] - z[k]) * (z[k + 1] - z[k]);
    }
    standard /= static_cast<double>(z.size() - 1);
    allan /= 2.0 * static_cast<double>(z.size() - 1);
    if (!(allan > 0) || !(standard > 0)) return {0, 0, NoiseIdMethod::B1Ratio};
    const double b1 = standard / allan;
    // mu = -1 white rate, 0 flicker rate, 1 random walk of rate. The ratio is used only where
    // few averages remain, at the longest taus, where rate data hold no phase noise (which
    // the ratio could not tell white from flicker anyway).
    int bestMu = -1;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (int mu2 = -1; mu2 <= 1; ++mu2) {
      const double distance = std::fabs(std::log(b1 / ExpectedB1(averages, mu2)));
      if (distance < bestDistance) {
        bestDistance = distance;
        bestMu = mu2;
      }
    }
    const int alpha = -bestMu - 1;
    return {std::clamp(alpha, lowest, 2), static_cast<double>(alpha), NoiseIdMethod::B1Ratio};
  }

  // Lag-1 autocorrelation. Rate data are frequency data, so p of the averages is alpha
  // itself; a deviation of phase order `order` differences the averages order - 1 times, so
  // they are differenced at most that often. The averages, their straight line and their
  // differences are taken on the fly from x (no copy: two passes at d = 0).
  const auto n = static_cast<size_t>(averages);
  const double md = static_cast<double>(m);
  const auto at = [&](size_t k) { return (x[(k + 1) * mu] - x[k * mu]) / md; };
  const double centre = (static_cast<double>(n) - 1) / 2;
  double sum = 0, moment = 0;
  for (size_t k = 0; k < n; ++k) {
    const double v = at(k);
    sum += v;
    moment += (static_cast<double>(k) - centre) * v;
  }
  const double nd = static_cast<double>(n);
  const double mean = sum / nd, slope = moment / (nd * (nd * nd - 1) / 12);
  const auto residual = [&](size_t k) { return at(k) - mean - slope * (static_cast<double>(k) - centre); };
  const int dmax = order - 1;
  for (int d = 0;; ++d) {
    const size_t count = n - static_cast<size_t>(d);
    const auto series = [&](size_t k) {
      switch (d) {
        case 0: return residual(k);
        case 1: return residual(k + 1) - residual(k);
        default: return residual(k + 2) - 2 * residual(k + 1) + residual(k);
      }
    };
    // One pass: the sums that give the lag-1 autocorrelation about the series' mean.
    double s = 0, squares = 0, products = 0, first = 0, previous = 0;
    for (size_t k = 0; k < count; ++k) {
      const double v = series(k);
      if (k == 0) first = v;
      else products += previous * v;
      s += v;
      squares += v * v;
      previous = v;
    }
    const double c = static_cast<double>(count), mu2 = s / c;
    const double num = products - mu2 * ((s - previous) + (s - first)) + (c - 1) * mu2 * mu2;
    const double den = squares - c * mu2 * mu2;
    const double r1 = den > 0 ? num / den : 0;
    const double delta = r1 / (1 + r1);
    if (delta < 0.25 || d >= dmax || count < 4) {
      const double p = -2 * (delta + d);
      return {clampAlpha(p), p, NoiseIdMethod::LagOneAutocorrelation};
    }
  }
}

std::string_view NoiseText(int alpha) {
  switch (alpha) {
    case 2: return "white phase";
    case 1: return "flicker phase";
    case 0: return "white";
    case -1: return "flicker";
    case -2: return "random walk";
    case -3: return "flicker walk";
    case -4: return "random run";
  }
  return "unknown";
}

std::string_view NoiseIdMethodText(NoiseIdMethod method) {
  switch (method) {
    case NoiseIdMethod::LagOneAutocorrelation: return "lag-1 autocorrelation";
    case NoiseIdMethod::B1Ratio: return "B1 ratio";
    case NoiseIdMethod::Carried: return "carried";
  }
  return "";
}

}  // namespace pemra
