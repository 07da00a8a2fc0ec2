// A logging run on the simulated rig: all eleven channels with flags, scaled values and the
// time column, rows spooled to a file in /tmp. With the timing model off the figure is the
// library's and the file's cost per sample; with it on, each adapter transfer also costs its
// hardware time on the (virtual) test clock, and "virtual samples/s" is the rate the
// interface allows. Run: ./build/bench_datalog

#include <benchmark/benchmark.h>

#include <filesystem>

#include "core/DeviceModel.h"
#include "datalog/DatalogRun.h"
#include "interfaces/Session.h"
#include "sim/Rig.h"

namespace {

using namespace pemra;

class BenchFrontEnd final : public LogFrontEnd {
 public:
  explicit BenchFrontEnd(TestClock& clock) : clock_(clock) {}
  const LogSettings& Settings() override { return settings; }
  void FileStarted(int64_t) override {}
  bool SampleTaken(const LogProgress&) override {
    clock_.ClearWaits();  // the test clock keeps a record of its waits
    return true;
  }
  LogSettings settings;

 private:
  TestClock& clock_;
};

void BM_LogRun(benchmark::State& state) {
  const bool timingModel = state.range(0) != 0;
  const int64_t samples = state.range(1);
  TestClock clock;
  sim::RigOptions options;
  options.timingModel = timingModel;
  sim::Rig rig(clock, options);
  rig.SimUsb().SetRecordLimit(0);
  RecordingMessageSink messages;
  Session session(clock, messages, rig.Port(), rig.Usb());
  session.selection.InterfaceType = 2;
  session.adapters.FindAdapters();
  ChartRanges ranges;
  SetDevice(21420, session.selection, session.access, ranges, messages);
  ClockTimeOfDay day(clock, 36000.0, "12/7/2026", "10:00:00");
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "pemra-bench-log";
  std::filesystem::create_directories(dir);

  BenchFrontEnd frontEnd(clock);
  frontEnd.settings.samplesPerFile = static_cast<double>(samples);
  frontEnd.settings.time = true;
  frontEnd.settings.channels.fill(true);
  const DatalogContext context{session.access, clock, day, messages, dir, '.',
                               [&session] { return InterfaceUsable(session); }, nullptr, ""};
  const Nanoseconds virtualStart = clock.Now();
  for (auto _ : state) {
    const LogResult result = RunDatalog(context, frontEnd);
    if (result.end != LogEnd::Completed) state.SkipWithError("the run did not complete");
  }
  const double virtualSeconds = std::chrono::duration<double>(clock.Now() - virtualStart).count();
  state.SetItemsProcessed(state.iterations() * samples);
  if (virtualSeconds > 0) {
    state.counters["virtual samples/s"] =
        static_cast<double>(state.iterations() * samples) / virtualSeconds;
  }
  state.SetLabel(timingModel ? "timing model on" : "timing model off");
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LogRun)->Args({0, 20000})->Args({1, 20000})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
