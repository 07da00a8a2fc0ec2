// Reading a 10^7-row log of all eleven channels with new-data flags and the time column (the
// file `pemra-cli log --time` writes, 1.3 GB), once for the six gyro and accelerometer
// columns and once for the eleven value columns: MB/s of file read, and the peak resident
// memory of the process beside what the chosen columns take (10^7 doubles each).
// Run: ./build-bench/bench_log_reader   (writes and removes the file in the temp folder)

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "analysis/LogReader.h"
#include "core/DeviceModel.h"
#include "core/RegisterTable.h"
#include "datalog/LogFormat.h"

namespace {

using namespace pemra;

constexpr int64_t kRows = 10000000;

// VmRSS or VmHWM of this process in KiB.
long StatusKiB(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string word;
  while (status >> word) {
    if (word == key) {
      long kib = 0;
      status >> kib;
      return kib;
    }
  }
  return 0;
}

const std::filesystem::path& LogFile() {
  static const std::filesystem::path path = [] {
    const std::filesystem::path p = std::filesystem::temp_directory_path() /
                                    ("pemra-bench-reader-" + std::to_string(getpid())) / "BIG_1.csv";
    std::filesystem::create_directories(p.parent_path());
    RegisterTable table;
    InitRegisterTable(table);
    ApplyModelTable(kPrimaryModel, table);
    ChannelSet all{};
    all.fill(true);
    const LogTextFormat format = LogTextFormatFor('.');
    std::ofstream file(p, std::ios::binary);
    file << LogHeaderLines("BIG_1.csv", "12/07/26", "11:00:21", 39621.0f, 51828.0f, format)
         << LogTitleLine(all, true, true, table, kPrimaryModel, format);
    // Values of the sizes a scaled log carries, varying from row to row.
    const float values[kLogChannels] = {5.001826f, 1.17216f, -2.41758f, 0.65934f, 0.027742f,
                                        -0.020176f, 1.049152f, 24.8547f, 25.1453f, 24.7094f,
                                        0.0012210f};
    std::string row;
    for (int64_t i = 1; i <= kRows; ++i) {
      row.clear();
      AppendField(row, i, ',');
      AppendField(row, static_cast<float>(double(i) / 819.2), format);
      for (int k = 0; k < kLogChannels; ++k) {
        AppendField(row, int64_t{1}, ',');
        AppendField(row, values[k] + static_cast<float>(i % 97) * 0.07326f, format);
      }
      row += kLineEnd;
      file << row;
    }
    return p;
  }();
  return path;
}

void BM_ReadLog(benchmark::State& state, std::vector<std::string> names) {
  const std::filesystem::path& path = LogFile();
  LogLayout layout;
  std::vector<int> columns;
  if (InspectLog({path}, layout) || ChooseColumns(layout, names, columns)) {
    state.SkipWithError("the log could not be inspected");
    return;
  }
  const long before = StatusKiB("VmRSS:");
  long peakOver = 0;
  for (auto _ : state) {
    LogSeries series;
    if (auto error = ReadLog(layout, columns, {}, series)) {
      state.SkipWithError(error->Text().c_str());
      return;
    }
    peakOver = StatusKiB("VmHWM:") - before;
    benchmark::DoNotOptimize(series.values.data());
  }
  const double columnsMiB = double(columns.size()) * double(kRows) * 8.0 / 1048576.0;
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(layout.totalBytes));
  state.counters["file_MB"] = double(layout.totalBytes) / 1e6;
  state.counters["columns_MiB"] = columnsMiB;
  state.counters["peak_over_start_MiB"] = double(peakOver) / 1024.0;
}
BENCHMARK_CAPTURE(BM_ReadLog, six_columns, std::vector<std::string>{})
    ->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(BM_ReadLog, eleven_columns,
                  std::vector<std::string>{"Power V", "X Gyro", "Y Gyro", "Z Gyro", "X acc", "Y acc",
                                           "Z acc", "X Temp", "YTEMP_OUT", "ZTEMP_OUT", "Aux_ADC"})
    ->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ignored;
  std::filesystem::remove_all(LogFile().parent_path(), ignored);
  return 0;
}
