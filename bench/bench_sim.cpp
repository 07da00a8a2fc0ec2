// What the simulator costs: one register read through the SPI pins, through the adapter's
// bulk transfers and through the bit-banged port; one internal sample of all eleven outputs
// at each filter length; and catching up after a pause of any length (a test clock jumping
// 30 s, or an hour). Runs on the test clock, so only CPU time is measured.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

#include "sim/Rig.h"
#include "sim/SampleClock.h"

namespace {

using namespace pemra;
using namespace pemra::sim;

uint16_t SpiRead(SpiSlave& slave, uint8_t address) {
  slave.Transfer(uint16_t(address << 8));
  return slave.Transfer(0);
}

void SetFilter(Rig& rig, int exponent) {
  rig.Slave().Transfer(uint16_t(0x8000 | addr::SENS_AVG << 8 | exponent));
}

// One output register read straight through the SPI slave; Arg 1 lets a new sample appear
// before every read, Arg 0 reads the same sample again.
void BM_SpiRead(benchmark::State& state) {
  TestClock clock;
  Rig rig(clock);
  const Nanoseconds ts = SamplePeriod(0x01);
  const bool newSample = state.range(0) != 0;
  for (auto _ : state) {
    if (newSample) clock.Advance(ts);
    benchmark::DoNotOptimize(SpiRead(rig.Slave(), addr::XGYRO_OUT));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SpiRead)->Arg(0)->Arg(1);

// A register read as the USB transport makes it: open, the exchange message on pipe 0, the
// four-byte reply on pipe 1, close.
void BM_UsbRead(benchmark::State& state) {
  TestClock clock;
  Rig rig(clock);
  rig.SimUsb().SetRecordLimit(0);
  UsbDriver& usb = rig.Usb();
  const Nanoseconds ts = SamplePeriod(0x01);
  const uint8_t message[] = {0x0D, 0x01, 0x02, addr::XGYRO_OUT, 0, addr::XGYRO_OUT, 0};
  uint8_t reply[4];
  size_t n = 0;
  for (auto _ : state) {
    clock.Advance(ts);
    const UsbDriver::Handle h = usb.Open("Ezusb-0");
    usb.BulkWrite(h, 0, message, sizeof message, n);
    usb.BulkRead(h, 1, reply, sizeof reply, n);
    usb.Close(h);
    benchmark::DoNotOptimize(reply);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UsbRead);

// A register read over the bit-banged port: 67 writes for the read frame, then 51 accesses
// for the frame that clocks the word in.
void BM_PortRead(benchmark::State& state) {
  TestClock clock;
  Rig rig(clock);
  PortIo& port = rig.Port();
  const Nanoseconds ts = SamplePeriod(0x01);
  auto frame = [&port](uint16_t f) {
    port.Out(0x378, 4);
    port.Out(0x378, 5);
    for (int b = 15; b >= 0; --b) {
      const bool bit = (f >> b) & 1;
      port.Out(0x378, 7);
      port.Out(0x378, bit ? 3 : 7);
      port.Out(0x378, bit ? 1 : 5);
      port.Out(0x378, 5);
    }
    port.Out(0x378, 0);
  };
  for (auto _ : state) {
    clock.Advance(ts);
    frame(uint16_t(addr::XGYRO_OUT << 8));
    uint16_t word = 0;
    port.Out(0x378, 4);
    port.Out(0x378, 5);
    for (int b = 15; b >= 0; --b) {
      port.Out(0x378, 7);
      if ((port.In(0x379) & 0x40) == 0) word |= uint16_t(1u << b);
      port.Out(0x378, 5);
    }
    port.Out(0x378, 0);
    benchmark::DoNotOptimize(word);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PortRead);

// One internal sample as the live readout meets it: the clock moves one sample period, then
// the eleven outputs are read. Arg: filter exponent N (2^N taps).
void BM_InternalSample(benchmark::State& state) {
  TestClock clock;
  Rig rig(clock);
  SetFilter(rig, int(state.range(0)));
  const Nanoseconds ts = SamplePeriod(0x01);
  for (auto _ : state) {
    clock.Advance(ts);
    for (uint8_t a = addr::SUPPLY_OUT; a <= addr::AUX_ADC; a += 2) {
      benchmark::DoNotOptimize(SpiRead(rig.Slave(), a));
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["reads"] = benchmark::Counter(double(state.iterations()) * 11,
                                               benchmark::Counter::kIsRate);
}
BENCHMARK(BM_InternalSample)->Arg(0)->Arg(2)->Arg(7);

// The first read after a pause of Arg samples (24 600 is 30 s, 2 949 120 an hour at 819.2
// samples/s), with the longest filter: the cost must not grow with the pause.
void BM_CatchUp(benchmark::State& state) {
  TestClock clock;
  Rig rig(clock);
  SetFilter(rig, 7);
  const Nanoseconds gap = SamplePeriod(0x01) * state.range(0);
  for (auto _ : state) {
    clock.Advance(gap);
    benchmark::DoNotOptimize(SpiRead(rig.Slave(), addr::XGYRO_OUT));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CatchUp)->Arg(1)->Arg(200)->Arg(24600)->Arg(2949120);

// STATUS with both alarms on rate of change over 255 samples: the alarms read two samples.
void BM_StatusWithAlarms(benchmark::State& state) {
  TestClock clock;
  Rig rig(clock);
  SpiSlave& spi = rig.Slave();
  for (uint16_t frame : {0xAB00, 0xAAFF, 0xAD00, 0xACFF, 0xAF72, 0xAEC0}) spi.Transfer(frame);
  const Nanoseconds ts = SamplePeriod(0x01);
  for (auto _ : state) {
    clock.Advance(ts);
    benchmark::DoNotOptimize(SpiRead(spi, addr::STATUS));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StatusWithAlarms);

}  // namespace

BENCHMARK_MAIN();
