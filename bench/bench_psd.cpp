// The noise spectrum of 10^7 samples of one column: Welch's estimate in segments of 2^14
// with 50% overlap (1219 transforms) and its summary (flat band, peaks), as `pemra-cli psd`
// computes them per column.
// Run: ./build-bench/bench_psd

#include <benchmark/benchmark.h>

#include <vector>

#include "analysis/Psd.h"
#include "support/WhiteSamples.h"

namespace {

using namespace pemra;

using bench::Samples;

void BM_WelchSpectrum(benchmark::State& state) {
  const std::vector<double>& y = Samples();
  for (auto _ : state) {
    const Spectrum spectrum = WelchSpectrum(y, 819.2, DefaultPsdSegment(int64_t(y.size())));
    benchmark::DoNotOptimize(spectrum.density.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(y.size()));
}
BENCHMARK(BM_WelchSpectrum)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

void BM_WelchSpectrumAndSummary(benchmark::State& state) {
  const std::vector<double>& y = Samples();
  for (auto _ : state) {
    const SpectrumSummary summary =
        SummariseSpectrum(WelchSpectrum(y, 819.2, DefaultPsdSegment(int64_t(y.size()))));
    benchmark::DoNotOptimize(summary.flat.density);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(y.size()));
}
BENCHMARK(BM_WelchSpectrumAndSummary)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
