// Cost of one register read (read, convert, store) through RegisterAccess against a
// transport that costs nothing, and of the eleven reads of one live sample. The program
// counts heap allocations, so a read that allocates shows up as allocs/read > 0.

#include <benchmark/benchmark.h>

#include "core/RegisterAccess.h"

#include "AllocationCounter.h"

namespace {

using namespace pemra;

// Serves a changing word at once; the change keeps the conversion from being hoisted.
class FreeTransport final : public RegisterTransport {
 public:
  int32_t ReadWord(int16_t address) override {
    word_ = (word_ + 0x1235 + address) & 0xFFFF;
    return word_;
  }
  void WriteFramePair(int32_t, int32_t) override {}

 private:
  int32_t word_ = 0;
};

struct Rig {
  Rig() {
    InitRegisterTable(table);
    selection.InterfaceType = 2;
    access.SetUsbTransport(&transport);
  }
  RegisterTable table;
  Selection selection;
  TestClock clock;
  FreeTransport transport;
  RegisterAccess access{table, selection, clock};
};

void BM_ReadRegister(benchmark::State& state) {
  Rig rig;
  const auto index = static_cast<int16_t>(state.range(0));
  const long long allocationsBefore = bench::Allocations();
  for (auto _ : state) {
    rig.access.ReadRegister(index);
    benchmark::DoNotOptimize(rig.access.ScaledValue);
    benchmark::DoNotOptimize(rig.access.RawValue);
  }
  state.counters["allocs/read"] = benchmark::Counter(
      static_cast<double>(bench::Allocations() - allocationsBefore) /
      static_cast<double>(state.iterations()));
  state.SetLabel(rig.table[static_cast<size_t>(index)].RegName);
}
BENCHMARK(BM_ReadRegister)->Arg(reg::XGYRO_OUT)->Arg(reg::SUPPLY_OUT)->Arg(reg::STATUS);

// The eleven output reads of one sample of the live readout.
void BM_ReadSample(benchmark::State& state) {
  Rig rig;
  float sample[12] = {};
  for (auto _ : state) {
    for (int16_t i = reg::SUPPLY_OUT; i <= reg::AUX_ADC; ++i) {
      rig.access.ReadRegister(i);
      sample[i] = rig.access.ScaledValue;
    }
    benchmark::DoNotOptimize(sample);
  }
  state.SetItemsProcessed(state.iterations() * 11);
}
BENCHMARK(BM_ReadSample);

// A read of an entry that is not readable: returns at once.
void BM_ReadUnreadable(benchmark::State& state) {
  Rig rig;
  for (auto _ : state) {
    rig.access.ReadRegister(reg::COMMAND);
    benchmark::DoNotOptimize(rig.access.RawValue);
  }
}
BENCHMARK(BM_ReadUnreadable);

}  // namespace

BENCHMARK_MAIN();
