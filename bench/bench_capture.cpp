// Capture ratio of a log on the simulated rig with the timing model on: distinct sensor
// samples that reached the file / samples the sensor produced during the run, for the two
// roads of taking a sample:
//   road 0: one ReadRegister per output, as the datalog run does it (every loop is a row);
//   road 1: burst reads paced by the new-data flag (a row per new sample).
// link: 0 high-speed adapter, 1 full-speed adapter, 2 parallel port, 3 FT232H (MPSSE), 4 spidev. smpl_prd: 1 (819.2
// samples per second) or 0 (1638.4). clock_real: 1 runs on the monotonic clock for one
// second of real time, so the program's own CPU time counts against the sensor; 0 runs one
// second of virtual time on the test clock, where the hardware's cost alone sets the pace
// and cpu_us/sample is the program's (and the simulator's) CPU time per captured sample.
//
// The sensor runs its test pattern (each output holds its sample number), so a sample is
// recognised in the file by the supply channel's value; every row is written to a file.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "core/DeviceModel.h"
#include "core/Message.h"
#include "datalog/BurstCapture.h"
#include "interfaces/Session.h"
#include "sim/Rig.h"

namespace {

using namespace pemra;

enum Link : int64_t { kHighSpeed = 0, kFullSpeed = 1, kParallel = 2, kFtdi = 3, kSpidev = 4 };
constexpr auto kRunTime = std::chrono::seconds(1);

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Rows as text in a file; counts the distinct samples among them.
class RowFile {
 public:
  RowFile() : path_(std::filesystem::temp_directory_path() / "pemra-bench-capture.csv") {
    file_ = std::fopen(path_.c_str(), "w");
  }
  ~RowFile() {
    if (file_ != nullptr) std::fclose(file_);
    std::filesystem::remove(path_);
  }
  bool Ok() const { return file_ != nullptr; }
  void Write(int64_t number, std::span<const RegisterReading> readings) {
    std::fprintf(file_, "%lld,", static_cast<long long>(number));
    for (const RegisterReading& r : readings) {
      std::fprintf(file_, "%d,%.7g,", r.NewDataFlag > 0 ? 1 : 0, static_cast<double>(r.ScaledValue));
    }
    std::fputs("\r\n", file_);
    const int32_t sample = readings[0].RawValue & 0xFFF;  // supply: sample number mod 4096
    if (sample != lastSample_) ++distinct_;
    lastSample_ = sample;
    ++rows_;
  }
  int64_t Rows() const { return rows_; }
  int64_t Distinct() const { return distinct_; }

 private:
  std::filesystem::path path_;
  std::FILE* file_ = nullptr;
  int64_t rows_ = 0;
  int64_t distinct_ = 0;
  int32_t lastSample_ = -1;
};

void BM_Capture(benchmark::State& state) {
  const bool burst = state.range(0) != 0;
  const auto link = static_cast<Link>(state.range(1));
  const auto smplPrd = static_cast<uint16_t>(state.range(2));
  const bool realClock = state.range(3) != 0;

  std::unique_ptr<Clock> clock;
  if (realClock) {
    clock = std::make_unique<RealClock>();
  } else {
    clock = std::make_unique<TestClock>();
  }
  sim::RigOptions options;
  options.timingModel = true;
  options.testPattern = true;
  options.adapters[0].highSpeed = link != kFullSpeed;
  sim::Rig rig{*clock, options};
  rig.SimUsb().SetRecordLimit(0);
  RecordingMessageSink messages;
  rig.Ftdi().SetRecordLimit(0);
  Session session{*clock, messages, rig.Port(), rig.Usb(), nullptr, &rig.Ftdi(), &rig.Spidev()};
  session.selection.PortAddress = 0x378;
  session.selection.DeviceType = 21420;
  session.selection.InterfaceType = link == kParallel ? 1 : link == kFtdi ? 3 : link == kSpidev ? 4 : 2;
  if (link == kFtdi) {
    session.ftdi.Select("");
  } else if (link == kSpidev) {
    session.spidev.Select("");
  } else if (link == kParallel) {
    session.parallel.EnablePortAccess();
    session.parallel.ParallelPortInit();
  } else {
    session.adapters.FindAdapters();
    session.usbSpi.SetSpiBits(session.usbSpi.StaticBits);
    session.usbSpi.SetSpiDelay(session.usbSpi.UsbSpiDelay);
  }
  ChartRanges ranges;
  SetDevice(21420, session.selection, session.access, ranges, messages);
  rig.Sensor().PokeRegister(0x36, smplPrd);
  auto* testClock = dynamic_cast<TestClock*>(clock.get());

  std::vector<int16_t> channels;
  for (int16_t i = reg::SUPPLY_OUT; i <= reg::AUX_ADC; ++i) channels.push_back(i);
  std::vector<RegisterReading> row(channels.size());

  int64_t produced = 0;
  int64_t estimatedMissed = 0;
  double cpu = 0;
  RowFile file;
  if (!file.Ok()) {
    state.SkipWithError("cannot create the row file");
    return;
  }
  for (auto _ : state) {
    const int64_t firstSample = rig.Sensor().LatestSample();
    const double cpuStart = CpuSeconds();
    const Nanoseconds end = clock->Now() + kRunTime;
    if (burst) {
      BurstCapture capture(session.access, channels);
      capture.Start();
      const BurstSummary summary = RunBurstCapture(capture, 0, [&](const BurstRow& r) {
        file.Write(r.number, r.readings);
        if (testClock != nullptr) testClock->ClearWaits();
        return clock->Now() < end;
      });
      estimatedMissed = summary.missed;
    } else {
      for (int64_t number = 1; clock->Now() < end; ++number) {
        for (size_t i = 0; i < channels.size(); ++i) {
          RegisterAccess& a = session.access;
          a.ReadRegister(channels[i]);
          row[i] = RegisterReading{a.RawValue, a.ScaledValue, a.NewDataFlag};
        }
        file.Write(number, row);
        if (testClock != nullptr) testClock->ClearWaits();
      }
    }
    cpu = CpuSeconds() - cpuStart;
    produced = rig.Sensor().LatestSample() - firstSample;
  }
  const auto distinct = static_cast<double>(file.Distinct());
  state.counters["ratio"] = distinct / static_cast<double>(std::max<int64_t>(produced, 1));
  state.counters["produced"] = static_cast<double>(produced);
  state.counters["distinct"] = distinct;
  state.counters["rows"] = static_cast<double>(file.Rows());
  if (burst) state.counters["missed_est"] = static_cast<double>(estimatedMissed);
  state.counters["cpu_us/sample"] = cpu * 1e6 / std::max(distinct, 1.0);
  static constexpr std::array<const char*, 5> kLinks = {"HS", "FS", "parallel", "FT232H", "spidev"};
  state.SetLabel(std::string(burst ? "burst + pacing" : "one read per register") + ", " +
                 kLinks[static_cast<size_t>(link)] + (smplPrd == 0 ? " 1638.4" : " 819.2") +
                 (realClock ? ", real clock" : ", test clock"));
  if (!messages.messages.empty()) state.SkipWithError(messages.messages.front().text.c_str());
}

BENCHMARK(BM_Capture)
    ->ArgNames({"road", "link", "smpl_prd", "clock_real"})
    ->Args({0, kHighSpeed, 1, 1})
    ->Args({0, kHighSpeed, 0, 1})
    ->Args({0, kFullSpeed, 1, 1})
    ->Args({0, kParallel, 1, 1})
    ->Args({1, kHighSpeed, 1, 1})
    ->Args({1, kHighSpeed, 0, 1})
    ->Args({1, kFullSpeed, 1, 1})
    ->Args({1, kParallel, 1, 1})
    ->Args({0, kHighSpeed, 1, 0})
    ->Args({0, kHighSpeed, 0, 0})
    ->Args({0, kFullSpeed, 1, 0})
    ->Args({0, kParallel, 1, 0})
    ->Args({1, kHighSpeed, 1, 0})
    ->Args({1, kHighSpeed, 0, 0})
    ->Args({1, kFullSpeed, 1, 0})
    ->Args({1, kParallel, 1, 0})
    ->Args({0, kFtdi, 1, 0})
    ->Args({0, kFtdi, 0, 0})
    ->Args({0, kSpidev, 1, 0})
    ->Args({0, kSpidev, 0, 0})
    ->Args({1, kFtdi, 1, 0})
    ->Args({1, kFtdi, 0, 0})
    ->Args({1, kSpidev, 1, 0})
    ->Args({1, kSpidev, 0, 0})
    ->Args({1, kFtdi, 1, 1})
    ->Args({1, kFtdi, 0, 1})
    ->Args({1, kSpidev, 1, 1})
    ->Args({1, kSpidev, 0, 1})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
