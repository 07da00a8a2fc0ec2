// Two benchmarks of capturing samples on the simulated rig with its timing model.
//
// BM_Capture: the capture ratio of a burst log on the real clock, the whole road of
// `pemra-cli log --burst` (capture thread, queue, writer, spooled file), each cell at least
// 10 s. ratio = distinct sensor samples in the file / samples the sensor produced from the
// file's first row to its last; cpu_us/sample = the process's CPU time (the capture thread,
// the writer and the simulator) per sample in the file. Arguments of a cell: link (the
// interface: 0 high-speed adapter, 1 full-speed adapter, 2 parallel port), smpl_prd (1: 819.2
// samples per second, 0: 1638.4), load (CPU-bound processes the benchmark starts beside the
// capture and stops after it: 0 or 2) and priority (1: the capture thread asks for real-time
// or a lower nice value; the label says what it got). --links=hs,fs,parallel,ftdi,spidev,
// ftdi-polled picks the interfaces (default hs); ftdi is the FT232H with its data-ready line
// wired (bursts paced by the line), ftdi-polled without it. torn = rows the capture counted
// torn.
//
// BM_Roads: one second of capture, on the caller's thread, by the two roads of taking a
// sample: road 0, one ReadRegister per output, as the datalog run does it (every loop is a
// row); road 1, burst reads paced by the new-data flag (a row per new sample). link as above,
// plus 3 FT232H (MPSSE) and 4 spidev;
// clock_real 1 runs on the monotonic clock, so the program's own CPU time counts against the
// sensor; 0 runs one second of virtual time on the test clock, where the hardware's cost alone
// sets the pace and cpu_us/sample is the program's (and the simulator's) CPU time per captured
// sample.
//
// The sensor runs its test pattern (each output holds its sample number), so a sample is
// recognised by the supply channel's value; every row is written to a file.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/Clock.h"
#include "core/DeviceModel.h"
#include "core/Message.h"
#include "datalog/BurstCapture.h"
#include "datalog/BurstSampleReader.h"
#include "datalog/DatalogRun.h"
#include "datalog/TimeOfDay.h"
#include "interfaces/Session.h"
#include "sim/Rig.h"

namespace {

using namespace pemra;

enum Link : int64_t {
  kHighSpeed = 0,
  kFullSpeed = 1,
  kParallel = 2,
  kFtdi = 3,
  kSpidev = 4,
  kFtdiPolled = 5,  // the FT232H without its data-ready line: bursts paced by the flag
};
constexpr std::array<const char*, 6> kLinkNames = {"hs",     "fs",    "parallel",
                                                   "ftdi",   "spidev", "ftdi-polled"};
constexpr auto kCellTime = std::chrono::seconds(10);
constexpr auto kRunTime = std::chrono::seconds(1);

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A session on the simulated rig with its timing model and test pattern, opened as the main
// window opens it on one link, the sensor at one SMPL_PRD.
struct RigSession {
  RigSession(Clock& clock, Link link, uint16_t smplPrd)
      : rig(clock, Options(link)),
        session{clock, messages, rig.Port(), rig.Usb(), nullptr, &rig.Ftdi(), &rig.Spidev()} {
    rig.SimUsb().SetRecordLimit(0);
    rig.Ftdi().SetRecordLimit(0);
    session.selection.PortAddress = 0x378;
    session.selection.DeviceType = 21420;
    session.selection.InterfaceType =
        link == kParallel ? 1 : link == kFtdi || link == kFtdiPolled ? 3 : link == kSpidev ? 4 : 2;
    if (link == kFtdi || link == kFtdiPolled) {
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
  }
  static sim::RigOptions Options(Link link) {
    sim::RigOptions options;
    options.timingModel = true;
    options.testPattern = true;
    options.noise = false;
    options.adapters[0].highSpeed = link != kFullSpeed;
    options.ftdiBoards[0].dataReadyWired = link != kFtdiPolled;
    return options;
  }

  sim::Rig rig;
  RecordingMessageSink messages;
  Session session;
};

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

void BM_Roads(benchmark::State& state) {
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
  RigSession sim(*clock, link, smplPrd);
  sim::Rig& rig = sim.rig;
  RecordingMessageSink& messages = sim.messages;
  Session& session = sim.session;
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

BENCHMARK(BM_Roads)
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


// CPU-bound processes (as `yes > /dev/null` would be) for the length of a cell.
class Competitors {
 public:
  explicit Competitors(int count) {
    for (int i = 0; i < count; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the benchmark
        volatile unsigned long spin = 0;
        for (;;) spin = spin + 1;
      }
      if (pid > 0) pids_.push_back(pid);
    }
  }
  ~Competitors() {
    for (const pid_t pid : pids_) kill(pid, SIGKILL);
    for (const pid_t pid : pids_) waitpid(pid, nullptr, 0);
  }
  Competitors(const Competitors&) = delete;
  Competitors& operator=(const Competitors&) = delete;

 private:
  std::vector<pid_t> pids_;
};

// Logs every output until the cell's time is up.
class TimedFrontEnd final : public LogFrontEnd {
 public:
  TimedFrontEnd(Clock& clock, Nanoseconds end) : clock_(clock), end_(end) {
    settings_.samplesPerFile = 1e9;
    settings_.disableNewData = true;
    settings_.noScale = true;
    settings_.noHeader = true;
    for (int k = 1; k <= kLogChannels; ++k) settings_.channels[static_cast<size_t>(k)] = true;
  }
  const LogSettings& Settings() override { return settings_; }
  void FileStarted(int64_t) override {}
  bool SampleTaken(const LogProgress&) override { return clock_.Now() < end_; }

 private:
  Clock& clock_;
  Nanoseconds end_;
  LogSettings settings_;
};

struct FileCount {
  int64_t distinct = 0;
  int64_t missed = 0;  // samples between the first and the last row that no row holds
};

// Rows "number,supply,...": the supply value is the sample number modulo 4096.
FileCount CountSamples(const std::filesystem::path& file) {
  FileCount count;
  std::ifstream in(file);
  int32_t last = -1;
  for (std::string line; std::getline(in, line);) {
    const size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    const int32_t sample = std::atoi(line.c_str() + comma + 1) & 0xFFF;
    if (last >= 0) {
      const int32_t step = (sample - last + 4096) % 4096;
      if (step == 0) continue;
      count.missed += step - 1;
    }
    ++count.distinct;
    last = sample;
  }
  return count;
}

void BM_Capture(benchmark::State& state) {
  const auto link = static_cast<Link>(state.range(0));
  const auto smplPrd = static_cast<uint16_t>(state.range(1));
  const auto load = static_cast<int>(state.range(2));
  const bool priority = state.range(3) != 0;

  RealClock clock;
  RigSession sim(clock, link, smplPrd);
  RecordingMessageSink& messages = sim.messages;
  Session& session = sim.session;

  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("pemra-bench-capture-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  SystemTimeOfDay day;
  FileCount count;
  BurstSummary summary;
  CapturePriority granted;
  double cpu = 0;
  for (auto _ : state) {
    CaptureThreadOptions threadOptions;
    threadOptions.raisePriority = priority;
    BurstSampleReader reader(session.access, {}, threadOptions);
    TimedFrontEnd frontEnd(clock, clock.Now() + kCellTime);
    const DatalogContext context{session.access, clock, day, messages, dir, '.',
                                 [&reader] { return !reader.Ended(); }, &reader, "bench"};
    const Competitors competitors(load);
    const double cpuStart = CpuSeconds();
    RunDatalog(context, frontEnd);
    cpu = CpuSeconds() - cpuStart;
    summary = reader.Summary();
    granted = reader.Priority();
  }
  count = CountSamples(dir / "DATALOG_1.csv");
  std::filesystem::remove_all(dir);

  const auto distinct = static_cast<double>(count.distinct);
  state.counters["ratio"] = distinct / std::max(1.0, distinct + static_cast<double>(count.missed));
  state.counters["rows"] = distinct;
  state.counters["missed"] = static_cast<double>(count.missed);
  state.counters["missed_est"] = static_cast<double>(summary.missed);
  state.counters["dropped"] = static_cast<double>(summary.dropped);
  state.counters["torn"] = static_cast<double>(summary.torn);
  state.counters["gap_ms"] = std::chrono::duration<double, std::milli>(summary.longestGap).count();
  state.counters["cpu_us/sample"] = cpu * 1e6 / std::max(distinct, 1.0);
  state.SetLabel(std::string(kLinkNames[static_cast<size_t>(link)]) +
                 (smplPrd == 0 ? " 1638.4" : " 819.2") + (load > 0 ? ", loaded" : ", quiet") +
                 ", priority " + PriorityText(granted) +
                 (summary.hardwarePaced ? ", paced by the data-ready line" : ""));
  if (!messages.messages.empty()) state.SkipWithError(messages.messages.front().text.c_str());
}

// The interfaces named by --links=a,b (removed from the arguments), by default the
// high-speed adapter.
std::vector<Link> TakeLinks(int& argc, char** argv) {
  std::vector<Link> links;
  constexpr std::string_view kOption = "--links=";
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!arg.starts_with(kOption)) continue;
    std::stringstream names{std::string(arg.substr(kOption.size()))};
    for (std::string name; std::getline(names, name, ',');) {
      const auto* found = std::find(kLinkNames.begin(), kLinkNames.end(), name);
      if (found != kLinkNames.end()) links.push_back(static_cast<Link>(found - kLinkNames.begin()));
    }
    std::copy(argv + i + 1, argv + argc, argv + i);
    --argc;
    --i;
  }
  if (links.empty()) links.push_back(kHighSpeed);
  return links;
}

}  // namespace

int main(int argc, char** argv) {
  for (const Link link : TakeLinks(argc, argv)) {
    for (const int64_t smplPrd : {1, 0}) {
      for (const int64_t load : {0, 2}) {
        for (const int64_t priority : {0, 1}) {
          benchmark::RegisterBenchmark("BM_Capture", BM_Capture)
              ->ArgNames({"link", "smpl_prd", "load", "priority"})
              ->Args({link, smplPrd, load, priority})
              ->Iterations(1)
              ->UseRealTime()
              ->Unit(benchmark::kSecond);
        }
      }
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
