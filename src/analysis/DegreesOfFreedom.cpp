#include "analysis/DegreesOfFreedom.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pemra {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr int64_t kMaxLags = 100;  // the basic sum's limit; beyond, the tables

// sw(t): the generalised autocovariance of the phase integrated once, per alpha (eq. 7).
double Sw(double t, int alpha) {
  const double a = std::fabs(t);
  switch (alpha) {
    case 2: return -a;
    case 1: return a == 0 ? 0 : t * t * std::log(a);
    case 0: return a * a * a;
    case -1: return a == 0 ? 0 : t * t * t * t * std::log(a);
    case -2: return a * a * a * a * a;
    case -3: return a == 0 ? 0 : std::pow(t, 6) * std::log(a);
    case -4: return std::pow(a, 7);
  }
  return 0;
}

// sx(t): the phase averaged over 1/F of tau (F infinite: not averaged) (eq. 8).
double Sx(double t, double f, int alpha) {
  if (std::isinf(f)) return Sw(t, alpha + 2);
  return f * f * (2 * Sw(t, alpha) - Sw(t - 1 / f, alpha) - Sw(t + 1 / f, alpha));
}

// sz(t): the d-th difference of the averaged phase at lag t (in units of tau) (eq. 9).
double Sz(double t, double f, int alpha, int d) {
  switch (d) {
    case 1: return 2 * Sx(t, f, alpha) - Sx(t - 1, f, alpha) - Sx(t + 1, f, alpha);
    case 2:
      return 6 * Sx(t, f, alpha) - 4 * Sx(t - 1, f, alpha) - 4 * Sx(t + 1, f, alpha) +
             Sx(t - 2, f, alpha) + Sx(t + 2, f, alpha);
    case 3:
      return 20 * Sx(t, f, alpha) - 15 * Sx(t - 1, f, alpha) - 15 * Sx(t + 1, f, alpha) +
             6 * Sx(t - 2, f, alpha) + 6 * Sx(t + 2, f, alpha) - Sx(t - 3, f, alpha) -
             Sx(t + 3, f, alpha);
  }
  return 0;
}

// The basic sum (eq. 10) over J lags of M terms at stride S, normalised: 1 / edf.
double InverseEdf(double j, double mTerms, double s, double f, int alpha, int d) {
  const double z0 = Sz(0, f, alpha, d);
  double sum = z0 * z0;
  const double zj = Sz(j / s, f, alpha, d);
  sum += (1 - j / mTerms) * zj * zj;
  for (int64_t k = 1; k < static_cast<int64_t>(j); ++k) {
    const double z = Sz(static_cast<double>(k) / s, f, alpha, d);
    sum += 2 * (1 - static_cast<double>(k) / mTerms) * z * z;
  }
  return sum / (z0 * z0 * mTerms);
}

struct Pair {
  double a0, a1;
};

// Table 1: modified variances, large samples; rows alpha 2 .. -4, columns d 1 .. 3.
constexpr Pair kTable1[7][3] = {
    {{2.0 / 3, 1.0 / 3}, {7.0 / 9, 1.0 / 2}, {22.0 / 25, 2.0 / 3}},
    {{0.840, 0.345}, {0.997, 0.616}, {1.141, 0.843}},
    {{1.079, 0.368}, {1.033, 0.607}, {1.184, 0.848}},
    {{0, 0}, {1.048, 0.534}, {1.180, 0.816}},
    {{0, 0}, {1.302, 0.535}, {1.175, 0.777}},
    {{0, 0}, {0, 0}, {1.194, 0.703}},
    {{0, 0}, {0, 0}, {1.489, 0.702}},
};
// Table 2: unmodified variances, large samples.
constexpr Pair kTable2[7][3] = {
    {{3.0 / 2, 1.0 / 2}, {35.0 / 18, 1.0}, {231.0 / 100, 3.0 / 2}},
    {{78.6, 25.2}, {790.0, 410.0}, {9950.0, 6520.0}},
    {{2.0 / 3, 1.0 / 6}, {2.0 / 3, 1.0 / 3}, {7.0 / 9, 1.0 / 2}},
    {{0, 0}, {0.852, 0.375}, {0.997, 0.617}},
    {{0, 0}, {1.079, 0.368}, {1.033, 0.607}},
    {{0, 0}, {0, 0}, {1.053, 0.553}},
    {{0, 0}, {0, 0}, {1.302, 0.535}},
};
// Table 3: flicker phase noise, unmodified variances: sz(0) grows as b0 + b1 ln m.
constexpr Pair kTable3[3] = {{6.0, 4.0}, {15.23, 12.0}, {47.8, 40.0}};

double Binomial(int n, int k) {
  double r = 1;
  for (int i = 1; i <= k; ++i) r = r * (n - k + i) / i;
  return r;
}

}  // namespace

double GreenhallEdf(int alpha, int order, int64_t m, int64_t phasePoints, bool overlapping,
                    bool modified) {
  const int d = order;
  if (m < 1 || d < 1 || d > 3 || alpha > 2 || alpha < -4 || alpha + 2 * d <= 1) return 0;
  const auto md = static_cast<double>(m);
  const double f = modified ? 1.0 : md;            // filter factor
  const double s = overlapping ? md : 1.0;         // stride factor
  const double l = md / f + md * d;                // the filter's length in phase samples
  const double mTerms = 1 + std::floor(s * (static_cast<double>(phasePoints) - l) / md);
  if (mTerms < 1) return 0;
  const double j = std::min(mTerms, (d + 1) * s);
  const double jMax = static_cast<double>(kMaxLags);
  const double r = mTerms / s;
  const size_t row = static_cast<size_t>(2 - alpha), col = static_cast<size_t>(d - 1);
  double inverse = 0;
  if (modified) {
    if (j <= jMax) inverse = InverseEdf(j, mTerms, s, 1, alpha, d);
    else if (r > d + 1) inverse = (kTable1[row][col].a0 - kTable1[row][col].a1 / r) / r;
    else inverse = InverseEdf(jMax, jMax, jMax / r, 1, alpha, d);
  } else if (alpha <= 0) {
    if (j <= jMax) {
      // The sampled phase exactly while the filter is short, else its continuous limit.
      const double fPrime = md * (d + 1) <= jMax ? md : kInfinity;
      inverse = InverseEdf(j, mTerms, s, fPrime, alpha, d);
    } else if (r > d + 1) {
      inverse = (kTable2[row][col].a0 - kTable2[row][col].a1 / r) / r;
    } else {
      inverse = InverseEdf(jMax, jMax, jMax / r, kInfinity, alpha, d);
    }
  } else if (alpha == 1) {
    if (j <= jMax) {
      inverse = InverseEdf(j, mTerms, s, md, 1, d);
    } else {
      const double b = kTable3[col].a0 + kTable3[col].a1 * std::log(md);
      if (r > d + 1) {
        inverse = (kTable2[row][col].a0 - kTable2[row][col].a1 / r) / (b * b * r);
      } else {
        // The basic sum over jMax lags at m' = jMax / r, scaled to this m's sz(0).
        const double mPrime = jMax / r;
        const double z0 = Sz(0, mPrime, 1, d);
        inverse = InverseEdf(jMax, jMax, mPrime, mPrime, 1, d) * z0 * z0 / (b * b);
      }
    }
  } else {  // alpha == 2: white phase noise
    if (std::ceil(r) > d) {
      const double a0 = Binomial(4 * d, 2 * d) / (Binomial(2 * d, d) * Binomial(2 * d, d));
      inverse = (a0 - d / 2.0 / r) / mTerms;
    } else {
      // Few strides: the basic sum over the sampled phase is exact for white phase noise.
      inverse = InverseEdf(j, mTerms, s, md, alpha, d);
    }
  }
  return inverse > 0 ? 1 / inverse : 0;
}

}  // namespace pemra
