// Cost of one strip-chart sample: band clear, cursor and three segments drawn into the
// off-screen image, at the chart's size at 100% and at 200% scaling; and the cost of a
// repaint of the whole chart from that image.

#include <QApplication>

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>

#include "gui/kit/StripChart.h"

#include "QtBenchmarkMain.h"

namespace {

void BM_ChartSample(benchmark::State& state) {
  pemra::StripChart chart;
  chart.resize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  chart.show();
  QCoreApplication::processEvents();
  double top = 350.0;
  double bottom = -350.0;
  const std::array<bool, 3> drawn = {true, true, true};
  int64_t n = 0;
  for (auto _ : state) {
    const double t = static_cast<double>(n++) * 0.01;
    chart.PlotSample({200.0 * std::sin(t), 100.0 * std::cos(t), 20.0}, drawn, top, bottom);
  }
  state.SetItemsProcessed(n);
  state.SetLabel(std::to_string(chart.Surface().width()) + "x" +
                 std::to_string(chart.Surface().height()) + " px");
}
BENCHMARK(BM_ChartSample)->Args({700, 200})->Args({1400, 400});

void BM_ChartRepaint(benchmark::State& state) {
  pemra::StripChart chart;
  chart.resize(700, 200);
  chart.show();
  QCoreApplication::processEvents();
  for (auto _ : state) {
    chart.repaint();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ChartRepaint);

}  // namespace

int main(int argc, char** argv) { return bench::RunQtBenchmarks(argc, argv); }
