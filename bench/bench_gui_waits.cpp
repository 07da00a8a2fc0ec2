// How the main window's waits behave for a user, on the simulated rig (USB adapter, model
// 21420) with the real clock:
// - BM_Reaction: while the live readout runs at a loop delay of 0, 5 or 1000 ms, another
//   thread posts events to the window thread (as the window system does for a click) at
//   irregular times; the time from posting to the handler is the window's reaction time.
// - BM_LoopCpuShare: the share of a core the process uses while the loop runs at 5 ms.
// - BM_PowerDownWait: CPU seconds spent by a 10-second power-down wait.

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "core/Clock.h"
#include "core/Message.h"
#include "gui/kit/Application.h"
#include "gui/main/frmForm1.h"
#include "interfaces/Session.h"
#include "sim/Rig.h"

#include "QtBenchmarkMain.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The main window loaded on the simulated USB adapter, ready for "Read".
struct LoadedWindow {
  LoadedWindow()
      : rig(clock, {}), session(clock, messages, rig.Port(), rig.Usb()), app(session, Options()) {
    form = std::make_unique<pemra::frmForm1>(app);
    form->show();
    session.selection.InterfaceType = 2;
    session.selection.DeviceType = 21420;
    form->Load();
  }
  static pemra::AppOptions Options() {
    pemra::AppOptions o;
    o.configPath = "/dev/null";
    return o;
  }
  void Stop() { form->cmdReadData->setText(QStringLiteral("Read")); }

  pemra::RealClock clock;
  pemra::RecordingMessageSink messages;
  pemra::sim::Rig rig;
  pemra::Session session;
  pemra::Application app;
  std::unique_ptr<pemra::frmForm1> form;
};

// An event stamped with the time it was posted.
class StampedEvent final : public QEvent {
 public:
  static QEvent::Type Kind() {
    static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
    return kind;
  }
  StampedEvent() : QEvent(Kind()), posted(SteadyClock::now()) {}
  SteadyClock::time_point posted;
};

// Records, for each stamped event, how long it waited for the window thread.
class Receiver final : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() != StampedEvent::Kind()) return QObject::event(e);
    const auto* stamped = static_cast<StampedEvent*>(e);
    latencies.push_back(
        std::chrono::duration<double, std::milli>(SteadyClock::now() - stamped->posted).count());
    if (onEvent) onEvent();
    return true;
  }
  std::vector<double> latencies;
  std::function<void()> onEvent;
};

void BM_Reaction(benchmark::State& state) {
  const int loopDelay = static_cast<int>(state.range(0));
  LoadedWindow window;
  window.form->txtLoopDelay->setText(QString::number(loopDelay));
  const size_t wanted = loopDelay >= 1000 ? 12 : 60;

  Receiver receiver;
  receiver.onEvent = [&] {
    if (receiver.latencies.size() >= wanted) window.Stop();
  };
  for (auto _ : state) {
    std::atomic<bool> done{false};
    std::thread poster([&] {
      // Irregular gaps (17..71 ms) so posts fall at every phase of the loop.
      int step = 0;
      while (!done.load()) {
        QCoreApplication::postEvent(&receiver, new StampedEvent);
        std::this_thread::sleep_for(std::chrono::milliseconds(17 + (step++ * 37) % 55));
      }
    });
    window.form->cmdReadData->click();  // runs the loop until the receiver stops it
    done = true;
    poster.join();
    QCoreApplication::removePostedEvents(&receiver);
  }
  std::vector<double> sorted = receiver.latencies;
  std::sort(sorted.begin(), sorted.end());
  double sum = 0.0;
  for (double l : sorted) sum += l;
  state.counters["mean_ms"] = sorted.empty() ? 0.0 : sum / static_cast<double>(sorted.size());
  state.counters["p90_ms"] = sorted.empty() ? 0.0 : sorted[sorted.size() * 9 / 10];
  state.counters["max_ms"] = sorted.empty() ? 0.0 : sorted.back();
  if (!window.messages.messages.empty())
    state.SkipWithError(window.messages.messages.front().text.c_str());
}
BENCHMARK(BM_Reaction)
    ->Arg(0)
    ->Arg(5)
    ->Arg(1000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_LoopCpuShare(benchmark::State& state) {
  LoadedWindow window;
  window.form->txtLoopDelay->setText(QStringLiteral("5"));
  int samples = 0;
  QObject::connect(window.form.get(), &pemra::frmForm1::SampleTaken, [&] { ++samples; });
  double cpu = 0.0;
  double wall = 0.0;
  for (auto _ : state) {
    QTimer::singleShot(4000, window.form.get(), [&] { window.Stop(); });
    const double cpuBefore = ProcessCpuSeconds();
    const auto wallBefore = SteadyClock::now();
    window.form->cmdReadData->click();
    cpu += ProcessCpuSeconds() - cpuBefore;
    wall += std::chrono::duration<double>(SteadyClock::now() - wallBefore).count();
  }
  state.counters["cpu_share"] = cpu / std::max(wall, 1e-9);
  state.counters["samples/s"] = static_cast<double>(samples) / std::max(wall, 1e-9);
}
BENCHMARK(BM_LoopCpuShare)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PowerDownWait(benchmark::State& state) {
  LoadedWindow window;
  double cpu = 0.0;
  for (auto _ : state) {
    window.form->txtPowerDown->setText(QStringLiteral("10"));
    const double cpuBefore = ProcessCpuSeconds();
    window.form->cmdPowerDown->click();
    cpu += ProcessCpuSeconds() - cpuBefore;
  }
  state.counters["cpu_s"] = cpu / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PowerDownWait)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return bench::RunQtBenchmarks(argc, argv); }
