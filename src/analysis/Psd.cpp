#include "analysis/Psd.h"

#include <fftw3.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <mutex>
#include <numbers>

#include "analysis/AllanDeviation.h"

namespace pemra {

namespace {

// One standard deviation either side of the median of a normal law.
constexpr double kLowerTail = 0.158655253931457;
constexpr double kUpperTail = 0.841344746068543;
// The local floor's bins reach this far either side; the Hann main lobe's half width in
// bins, left out of the floor; the fewest bins a side needs.
constexpr int64_t kFloorHalfWidth = 16;
constexpr int64_t kMainLobe = 2;
constexpr int64_t kMinSideBins = 4;
// Removing each segment's mean lowers bin 1 by a sixth for white noise (the Hann window's
// transform of a constant reaches into it: 3/8 - 1/16 of sum w^2 = 3N/8 is left), so floors
// and the flat band start at bin 2, which it leaves alone.
constexpr int64_t kFirstFlatBin = 2;
constexpr double kPeakFalseAlarm = 1e-6;
constexpr double kPeakMinRatio = 4.0;  // in S
// S below this share of the largest is rounding noise of the transform (a clean sine's
// empty bins), where no peak is looked for.
constexpr double kNumericalFloor = 1e-20;
// The flat band: at least three octaves, so that it is more than one step of a slope, each
// level known to 10% (one standard error of its logarithm).
constexpr size_t kFlatOctaves = 3;
constexpr double kOctavePrecision = 0.1;
// How far an octave's level may stray from the flat band's median before the noise of the
// estimate is allowed for: 2^(1/16), 4.4% in S, so that the first octave a sensor's filter
// bends down, or flicker noise lifts, stays out of the band.
const double kFlatTolerance = std::log(2.0) / 16;
// Neighbouring bins of the periodic Hann window correlate: |sum w^2 e^(-2 pi i j t / n)| /
// sum w^2 is 2/3 at j = 1 and 1/6 at j = 2, 0 beyond; the variance of a mean over many
// bins grows by 1 + 2 (4/9 + 1/36).
constexpr double kBinCorrelation = 1 + 2 * (4.0 / 9 + 1.0 / 36);

// The FFTW planner is not thread-safe (the GUI may analyse on a worker thread while another
// runs); executing a plan is.
std::mutex& PlannerMutex() {
  static std::mutex mutex;
  return mutex;
}

struct FftwFree {
  void operator()(void* p) const { fftw_free(p); }
};

double Median(std::vector<double>& values) {
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

}  // namespace

int64_t DefaultPsdSegment(int64_t samples) { return std::min(kDefaultPsdSegment, samples); }

int64_t PsdHop(int64_t segment) { return segment - segment / 2; }

int64_t PsdSegmentCount(int64_t samples, int64_t segment) {
  if (segment < 2 || samples < segment) return 0;
  return (samples - segment) / PsdHop(segment) + 1;
}

Spectrum WelchSpectrum(std::span<const double> y, double rate, int64_t segment) {
  Spectrum spectrum;
  const int64_t count = PsdSegmentCount(static_cast<int64_t>(y.size()), segment);
  if (count == 0 || segment > INT_MAX || !(rate > 0) || !std::isfinite(rate)) return spectrum;
  const auto n = static_cast<size_t>(segment);
  const size_t bins = n / 2 + 1;
  const auto hop = static_cast<size_t>(PsdHop(segment));
  spectrum.samplesPerSecond = rate;
  spectrum.segment = segment;
  spectrum.segments = count;
  spectrum.binWidth = rate / static_cast<double>(segment);

  std::vector<double> window(n);
  double sumSquares = 0;
  for (size_t t = 0; t < n; ++t) {
    window[t] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(t) /
                                      static_cast<double>(n));
    sumSquares += window[t] * window[t];
  }
  // Welch's degrees of freedom for overlapped segments: at 50% only neighbours overlap
  // (for the Hann window over half their length: a correlation of 1/6).
  double overlap = 0;
  for (size_t t = 0; t + hop < n; ++t) overlap += window[t] * window[t + hop];
  const double rho = overlap / sumSquares;
  const auto k = static_cast<double>(count);
  spectrum.dof = 2 * k / (1 + 2 * (1 - 1 / k) * rho * rho);

  // The data scaled to at most 1, so that squares of large values do not overflow.
  double scale = 0;
  for (double v : y) scale = std::max(scale, std::fabs(v));
  if (scale == 0) scale = 1;

  std::unique_ptr<double, FftwFree> in(static_cast<double*>(fftw_malloc(sizeof(double) * n)));
  std::unique_ptr<fftw_complex, FftwFree> out(
      static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * bins)));
  fftw_plan plan;
  {
    std::lock_guard lock(PlannerMutex());
    plan = fftw_plan_dft_r2c_1d(static_cast<int>(n), in.get(), out.get(), FFTW_ESTIMATE);
  }
  std::vector<double> power(bins, 0.0);
  for (int64_t s = 0; s < count; ++s) {
    const double* x = y.data() + static_cast<size_t>(s) * hop;
    double mean = 0;
    for (size_t t = 0; t < n; ++t) mean += x[t] / scale;
    mean /= static_cast<double>(n);
    double* buffer = in.get();
    for (size_t t = 0; t < n; ++t) buffer[t] = (x[t] / scale - mean) * window[t];
    fftw_execute(plan);
    const fftw_complex* X = out.get();
    for (size_t b = 0; b < bins; ++b) power[b] += X[b][0] * X[b][0] + X[b][1] * X[b][1];
  }
  {
    std::lock_guard lock(PlannerMutex());
    fftw_destroy_plan(plan);
  }

  spectrum.frequency.resize(bins);
  spectrum.density.resize(bins);
  const double rootRate = std::sqrt(rate);
  for (size_t b = 0; b < bins; ++b) {
    const double sides = (b == 0 || 2 * b == n) ? 1.0 : 2.0;
    spectrum.frequency[b] = static_cast<double>(b) * rate / static_cast<double>(segment);
    spectrum.density[b] = std::sqrt(sides * power[b] / (k * sumSquares)) * scale / rootRate;
  }
  return spectrum;
}

SpectrumSummary SummariseSpectrum(const Spectrum& spectrum) {
  SpectrumSummary summary;
  const auto size = static_cast<int64_t>(spectrum.density.size());
  // The bins between DC and Nyquist (an odd segment has no Nyquist bin).
  const int64_t top = spectrum.segment % 2 == 0 ? size - 2 : size - 1;
  if (top < 2 || spectrum.dof <= 0) {
    summary.flat.reason = "too few frequency bins (segment " + std::to_string(spectrum.segment) +
                          " samples)";
    return summary;
  }
  std::vector<double> s(static_cast<size_t>(size));
  for (int64_t b = 0; b < size; ++b)
    s[static_cast<size_t>(b)] = spectrum.density[static_cast<size_t>(b)] *
                                spectrum.density[static_cast<size_t>(b)];
  const double nu = spectrum.dof;
  const double medianBias = ChiSquareQuantile(0.5, nu) / nu;
  // The floor, a median of some 14 bins, is itself uncertain (by about 1.25 sqrt(2/nu) /
  // sqrt(14) relative, the median's efficiency): the threshold allows three times that.
  const double floorError = 1.2533 * std::sqrt(2 / nu) /
                            std::sqrt(static_cast<double>(kFloorHalfWidth - kMainLobe));
  const double threshold = std::max(
      kPeakMinRatio, ChiSquareQuantile(1 - kPeakFalseAlarm, nu) / nu * (1 + 3 * floorError));

  // Local floor and the bins clearly above it. The floor is the higher of the medians on
  // either side, beyond the main lobe, so that a slope (the rise of flicker noise or a
  // random walk towards DC) is no peak; near DC and Nyquist, where one side holds too few
  // bins, no floor is known and no peak looked for.
  std::vector<double> floor(static_cast<size_t>(size), 0.0);
  std::vector<bool> excluded(static_cast<size_t>(size), false);
  std::vector<double> side;
  const double largest = *std::max_element(s.begin() + 1, s.begin() + top + 1);
  const auto sideMedian = [&](int64_t from, int64_t to) {
    if (to - from + 1 < kMinSideBins) return -1.0;
    side.assign(s.begin() + from, s.begin() + to + 1);
    return Median(side);
  };
  for (int64_t b = 1; b <= top; ++b) {
    const double below =
        sideMedian(std::max(kFirstFlatBin, b - kFloorHalfWidth), b - kMainLobe - 1);
    const double above = sideMedian(b + kMainLobe + 1, std::min(top, b + kFloorHalfWidth));
    if (below < 0 || above < 0) continue;
    floor[static_cast<size_t>(b)] = std::max(below, above) / medianBias;
    if (s[static_cast<size_t>(b)] > threshold * floor[static_cast<size_t>(b)] &&
        s[static_cast<size_t>(b)] > kNumericalFloor * largest)
      excluded[static_cast<size_t>(b)] = true;
  }
  for (int64_t b = 1; b <= top; ++b) {
    const auto i = static_cast<size_t>(b);
    if (!excluded[i]) continue;
    bool highest = true;  // in its main lobe; the first of equals
    for (int64_t j = std::max<int64_t>(1, b - kMainLobe); j <= std::min(top, b + kMainLobe); ++j) {
      const auto o = static_cast<size_t>(j);
      if ((j < b && s[o] >= s[i]) || (j > b && s[o] > s[i])) highest = false;
    }
    if (!highest) continue;
    summary.peaks.push_back({spectrum.frequency[i], spectrum.density[i], std::sqrt(floor[i])});
    for (int64_t j = std::max<int64_t>(1, b - kMainLobe); j <= std::min(top, b + kMainLobe); ++j)
      excluded[static_cast<size_t>(j)] = true;
  }
  std::stable_sort(summary.peaks.begin(), summary.peaks.end(),
                   [](const SpectrumPeak& a, const SpectrumPeak& b) { return a.density > b.density; });
  if (summary.peaks.size() > kPsdPeaksShown) summary.peaks.resize(kPsdPeaksShown);

  // Octave levels over the bins left.
  struct Octave {
    int64_t first, last;
    double sum = 0;
    int64_t bins = 0;
    double Level() const { return sum / static_cast<double>(bins); }
    // Standard error of the level's logarithm.
    double Spread(double nu) const {
      return std::sqrt(2 / (nu * std::max(1.0, static_cast<double>(bins) / kBinCorrelation)));
    }
  };
  std::vector<Octave> octaves;
  for (int64_t first = kFirstFlatBin; first <= top; first *= 2) {
    Octave o{first, std::min(top, 2 * first - 1)};
    for (int64_t b = o.first; b <= o.last; ++b)
      if (!excluded[static_cast<size_t>(b)]) {
        o.sum += s[static_cast<size_t>(b)];
        ++o.bins;
      }
    octaves.push_back(o);
  }
  // Octaves whose level is known to better than kOctavePrecision take part; on a short or
  // little-averaged spectrum the lowest octaves hold too few bins to tell a slope from
  // scatter, and they come first, so the ones that take part form one stretch at the top.
  size_t firstKnown = octaves.size();
  while (firstKnown > 0 && octaves[firstKnown - 1].bins > 0 &&
         octaves[firstKnown - 1].Spread(nu) <= kOctavePrecision)
    --firstKnown;
  if (octaves.size() - firstKnown < kFlatOctaves) {
    summary.flat.reason = "too few samples for three octaves known to 10%";
    return summary;
  }
  const auto flatRun = [&](size_t a, size_t z) {
    std::vector<double> levels;
    for (size_t o = a; o <= z; ++o) levels.push_back(octaves[o].Level());
    const double reference = Median(levels);
    for (size_t o = a; o <= z; ++o) {
      const double level = octaves[o].Level();
      if (reference == 0 || level == 0) {
        if (reference != level) return false;
        continue;
      }
      if (std::fabs(std::log(level / reference)) > kFlatTolerance + 3 * octaves[o].Spread(nu))
        return false;
    }
    return true;
  };
  size_t bestFirst = 0, bestLast = 0;
  bool found = false;
  for (size_t a = firstKnown; a < octaves.size(); ++a)
    for (size_t z = a + kFlatOctaves - 1; z < octaves.size(); ++z)
      if (flatRun(a, z) && (!found || z - a >= bestLast - bestFirst)) {
        found = true;
        bestFirst = a;
        bestLast = z;
      }
  if (!found) {
    summary.flat.reason = "no flat stretch of three octaves";
    return summary;
  }
  FlatBand& flat = summary.flat;
  double sum = 0;
  for (size_t o = bestFirst; o <= bestLast; ++o) {
    sum += octaves[o].sum;
    flat.bins += octaves[o].bins;
  }
  const double level = sum / static_cast<double>(flat.bins);
  const double bandDof = nu * std::max(1.0, static_cast<double>(flat.bins) / kBinCorrelation);
  flat.determined = true;
  flat.frequencyLow = spectrum.frequency[static_cast<size_t>(octaves[bestFirst].first)];
  flat.frequencyHigh = spectrum.frequency[static_cast<size_t>(octaves[bestLast].last)];
  flat.density = std::sqrt(level);
  flat.low = std::sqrt(level * bandDof / ChiSquareQuantile(kUpperTail, bandDof));
  flat.high = std::sqrt(level * bandDof / ChiSquareQuantile(kLowerTail, bandDof));
  return summary;
}

}  // namespace pemra
