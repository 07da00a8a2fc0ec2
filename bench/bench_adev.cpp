// Allan deviation of 10^7 samples of one column on the octave grid (23 points, each with its
// terms, the noise identified there and the interval from Greenhall's degrees of freedom) for
// every type, and the same deviation formula in NumPy on the same data in the same run
// (bench/adev_numpy.py, when python3 and NumPy are there), as a ratio of CPU times. Then the
// whole job on a 10^7-row log file: `pemra-cli adev` against pandas + NumPy reading the same
// file (bench/adev_pandas.py), as CPU times of the two processes.
// Run: ./build-bench/bench_adev

#include <benchmark/benchmark.h>
#include <sys/resource.h>
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

void BM_AdevOctaveByType(benchmark::State& state) {
  const std::vector<double>& y = Samples();
  const auto type = static_cast<AllanType>(state.range(0));
  for (auto _ : state) {
    auto points = AllanDeviation(y, 819.2, type, {});
    benchmark::DoNotOptimize(points.data());
  }
  state.SetLabel(std::string(DeviationName(type)));
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(y.size()));
}
BENCHMARK(BM_AdevOctaveByType)->DenseRange(1, 3)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

double CpuSeconds() { return double(std::clock()) / CLOCKS_PER_SEC; }

// The NumPy script beside this program's source, found from the program's place
// (build-bench/ at the top of the tree).
std::filesystem::path Script(const char* name = "adev_numpy.py") {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return exe.parent_path().parent_path() / "bench" / name;
}

// CPU seconds (user + system) of the children waited for so far.
double ChildCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs `command`; its output, and its CPU seconds through `cpu`.
std::string RunTimed(const std::string& command, double& cpu, int& status) {
  const double before = ChildCpuSeconds();
  std::FILE* pipe = ::popen(command.c_str(), "r");
  std::string output;
  char line[512];
  while (pipe != nullptr && std::fgets(line, sizeof line, pipe) != nullptr) output += line;
  status = pipe != nullptr ? ::pclose(pipe) : -1;
  cpu = ChildCpuSeconds() - before;
  return output;
}

// The whole job: a 10^7-row log of one gyro column at 819.2 samples per second, analysed by
// pemra-cli (this build's, else the default build's) and by pandas + NumPy.
void CompareWholeJob() {
  const std::vector<double>& y = Samples();
  const std::filesystem::path log = std::filesystem::temp_directory_path() /
                                    ("pemra-adev-" + std::to_string(getpid()) + "_1.csv");
  {
    std::ofstream file(log, std::ios::binary);
    file << "Sample #,X Gryo,\r\n";
    char row[64];
    for (size_t i = 0; i < y.size(); ++i) {
      const int n = std::snprintf(row, sizeof row, "%zu,%.6f,\r\n", i + 1, y[i]);
      file.write(row, n);
    }
  }
  const auto top = Script().parent_path().parent_path();
  std::filesystem::path cli = top / "build-bench" / "pemra-cli";
  if (!std::filesystem::exists(cli)) cli = top / "build" / "pemra-cli";
  double cliCpu = 0, pandasCpu = 0;
  int cliStatus = 0, pandasStatus = 0;
  RunTimed("'" + cli.string() + "' adev '" + log.string() + "' --rate 819.2 --csv 2>/dev/null",
           cliCpu, cliStatus);
  const std::string python = std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
  const std::string output = RunTimed(python + " '" + Script("adev_pandas.py").string() + "' '" +
                                          log.string() + "' 'X Gryo' 2>&1",
                                      pandasCpu, pandasStatus);
  std::filesystem::remove(log);
  std::printf("\nWhole adev job, a 10^7-row log (%s): pemra-cli %.2f s CPU%s\n", log.filename().c_str(),
              cliCpu, cliStatus == 0 ? "" : " (failed)");
  if (pandasStatus == 0 && output.starts_with("pandas_cpu_s"))
    std::printf("pandas + NumPy, the same file:                  %.2f s CPU; ratio %.2f\n", pandasCpu,
                pandasCpu / cliCpu);
  else
    std::printf("pandas comparison skipped: %s", output.c_str());
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
  CompareWholeJob();
  return 0;
}
