// Register reads per second through each transport on the simulated rig: the bit-banged
// parallel port and the USB adapter, under register access as the live readout uses them.
//
// clock:real runs on the monotonic clock, so every wait is real: the transport's own 0.1 ms
// stall after each parallel-port frame, and with timing:1 the simulated hardware's costs
// (1 us per port access, one USB service interval plus the SPI time per bulk transfer).
// clock:test runs on the instant test clock: only the CPU cost is measured, and
// virtual_us/read shows the time the same reads take on the simulated hardware.
// allocs/read counts heap allocations of the transport and the simulator together.

#include <benchmark/benchmark.h>

#include <memory>

#include "core/Clock.h"
#include "core/Message.h"
#include "interfaces/Session.h"
#include "sim/Rig.h"

#include "AllocationCounter.h"

namespace {

using namespace pemra;

enum Transport : int64_t { kParallel = 1, kUsb = 2 };

void BM_RegisterRead(benchmark::State& state) {
  const auto transport = static_cast<Transport>(state.range(0));
  const bool timingModel = state.range(1) != 0;
  const bool realClock = state.range(2) != 0;

  std::unique_ptr<Clock> clock;
  if (realClock) {
    clock = std::make_unique<RealClock>();
  } else {
    clock = std::make_unique<TestClock>();
  }
  sim::RigOptions options;
  options.timingModel = timingModel;
  sim::Rig rig{*clock, options};
  rig.SimUsb().SetRecordLimit(0);
  RecordingMessageSink messages;
  Session session{*clock, messages, rig.Port(), rig.Usb()};
  session.selection.InterfaceType = static_cast<int16_t>(transport);
  session.selection.PortAddress = 0x378;
  if (transport == kParallel) {
    session.parallel.EnablePortAccess();
    session.parallel.ParallelPortInit();
  } else {
    session.adapters.FindAdapters();
    session.usbSpi.SetSpiBits(session.usbSpi.StaticBits);
    session.usbSpi.SetSpiDelay(session.usbSpi.UsbSpiDelay);
  }
  if (!messages.messages.empty()) {
    state.SkipWithError(messages.messages.front().text.c_str());
    return;
  }

  auto* testClock = dynamic_cast<TestClock*>(clock.get());
  const Nanoseconds startVirtual = testClock ? testClock->Now() : Nanoseconds{};
  const long long startAllocations = bench::Allocations();
  for (auto _ : state) {
    session.access.ReadRegister(reg::XGYRO_OUT);
    benchmark::DoNotOptimize(session.access.ScaledValue);
    if (testClock != nullptr) testClock->ClearWaits();  // the record would grow without end
  }
  const auto reads = static_cast<double>(state.iterations());
  state.counters["reads/s"] = benchmark::Counter(reads, benchmark::Counter::kIsRate);
  state.counters["allocs/read"] =
      static_cast<double>(bench::Allocations() - startAllocations) / reads;
  if (testClock != nullptr) {
    state.counters["virtual_us/read"] =
        std::chrono::duration<double, std::micro>(testClock->Now() - startVirtual).count() /
        reads;
  }
  state.SetLabel(std::string(transport == kParallel ? "parallel" : "usb") +
                 (timingModel ? ", timing model on" : ", timing model off") +
                 (realClock ? ", real clock" : ", test clock"));
}

BENCHMARK(BM_RegisterRead)
    ->ArgNames({"transport", "timing", "clock_real"})
    ->ArgsProduct({{kParallel, kUsb}, {0, 1}, {0, 1}})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
