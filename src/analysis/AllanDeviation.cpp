#include "analysis/AllanDeviation.h"

#include "analysis/DegreesOfFreedom.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace pemra {

namespace {

// One-sigma two-sided probabilities: the interval holds 68.27% of the distribution.
constexpr double kLowerTail = 0.15865525393145707;
constexpr double kUpperTail = 0.8413447460685429;

// Cumulative sums of the samples less their mean: x[0] = 0, x[i + 1] = x[i] + y[i] - mean.
// Removing the mean leaves every difference unchanged and keeps the sums small.
std::vector<double> Phase(std::span<const double> y) {
  double mean = 0;
  for (double v : y) mean += v;
  mean /= static_cast<double>(y.size());
  std::vector<double> x(y.size() + 1);
  double sum = 0;
  x[0] = 0;
  for (size_t i = 0; i < y.size(); ++i) {
    sum += y[i] - mean;
    x[i + 1] = sum;
  }
  return x;
}

// Sum over i of (x[i + 2m] - 2 x[i + m] + x[i])^2 for i = 0 .. count - 1.
double SecondDifferenceSquares(const double* x, size_t m, size_t count) {
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  const double* a = x;
  const double* b = x + m;
  const double* c = x + 2 * m;
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const double d0 = c[i] - 2 * b[i] + a[i];
    const double d1 = c[i + 1] - 2 * b[i + 1] + a[i + 1];
    const double d2 = c[i + 2] - 2 * b[i + 2] + a[i + 2];
    const double d3 = c[i + 3] - 2 * b[i + 3] + a[i + 3];
    s0 += d0 * d0;
    s1 += d1 * d1;
    s2 += d2 * d2;
    s3 += d3 * d3;
  }
  for (; i < count; ++i) {
    const double d = c[i] - 2 * b[i] + a[i];
    s0 += d * d;
  }
  return (s0 + s1) + (s2 + s3);
}

// Variance and term count at m.
struct Estimate {
  double variance = 0;
  int64_t terms = 0;
};

Estimate Overlapping(const std::vector<double>& x, int64_t m) {
  const auto count = static_cast<int64_t>(x.size()) - 2 * m;  // N + 1 - 2m
  const double sum = SecondDifferenceSquares(x.data(), static_cast<size_t>(m),
                                             static_cast<size_t>(count));
  const double md = static_cast<double>(m);
  return {sum / (2.0 * md * md * static_cast<double>(count)), count};
}

Estimate Plain(const std::vector<double>& x, int64_t m) {
  const int64_t blocks = (static_cast<int64_t>(x.size()) - 1) / m;
  double sum = 0;
  for (int64_t k = 0; k + 2 <= blocks; ++k) {
    const double d = x[static_cast<size_t>((k + 2) * m)] - 2 * x[static_cast<size_t>((k + 1) * m)] +
                     x[static_cast<size_t>(k * m)];
    sum += d * d;
  }
  const double md = static_cast<double>(m);
  const int64_t terms = blocks - 1;
  return {sum / (2.0 * md * md * static_cast<double>(terms)), terms};
}

Estimate Modified(const std::vector<double>& x, int64_t m) {
  const auto n = static_cast<int64_t>(x.size()) - 1;  // samples
  const int64_t terms = n + 2 - 3 * m;
  const auto d = [&](int64_t i) {
    const auto u = static_cast<size_t>(i);
    const auto mu = static_cast<size_t>(m);
    return x[u + 2 * mu] - 2 * x[u + mu] + x[u];
  };
  // A window of m second differences, slid one sample at a time.
  double window = 0;
  for (int64_t i = 0; i < m; ++i) window += d(i);
  double sum = window * window;
  for (int64_t j = 1; j < terms; ++j) {
    window += d(j + m - 1) - d(j - 1);
    sum += window * window;
  }
  const double md = static_cast<double>(m);
  return {sum / (2.0 * md * md * md * md * static_cast<double>(terms)), terms};
}

// Sum over i of (x[i + 3m] - 3 x[i + 2m] + 3 x[i + m] - x[i])^2 / (6 m^2 terms).
Estimate Hadamard(const std::vector<double>& x, int64_t m) {
  const auto count = static_cast<int64_t>(x.size()) - 3 * m;  // N + 1 - 3m
  const auto mu = static_cast<size_t>(m);
  const double* a = x.data();
  const double* b = a + mu;
  const double* c = b + mu;
  const double* e = c + mu;
  double s0 = 0, s1 = 0;
  int64_t i = 0;
  for (; i + 2 <= count; i += 2) {
    const double d0 = e[i] - 3 * c[i] + 3 * b[i] - a[i];
    const double d1 = e[i + 1] - 3 * c[i + 1] + 3 * b[i + 1] - a[i + 1];
    s0 += d0 * d0;
    s1 += d1 * d1;
  }
  for (; i < count; ++i) {
    const double d = e[i] - 3 * c[i] + 3 * b[i] - a[i];
    s0 += d * d;
  }
  const double md = static_cast<double>(m);
  return {(s0 + s1) / (6.0 * md * md * static_cast<double>(count)), count};
}

// Regularised lower incomplete gamma function P(a, x).
double GammaP(double a, double x) {
  if (x <= 0) return 0;
  const double logPrefix = a * std::log(x) - x - std::lgamma(a);
  if (x < a + 1) {
    double term = 1.0 / a, sum = term;
    for (int n = 1; n < 100000; ++n) {
      term *= x / (a + n);
      sum += term;
      if (std::fabs(term) < std::fabs(sum) * 1e-16) break;
    }
    return sum * std::exp(logPrefix);
  }
  // Continued fraction for Q(a, x) (modified Lentz).
  const double tiny = 1e-300;
  double b = x + 1 - a, c = 1 / tiny, d = 1 / b, h = d;
  for (int i = 1; i < 100000; ++i) {
    const double an = -i * (i - a);
    b += 2;
    d = an * d + b;
    if (std::fabs(d) < tiny) d = tiny;
    c = b + an / c;
    if (std::fabs(c) < tiny) c = tiny;
    d = 1 / d;
    const double delta = d * c;
    h *= delta;
    if (std::fabs(delta - 1) < 1e-16) break;
  }
  return 1 - std::exp(logPrefix) * h;
}

// Sum over all lags n of max(0, terms - |n|) (c(n) / c(0))^2, where c is the
// autocorrelation of the kernel that turns white samples into one term:
//   c = -(u - 2 + 1/u)^p / (z - 2 + 1/z)^(p - 1),  u = z^m,
// p = 2 for the Allan kernel (m samples -1, m samples +1) and p = 3 for the modified one
// (that kernel averaged over m). The division is run as recurrences from the left, in
// exact integers, so one pass of length 2pm gives every c(n).
double KernelCorrelationSum(int p, int64_t m, int64_t terms) {
  __extension__ typedef __int128 Int;
  static constexpr int64_t kBinomial[2][7] = {{1, -4, 6, -4, 1, 0, 0},
                                              {1, -6, 15, -20, 15, -6, 1}};
  const int64_t* r = kBinomial[p - 2];
  const int stages = p - 1;
  Int current[2] = {0, 0}, previous[2] = {0, 0};
  long double sum = 0, c0 = 0;
  // At step n the stages hold their outputs at n; r(n) feeds the first stage.
  for (int64_t n = -p * m - 1; n < p * m; ++n) {
    Int input = 0;
    if (n % m == 0 && n >= -p * m && n <= p * m) input = -Int(r[(n / m) + p]);
    for (int s = 0; s < stages; ++s) {
      const Int next = input + 2 * current[s] - previous[s];
      previous[s] = current[s];
      current[s] = next;
      input = previous[s];  // this stage's output at n feeds the next stage
    }
    const int64_t lag = n + 1;
    const auto c = static_cast<long double>(current[stages - 1]);
    if (lag == 0) c0 = c;
    const int64_t weight = terms - (lag < 0 ? -lag : lag);
    if (weight > 0) sum += static_cast<long double>(weight) * c * c;
  }
  return static_cast<double>(sum / (c0 * c0));
}

// Sum of (terms - l) (alpha + beta l)^2 for l = a .. b, by power sums.
long double WeightedSquares(int64_t a, int64_t b, int64_t terms, long double alpha,
                            long double beta) {
  if (b < a) return 0;
  auto p1 = [](long double n) { return n * (n + 1) / 2; };
  auto p2 = [](long double n) { return n * (n + 1) * (2 * n + 1) / 6; };
  auto p3 = [&](long double n) { return p1(n) * p1(n); };
  const long double lo = static_cast<long double>(a) - 1, hi = static_cast<long double>(b);
  const long double s0 = hi - lo, s1 = p1(hi) - p1(lo), s2 = p2(hi) - p2(lo), s3 = p3(hi) - p3(lo);
  const auto k = static_cast<long double>(terms);
  return k * alpha * alpha * s0 + (2 * k * alpha * beta - alpha * alpha) * s1 +
         (k * beta * beta - 2 * alpha * beta) * s2 - beta * beta * s3;
}

// The same sum as KernelCorrelationSum for the Allan kernel, in closed form: its
// correlation is 2m - 3l up to l = m and l - 2m from m to 2m.
double AllanKernelCorrelationSum(int64_t m, int64_t terms) {
  const long double md = static_cast<long double>(m);
  const long double c0 = 2 * md;
  const long double sum = static_cast<long double>(terms) * c0 * c0 +
                          2 * (WeightedSquares(1, std::min(m, terms - 1), terms, 2 * md, -3) +
                               WeightedSquares(m + 1, std::min(2 * m - 1, terms - 1), terms,
                                               -2 * md, 1));
  return static_cast<double>(sum / (c0 * c0));
}

// The modified kernel for large m: its correlation is a fixed shape stretched by m, so the
// sums over one side, S0 = sum of (c(l)/c(0))^2 and S1 = sum of l (c(l)/c(0))^2, grow as m
// and m^2 (to within 1/m^2); they are taken once at kShapeFactor. With no lag beyond the
// terms the whole sum is terms (2 S0 - 1) - 2 S1.
constexpr int64_t kShapeFactor = 4096;

double ModifiedKernelCorrelationSum(int64_t m, int64_t terms) {
  if (m <= kShapeFactor || terms <= 3 * m) return KernelCorrelationSum(3, m, terms);
  // Two runs with different term counts (both beyond the kernel) give S0 and S1.
  static const std::pair<double, double> shape = [] {
    const int64_t k1 = 8 * kShapeFactor, k2 = 16 * kShapeFactor;
    const double a = KernelCorrelationSum(3, kShapeFactor, k1);
    const double b = KernelCorrelationSum(3, kShapeFactor, k2);
    // a = k1 (2 S0 - 1) - 2 S1, b = k2 (2 S0 - 1) - 2 S1.
    const double slope = (b - a) / static_cast<double>(k2 - k1);  // 2 S0 - 1
    const double s1 = (static_cast<double>(k1) * slope - a) / 2;
    return std::make_pair((slope + 1) / 2, s1);
  }();
  // S0 counts c(0) whole: the sum over l >= 0 is the integral plus half its first term.
  const double scale = static_cast<double>(m) / static_cast<double>(kShapeFactor);
  const double s0 = 0.5 + (shape.first - 0.5) * scale, s1 = shape.second * scale * scale;
  return static_cast<double>(terms) * (2 * s0 - 1) - 2 * s1;
}

}  // namespace

std::string_view AllanTypeText(AllanType type) {
  switch (type) {
    case AllanType::Overlapping: return "overlapping";
    case AllanType::Plain: return "plain";
    case AllanType::Modified: return "modified";
    case AllanType::Hadamard: return "Hadamard";
  }
  return "";
}

std::string_view DeviationName(AllanType type) {
  switch (type) {
    case AllanType::Overlapping: return "overlapping Allan deviation";
    case AllanType::Plain: return "plain Allan deviation";
    case AllanType::Modified: return "modified Allan deviation";
    case AllanType::Hadamard: return "overlapping Hadamard deviation";
  }
  return "";
}

int DifferenceOrder(AllanType type) { return type == AllanType::Hadamard ? 3 : 2; }

double DegreesOfFreedom(AllanType type, int alpha, int64_t m, int64_t samples) {
  return GreenhallEdf(alpha, DifferenceOrder(type), m, samples + 1, type != AllanType::Plain,
                      type == AllanType::Modified);
}

Interval ConfidenceInterval(double deviation, double edf) {
  if (!(edf > 0)) return {};
  return {deviation * std::sqrt(edf / ChiSquareQuantile(kUpperTail, edf)),
          deviation * std::sqrt(edf / ChiSquareQuantile(kLowerTail, edf))};
}

void RemoveLinearDrift(std::span<double> y) {
  if (y.size() < 2) return;
  const auto n = static_cast<double>(y.size());
  const double centre = (n - 1) / 2;
  double mean = 0;
  for (double v : y) mean += v;
  mean /= n;
  double sxy = 0, sxx = 0;
  for (size_t i = 0; i < y.size(); ++i) {
    const double dx = static_cast<double>(i) - centre;
    sxy += dx * (y[i] - mean);
    sxx += dx * dx;
  }
  const double slope = sxy / sxx;
  for (size_t i = 0; i < y.size(); ++i) y[i] -= slope * (static_cast<double>(i) - centre);
}

int64_t MaxAveragingFactor(int64_t samples, AllanType type) {
  if (samples < 2) return 0;
  if (type == AllanType::Modified) return (samples + 1) / 3;
  if (type == AllanType::Hadamard) return samples / 3;
  return samples / 2;
}

std::vector<int64_t> AveragingFactors(const TauGrid& grid, int64_t samples, double rate,
                                      AllanType type, std::vector<double>* outOfRange) {
  const int64_t top = MaxAveragingFactor(samples, type);
  std::vector<int64_t> factors;
  switch (grid.kind) {
    case TauGridKind::Octave:
      for (int64_t m = 1; m <= top; m *= 2) factors.push_back(m);
      break;
    case TauGridKind::Decade:
      for (int64_t decade = 1; decade <= top; decade *= 10)
        for (int64_t step : {1, 2, 5})
          if (decade * step <= top) factors.push_back(decade * step);
      break;
    case TauGridKind::All: {
      for (int64_t m = 1; m <= std::min(top, kAllFactorsUpTo); ++m) factors.push_back(m);
      // Beyond, a dense grid: kDenseFactorsPerDecade steps per decade, each a new factor.
      for (int k = 1;; ++k) {
        const double m = std::round(static_cast<double>(kAllFactorsUpTo) *
                                    std::pow(10.0, k / static_cast<double>(kDenseFactorsPerDecade)));
        if (m > static_cast<double>(top)) break;
        const auto factor = static_cast<int64_t>(m);
        if (factor > factors.back()) factors.push_back(factor);
      }
      break;
    }
    case TauGridKind::List:
      for (double tau : grid.taus) {
        const double m = std::round(tau * rate);
        if (!(m >= 1) || m > static_cast<double>(top)) {
          if (outOfRange) outOfRange->push_back(tau);
          continue;
        }
        factors.push_back(static_cast<int64_t>(m));
      }
      std::sort(factors.begin(), factors.end());
      factors.erase(std::unique(factors.begin(), factors.end()), factors.end());
      break;
  }
  return factors;
}

double WhiteNoiseEdf(AllanType type, int64_t m, int64_t terms) {
  const auto k = static_cast<double>(terms);
  if (terms <= 0) return 0;
  // Back-to-back terms overlap their neighbours only: c(m) = -c(0) / 2.
  if (type == AllanType::Plain) return 2 * k * k / (3 * k - 1);
  const double sum = type == AllanType::Modified ? ModifiedKernelCorrelationSum(m, terms)
                                                 : AllanKernelCorrelationSum(m, terms);
  return k * k / sum;
}

double ChiSquareQuantile(double p, double dof) {
  const double a = dof / 2;
  auto normalQuantile = [](double q) {
    // Acklam's rational approximation, refined by one Newton step on erfc.
    static constexpr double a1 = -3.969683028665376e+01, a2 = 2.209460984245205e+02,
                            a3 = -2.759285104469687e+02, a4 = 1.383577518672690e+02,
                            a5 = -3.066479806614716e+01, a6 = 2.506628277459239e+00;
    static constexpr double b1 = -5.447609879822406e+01, b2 = 1.615858368580409e+02,
                            b3 = -1.556989798598866e+02, b4 = 6.680131188771972e+01,
                            b5 = -1.328068155288572e+01;
    static constexpr double c1 = -7.784894002430293e-03, c2 = -3.223964580411365e-01,
                            c3 = -2.400758277161838e+00, c4 = -2.549732539343734e+00,
                            c5 = 4.374664141464968e+00, c6 = 2.938163982698783e+00;
    static constexpr double d1 = 7.784695709041462e-03, d2 = 3.224671290700398e-01,
                            d3 = 2.445134137142996e+00, d4 = 3.754408661907416e+00;
    double x;
    if (q < 0.02425) {
      const double t = std::sqrt(-2 * std::log(q));
      x = (((((c1 * t + c2) * t + c3) * t + c4) * t + c5) * t + c6) /
          ((((d1 * t + d2) * t + d3) * t + d4) * t + 1);
    } else if (q > 1 - 0.02425) {
      const double t = std::sqrt(-2 * std::log(1 - q));
      x = -(((((c1 * t + c2) * t + c3) * t + c4) * t + c5) * t + c6) /
          ((((d1 * t + d2) * t + d3) * t + d4) * t + 1);
    } else {
      const double t = q - 0.5, r = t * t;
      x = (((((a1 * r + a2) * r + a3) * r + a4) * r + a5) * r + a6) * t /
          (((((b1 * r + b2) * r + b3) * r + b4) * r + b5) * r + 1);
    }
    const double e = 0.5 * std::erfc(-x / std::sqrt(2.0)) - q;
    const double u = e * std::sqrt(2 * std::numbers::pi) * std::exp(x * x / 2);
    return x - u / (1 + x * u / 2);
  };
  // Wilson and Hilferty's cube-root normal approximation: the start, and the answer for
  // many degrees of freedom, where it is exact to far better than the intervals need.
  const double zq = normalQuantile(p);
  const double h = 2.0 / (9.0 * dof);
  double x = dof * std::pow(std::max(1 - h + zq * std::sqrt(h), 1e-3), 3);
  if (dof > 2000) return x;
  // Newton steps on P(dof/2, x/2) = p, kept inside a shrinking bracket.
  double lo = 0, hi = std::numeric_limits<double>::infinity();
  for (int i = 0; i < 100; ++i) {
    const double f = GammaP(a, x / 2) - p;
    if (f > 0) hi = std::min(hi, x);
    else lo = std::max(lo, x);
    const double density =
        std::exp((a - 1) * std::log(x / 2) - x / 2 - std::lgamma(a)) / 2;
    double next = density > 0 ? x - f / density : x;
    if (!(next > lo && next < hi)) next = std::isinf(hi) ? 2 * x + 1 : (lo + hi) / 2;
    if (std::fabs(next - x) <= 1e-14 * x) return next;
    x = next;
  }
  return x;
}

double DeviationWork(AllanType type, int64_t samples, const std::vector<int64_t>& factors) {
  double work = 0;
  for (int64_t m : factors) {
    // The modified sum slides a window (two passes); the plain one takes every m-th term.
    const double terms = static_cast<double>(std::max<int64_t>(0, samples - 2 * m));
    work += type == AllanType::Plain      ? terms / static_cast<double>(m)
            : type == AllanType::Modified ? 2 * terms
                                          : terms;
    work += static_cast<double>(samples) / static_cast<double>(m);  // the identification
  }
  return work;
}

std::vector<AllanPoint> AllanDeviation(std::span<const double> y, double rate, AllanType type,
                                       const TauGrid& grid, const std::atomic<bool>* cancel,
                                       const std::function<void(double)>& progress) {
  std::vector<AllanPoint> points;
  const auto samples = static_cast<int64_t>(y.size());
  if (samples < 2 || !(rate > 0)) return points;
  const std::vector<double> x = Phase(y);
  const std::vector<int64_t> factors = AveragingFactors(grid, samples, rate, type);
  const double total = progress ? DeviationWork(type, samples, factors) : 0;
  double done = 0;
  for (int64_t m : factors) {
    if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) break;
    Estimate e;
    switch (type) {
      case AllanType::Overlapping: e = Overlapping(x, m); break;
      case AllanType::Plain: e = Plain(x, m); break;
      case AllanType::Modified: e = Modified(x, m); break;
      case AllanType::Hadamard: e = Hadamard(x, m); break;
    }
    AllanPoint point;
    point.m = m;
    point.tau = static_cast<double>(m) / rate;
    point.deviation = std::sqrt(e.variance);
    point.terms = e.terms;
    point.noise = IdentifyNoise(x, m, DifferenceOrder(type),
                                points.empty() ? nullptr : &points.back().noise);
    point.edf = DegreesOfFreedom(type, point.noise.alpha, m, samples);
    const Interval interval = ConfidenceInterval(point.deviation, point.edf);
    point.low = interval.low;
    point.high = interval.high;
    points.push_back(point);
    if (progress) {
      done += DeviationWork(type, samples, {m});
      progress(total > 0 ? done / total : 1.0);
    }
  }
  return points;
}

}  // namespace pemra
