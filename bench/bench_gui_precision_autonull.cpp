// CPU used by the calibration window's precision auto-null: the 33-second countdown on the
// real clock, against the simulated sensor over the USB adapter. The window repaints
// during the countdown, so the cost is the waits' own plus that of the repaints.
// Reported: wall seconds and the process's CPU seconds (user + system) per run.

#include <QLabel>
#include <QPushButton>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include "core/Clock.h"
#include "core/Message.h"
#include "gui/kit/Application.h"
#include "gui/main/frmForm1.h"
#include "gui/windows/fmCalibration.h"
#include "interfaces/Session.h"
#include "sim/Rig.h"

#include "QtBenchmarkMain.h"

namespace {

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_PrecisionAutoNull(benchmark::State& state) {
  pemra::RealClock clock;
  pemra::RecordingMessageSink messages;
  pemra::sim::Rig rig(clock);
  pemra::Session session(clock, messages, rig.Port(), rig.Usb());
  pemra::AppOptions appOptions;
  appOptions.configPath = "/dev/null";
  pemra::Application app(session, appOptions);
  pemra::frmForm1 form(app);
  form.show();
  session.selection.InterfaceType = 2;
  session.selection.DeviceType = 21420;
  form.Load();
  pemra::fmCalibration window(app, &form);
  window.show();

  double cpu = 0.0;
  for (auto _ : state) {
    const double before = ProcessCpuSeconds();
    window.cmdPreciAutoNull->click();  // returns when the countdown has ended
    cpu += ProcessCpuSeconds() - before;
  }
  state.counters["cpu_s/run"] = cpu / static_cast<double>(state.iterations());
  if (!messages.messages.empty()) state.SkipWithError(messages.messages.front().text.c_str());
  window.hide();
  form.hide();
}
BENCHMARK(BM_PrecisionAutoNull)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return bench::RunQtBenchmarks(argc, argv); }
