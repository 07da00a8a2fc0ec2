#pragma once
// The main of a benchmark program that needs a QApplication (widgets, offscreen by default).

#include <QApplication>

#include <benchmark/benchmark.h>

#include <functional>

namespace bench {

// `cleanUp` runs while the application object still exists (for widgets the benchmarks keep).
inline int RunQtBenchmarks(int argc, char** argv, const std::function<void()>& cleanUp = {}) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (cleanUp) cleanUp();
  return 0;
}

}  // namespace bench
