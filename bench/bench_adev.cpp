// Overlapping Allan deviation of 10^7 samples of one column on the octave grid (23 points,
// with their terms and intervals), and the same formula in NumPy on the same data in the same
// run (bench/adev_numpy.py, when python3 and NumPy are there), as a ratio of CPU times.
// Run: ./build-bench/bench_adev

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "analysis/AllanDeviation.h"
#include "support/WhiteSamples.h"

namespace {

using namespace pemra;

using bench::Samples;

void BM_OverlappingAdevOctave(benchmark::State& state) {
  const std::vector<double>& y = Samples();
  for (auto _ : state) {
    auto points = AllanDeviation(y, 819.2, AllanType::Overlapping, {});
    benchmark::DoNotOptimize(points.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(y.size()));
}
BENCHMARK(BM_OverlappingAdevOctave)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

double CpuSeconds() { return double(std::clock()) / CLOCKS_PER_SEC; }

// The NumPy script beside this program's source, found from the program's place
// (build-bench/ at the top of the tree).
std::filesystem::path Script() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return exe.parent_path().parent_path() / "bench" / "adev_numpy.py";
}

void CompareWithNumpy() {
  const std::vector<double>& y = Samples();
  const std::filesystem::path data = std::filesystem::temp_directory_path() /
                                     ("pemra-adev-" + std::to_string(getpid()) + ".f64");
  {
    std::ofstream file(data, std::ios::binary);
    file.write(reinterpret_cast<const char*>(y.data()), std::streamsize(y.size() * sizeof(double)));
  }
  double best = 1e9;
  std::vector<AllanPoint> points;
  for (int i = 0; i < 3; ++i) {
    const double start = CpuSeconds();
    points = AllanDeviation(y, 819.2, AllanType::Overlapping, {});
    best = std::min(best, CpuSeconds() - start);
  }
  // The system's Python, where Debian's NumPy is, before any other in the path.
  const std::string python = std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
  const std::string command =
      python + " '" + Script().string() + "' '" + data.string() + "' 819.2 2>&1";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  std::string output;
  char line[512];
  while (pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr) output += line;
  const int status = pipe != nullptr ? ::pclose(pipe) : -1;
  std::filesystem::remove(data);
  std::printf("\nOverlapping ADEV, octave grid, 1e7 samples: this library %.3f s CPU (best of 3)\n", best);
  double numpySeconds = 0, numpyLast = 0;
  if (status == 0 && std::sscanf(output.c_str(), "numpy_cpu_s %lf last_deviation %lf", &numpySeconds,
                                 &numpyLast) == 2) {
    std::printf("NumPy, the same formula and data:          %.3f s CPU (best of 3)\n", numpySeconds);
    std::printf("ratio NumPy / library: %.2f; last point %.9g here, %.9g there\n",
                numpySeconds / best, points.back().deviation, numpyLast);
  } else {
    std::printf("NumPy comparison skipped: %s", output.empty() ? "python3 did not run\n" : output.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  CompareWithNumpy();
  return 0;
}
