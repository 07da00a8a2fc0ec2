#pragma once
// The noise spectrum of a log's column: Welch's averaged periodogram (P. D. Welch, 1967).
// The series is cut into segments of `segment` samples that overlap by half (hop
// segment - segment / 2), so K = (samples - segment) / hop + 1 segments (10 samples, segment
// 4: hop 2, 4 segments); a trailing part shorter than a hop is left out. Each segment has its
// mean removed (a bias or the 1 g of gravity would otherwise leak into the lowest bins), is
// weighted by the periodic Hann window w[t] = 1/2 - 1/2 cos(2 pi t / segment), transformed
// (FFTW) and its squared magnitudes averaged. The one-sided power spectral density at
// f_k = k * rate / segment, k = 0 .. segment / 2, is
//   S_k = c_k * mean |X_k|^2 / (rate * sum w^2),  c_k = 1 at DC and at Nyquist, else 2,
// so that the sum of S_k * rate / segment is the (window-weighted) variance, and white noise
// of standard deviation s gives S = 2 s^2 / rate. It is reported as the amplitude density
// sqrt(S_k) in unit/sqrt(Hz).
//
// The summary reads two things off it:
// - the flat band: the bins 2 .. segment/2 - 1 (not DC, nor bin 1, which the removal of each
//   segment's mean lowers by a sixth, nor Nyquist) are grouped in octaves ([2, 4), [4, 8),
//   ... bins); each octave's level is the mean S of its bins that
//   are not peaks, with the standard error that the estimate's degrees of freedom give it
//   (the segments', by Welch's formula for overlapped segments, times the bins', less the
//   correlation of neighbouring bins under the Hann window). Octaves known to 10% take
//   part. The flat band is the longest run (in octaves; the higher one on a tie) of at least
//   three of them whose levels all lie within 2^(1/16) of the run's median level, widened by
//   three standard errors of each level: a slope of flicker noise (S halving each octave) is
//   not flat, the scatter of the estimate is. Its level is the mean S over the run's
//   non-peak bins, with a 68% chi-square interval of those degrees of freedom.
// - peaks: bins that are the largest within two bins either side (the Hann main lobe) and
//   whose S exceeds the local floor by more than the estimate's own scatter reaches once in
//   10^6 bins (less three standard errors of the floor itself), and at least fourfold (twice
//   in density). The local floor is the higher of the median S of bins 3 to 16 below and of
//   bins 3 to 16 above (each corrected for the median's bias under the chi-square law of the
//   estimate), so a slope rising towards DC is no peak; where a side holds fewer than 4
//   bins (next to DC and Nyquist) no peak is looked for.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pemra {

inline constexpr int64_t kDefaultPsdSegment = 16384;  // 2^14 samples
inline constexpr size_t kPsdPeaksShown = 5;

// The default segment for a series of `samples`: 2^14, or the whole series when shorter.
int64_t DefaultPsdSegment(int64_t samples);
// The hop between segment starts (half a segment, rounded down for the overlap).
int64_t PsdHop(int64_t segment);
// Segments of `segment` samples with 50% overlap in `samples`; 0 when the series is shorter
// than one segment or the segment is below 2.
int64_t PsdSegmentCount(int64_t samples, int64_t segment);

struct Spectrum {
  double samplesPerSecond = 0;
  int64_t segment = 0;
  int64_t segments = 0;         // averaged
  double binWidth = 0;          // Hz, rate / segment
  double dof = 0;               // equivalent degrees of freedom of one bin's estimate
  std::vector<double> frequency;  // Hz, k * binWidth, k = 0 .. segment / 2
  std::vector<double> density;    // one-sided sqrt(S), unit/sqrt(Hz)
};

// Welch's estimate of `y` sampled at `rate` per second. Empty (no bins) unless
// 2 <= segment <= y.size() and the rate is finite and above 0.
Spectrum WelchSpectrum(std::span<const double> y, double rate, int64_t segment);

struct FlatBand {
  bool determined = false;
  std::string reason;           // when not determined
  double frequencyLow = 0;      // Hz, the first and last bin of the band
  double frequencyHigh = 0;
  int64_t bins = 0;             // averaged (peaks left out)
  double density = 0;           // sqrt(mean S), unit/sqrt(Hz)
  double low = 0;               // its 68% interval
  double high = 0;
};

struct SpectrumPeak {
  double frequency = 0;  // Hz, of the bin
  double density = 0;    // sqrt(S) of the bin
  double floor = 0;      // sqrt of the local floor's S
};

struct SpectrumSummary {
  FlatBand flat;
  std::vector<SpectrumPeak> peaks;  // largest first, at most kPsdPeaksShown
};

SpectrumSummary SummariseSpectrum(const Spectrum& spectrum);

}  // namespace pemra
