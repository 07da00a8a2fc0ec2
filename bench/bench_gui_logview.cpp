// The log viewer on a large log, with the viewer's own pieces (LoadLog, LogTimePlot, the
// statistics of the view) on a QCustomPlot of a 1366x768 screen's window, offscreen:
// - FirstView: from the file chosen to the first drawn view (read every value column,
//   sample rate, block summaries, the graphs of the gyro and accelerometer columns, replot);
// - Redraw/full and Redraw/zoomed: a pan of the whole log and of a view of 1% of it, each
//   with its points per pixel, the statistics of the rows in view and a replot;
// - peak memory (max RSS) after the read, and per value held; the CPU time of all threads;
// - CloseAndReopen: the resident memory once the log is closed (as the viewer closes it) and
//   the peak of opening it again.
// The log: PEMRA_LOGVIEW_FILE, or one of PEMRA_LOGVIEW_ROWS rows (default 1e6) that the
// program writes first into the temporary folder (and keeps): the eleven channels without
// new-data flags, as the logging engine writes them, at 819.2 samples per second.
// bench/logview_1e7.sh runs it on 1e7 rows (about 1.2 GB).

#include <QApplication>

#include <qcustomplot.h>

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "analysis/LogView.h"
#include "gui/kit/LogPlots.h"

#include "QtBenchmarkMain.h"

namespace {

struct Viewer {
  std::shared_ptr<const pemra::LoadedLog> log;
  std::unique_ptr<QCustomPlot> plot;
  std::unique_ptr<pemra::LogTimePlot> timePlot;
};

Viewer& TheViewer() {
  static Viewer viewer;
  return viewer;
}

double PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Each channel a level plus noise, seven significant digits, in the program's log format.
bool WriteLog(const std::filesystem::path& path, int64_t rows) {
  const auto part = path.string() + ".part";
  std::FILE* file = std::fopen(part.c_str(), "wb");
  if (file == nullptr) return false;
  const double rate = 819.2;
  std::fprintf(file, "File Name,%s\r\nDate,12/07/26\r\nTime,11:00:21\r\nBegin Seconds,0\r\n"
               "End Seconds,%.7g\r\n \r\n", path.filename().c_str(), static_cast<double>(rows) / rate);
  std::fputs("Sample #,Power V,X Gryo,Y Gyro,Z Gyro,X acc,Y acc,Z acc,X Temp,YTEMP_OUT,ZTEMP_OUT,"
             "Aux_ADC,\r\n", file);
  const double level[11] = {5, 0.1, -0.2, 0.05, 0.001, -0.002, 1, 25, 25.5, 24.8, 1.2};
  const double spread[11] = {0.002, 0.3, 0.3, 0.3, 0.003, 0.003, 0.003, 0.1, 0.1, 0.1, 0.001};
  std::mt19937_64 random(1);
  std::normal_distribution<double> noise;
  std::string line;
  char number[32];
  for (int64_t r = 1; r <= rows; ++r) {
    line = std::to_string(r);
    line += ',';
    for (int c = 0; c < 11; ++c) {
      const double value = level[c] + spread[c] * noise(random);
      const auto end = std::to_chars(number, number + sizeof number,
                                     static_cast<double>(static_cast<float>(value)),
                                     std::chars_format::general, 7).ptr;
      line.append(number, end);
      line += ',';
    }
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), file);
  }
  const bool ok = std::fclose(file) == 0;
  std::error_code ec;
  if (ok) std::filesystem::rename(part, path, ec);
  return ok && !ec;
}

std::filesystem::path LogFile() {
  if (const char* file = std::getenv("PEMRA_LOGVIEW_FILE")) return file;
  const char* rowsText = std::getenv("PEMRA_LOGVIEW_ROWS");
  const int64_t rows = rowsText ? std::atoll(rowsText) : 1000000;
  const auto path = std::filesystem::temp_directory_path() /
                    ("pemra-logview-" + std::to_string(rows) + "_1.csv");
  if (!std::filesystem::exists(path) && !WriteLog(path, rows)) return {};
  return path;
}

// VmRSS or VmHWM of this process in MiB.
double StatusMiB(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string word;
  while (status >> word)
    if (word == key) {
      double kib = 0;
      status >> kib;
      return kib / 1024.0;
    }
  return 0;
}

// CPU seconds of the whole process, every thread.
double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// What the viewer does from the file chosen to the first drawn view; an error text.
std::string OpenView(Viewer& v, const std::filesystem::path& file) {
  auto log = std::make_shared<pemra::LoadedLog>();
  if (auto error = pemra::LoadLog({file}, {}, *log)) return error->Text();
  v.log = log;
  v.plot = std::make_unique<QCustomPlot>();
  v.plot->resize(1100, 560);
  v.plot->show();
  v.timePlot = std::make_unique<pemra::LogTimePlot>(*v.plot);
  v.timePlot->SetLog(v.log);
  std::vector<size_t> shown;
  for (size_t slot = 0; slot < log->series.columns.size(); ++slot) {
    const auto kind = log->Column(slot).kind;
    if (kind == pemra::ColumnKind::Gyro || kind == pemra::ColumnKind::Accel) shown.push_back(slot);
  }
  v.timePlot->Show(shown);
  v.timePlot->ResetView();
  v.plot->replot(QCustomPlot::rpImmediateRefresh);
  return {};
}

// What closing the viewer does: the log and its plot go, and the heap's free memory goes
// back to the system.
void CloseView(Viewer& v) {
  v.timePlot.reset();
  v.plot.reset();
  v.log.reset();
  malloc_trim(0);
}

void BM_FirstView(benchmark::State& state) {
  Viewer& v = TheViewer();
  const auto file = LogFile();  // written before the clock starts
  const double before = PeakMiB();
  const double cpuBefore = ProcessCpuSeconds();
  for (auto _ : state) {
    if (const std::string error = OpenView(v, file); !error.empty()) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  const double values = static_cast<double>(v.log->Rows()) * static_cast<double>(v.log->series.values.size());
  state.counters["rows"] = static_cast<double>(v.log->Rows());
  state.counters["columns"] = static_cast<double>(v.log->series.values.size());
  state.counters["file_MiB"] = static_cast<double>(v.log->layout.totalBytes) / 1048576.0;
  state.counters["peak_MiB"] = PeakMiB();
  state.counters["bytes_per_value"] = (PeakMiB() - before) * 1048576.0 / values;
  state.counters["process_cpu_s"] = ProcessCpuSeconds() - cpuBefore;
}
BENCHMARK(BM_FirstView)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A pan by a pixel's worth, the statistics of the view and a replot, as a drag step does.
void Redraw(benchmark::State& state, double fraction) {
  Viewer& v = TheViewer();
  if (!v.log) {
    state.SkipWithError("no log read");
    return;
  }
  const double end = v.log->RowTime(v.log->Rows() - 1);
  const double width = end * fraction;
  const double start = (end - width) / 2;
  const double step = width / 1000;
  int64_t n = 0;
  for (auto _ : state) {
    const double lower = start + step * static_cast<double>(n++ % 100);
    v.plot->xAxis->setRange(lower, lower + width);
    const pemra::RowRange rows = v.timePlot->VisibleRows();
    for (size_t slot : v.timePlot->Shown())
      benchmark::DoNotOptimize(v.log->summaries[slot].Statistics(v.log->series.values[slot], rows));
    v.plot->replot(QCustomPlot::rpImmediateRefresh);
  }
  state.counters["rows_in_view"] = static_cast<double>(v.timePlot->VisibleRows().count);
}
void BM_RedrawFull(benchmark::State& state) { Redraw(state, 1.0); }
void BM_RedrawZoomed(benchmark::State& state) { Redraw(state, 0.01); }
BENCHMARK(BM_RedrawFull)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RedrawZoomed)->Unit(benchmark::kMillisecond)->UseRealTime();

// The viewer closed (its memory given back) and the log opened again: the resident memory
// after the close, and the peak of the second opening (the peak is reset after the close).
void BM_CloseAndReopen(benchmark::State& state) {
  Viewer& v = TheViewer();
  if (!v.log) {
    state.SkipWithError("no log read");
    return;
  }
  const double firstPeak = StatusMiB("VmHWM:");
  const auto file = LogFile();
  double afterClose = 0;
  for (auto _ : state) {
    CloseView(v);
    afterClose = StatusMiB("VmRSS:");
    std::ofstream("/proc/self/clear_refs") << "5";  // VmHWM from here on
    if (const std::string error = OpenView(v, file); !error.empty()) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  state.counters["first_peak_MiB"] = firstPeak;
  state.counters["rss_after_close_MiB"] = afterClose;
  state.counters["second_peak_MiB"] = StatusMiB("VmHWM:");
}
BENCHMARK(BM_CloseAndReopen)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  const int status = bench::RunQtBenchmarks(argc, argv, [] { TheViewer() = Viewer{}; });
  return status;
}
