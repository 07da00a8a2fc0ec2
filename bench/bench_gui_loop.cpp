// Samples per second of the main window's live readout at loop delay 0 on the simulated
// rig (USB adapter, model 21420), with the simulator's timing model off and on. The loop is
// the real one: eleven reads, event processing, both charts, the status read, the delay.

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>

#include "core/Clock.h"
#include "core/Message.h"
#include "gui/kit/Application.h"
#include "gui/main/frmForm1.h"
#include "interfaces/Session.h"
#include "sim/Rig.h"

#include "QtBenchmarkMain.h"

namespace {

void BM_LiveLoop(benchmark::State& state) {
  const bool timingModel = state.range(0) != 0;
  pemra::RealClock clock;
  pemra::RecordingMessageSink messages;
  pemra::sim::RigOptions options;
  options.timingModel = timingModel;
  pemra::sim::Rig rig(clock, options);
  pemra::Session session(clock, messages, rig.Port(), rig.Usb());
  pemra::AppOptions appOptions;
  appOptions.configPath = "/dev/null";
  pemra::Application app(session, appOptions);
  pemra::frmForm1 form(app);
  form.show();
  session.selection.InterfaceType = 2;
  session.selection.DeviceType = 21420;
  form.Load();
  form.txtLoopDelay->setText(QStringLiteral("0"));

  constexpr int kSamplesPerRun = 200;
  int taken = 0;
  QObject::connect(&form, &pemra::frmForm1::SampleTaken, [&] {
    if (++taken % kSamplesPerRun == 0) form.cmdReadData->setText(QStringLiteral("Read"));
  });
  const uint64_t transfersBefore = rig.SimUsb().TransferCount();
  for (auto _ : state) {
    form.cmdReadData->click();  // starts the loop; returns when it has stopped
  }
  state.SetItemsProcessed(taken);
  // Bulk transfers per sample: two per register read (eleven outputs and the status).
  state.counters["transfers/sample"] =
      static_cast<double>(rig.SimUsb().TransferCount() - transfersBefore) / std::max(taken, 1);
  state.counters["samples/s"] = benchmark::Counter(taken, benchmark::Counter::kIsRate);
  state.SetLabel(timingModel ? "timing model on" : "timing model off");
  if (!messages.messages.empty()) state.SkipWithError(messages.messages.front().text.c_str());
  form.hide();
}
BENCHMARK(BM_LiveLoop)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return bench::RunQtBenchmarks(argc, argv); }
