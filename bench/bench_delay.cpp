// Accuracy and cost of Delay on the real clock: for each requested time, the mean, median
// and 99th-percentile overshoot of the measured wait, and the share of a core the waiting
// thread burns.

#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "core/Clock.h"
#include "core/Timing.h"

namespace {

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Argument: the requested time in hundredths of a millisecond (10 = 0.1 ms).
void BM_DelayError(benchmark::State& state) {
  const float milliseconds = static_cast<float>(state.range(0)) / 100.0f;
  pemra::RealClock clock;
  pemra::CalibrateDelay(clock);
  std::vector<double> errors;
  const double cpuBefore = ThreadCpuSeconds();
  const auto wallBefore = std::chrono::steady_clock::now();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    pemra::Delay(clock, milliseconds);
    const double took =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
            .count();
    errors.push_back(took - milliseconds * 1000.0);
  }
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
  std::sort(errors.begin(), errors.end());
  double sum = 0.0;
  for (double e : errors) sum += e;
  const auto at = [&](double q) {
    return errors.empty() ? 0.0 : errors[static_cast<size_t>(q * (errors.size() - 1))];
  };
  state.counters["err_mean_us"] = errors.empty() ? 0.0 : sum / static_cast<double>(errors.size());
  state.counters["err_p50_us"] = at(0.5);
  state.counters["err_p99_us"] = at(0.99);
  state.counters["cpu_share"] = (ThreadCpuSeconds() - cpuBefore) / std::max(wall, 1e-9);
}
BENCHMARK(BM_DelayError)
    ->Arg(10)
    ->Arg(100)
    ->Arg(500)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
