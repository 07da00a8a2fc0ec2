// The log viewer on a large log, with the viewer's own pieces (LoadLog, LogTimePlot, the
// statistics of the view) on a QCustomPlot of a 1366x768 screen's window, offscreen:
// - FirstView: from the file chosen to the first drawn view (read every value column,
//   sample rate, block summaries, the graphs of the gyro and accelerometer columns, replot);
// - Redraw/full and Redraw/zoomed: a pan of the whole log and of a view of 1% of it, each
//   with its points per pixel, the statistics of the rows in view and a replot;
// - peak memory (max RSS) after the read, and per value held.
// The log: PEMRA_LOGVIEW_FILE, or one of PEMRA_LOGVIEW_ROWS rows (default 1e6) that the
// program writes first into the temporary folder (and keeps): the eleven channels without
// new-data flags, as the logging engine writes them, at 819.2 samples per second.
// bench/logview_1e7.sh runs it on 1e7 rows (about 1.2 GB).

#include <QApplication>

#include <qcustomplot.h>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
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

void BM_FirstView(benchmark::State& state) {
  Viewer& v = TheViewer();
  const auto file = LogFile();  // written before the clock starts
  const double before = PeakMiB();
  for (auto _ : state) {
    auto log = std::make_shared<pemra::LoadedLog>();
    if (auto error = pemra::LoadLog({file}, {}, *log)) {
      state.SkipWithError(error->Text().c_str());
      return;
    }
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
  }
  const double values = static_cast<double>(v.log->Rows()) * static_cast<double>(v.log->series.values.size());
  state.counters["rows"] = static_cast<double>(v.log->Rows());
  state.counters["columns"] = static_cast<double>(v.log->series.values.size());
  state.counters["file_MiB"] = static_cast<double>(v.log->layout.totalBytes) / 1048576.0;
  state.counters["peak_MiB"] = PeakMiB();
  state.counters["bytes_per_value"] = (PeakMiB() - before) * 1048576.0 / values;
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

}  // namespace

int main(int argc, char** argv) {
  const int status = bench::RunQtBenchmarks(argc, argv, [] { TheViewer() = Viewer{}; });
  return status;
}
