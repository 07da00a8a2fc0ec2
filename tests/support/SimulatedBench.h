#pragma once
// A session on the simulated rig and test clock, opened as the main window opens it.

#include <vector>

#include "core/Clock.h"
#include "core/DeviceModel.h"
#include "core/Message.h"
#include "interfaces/Session.h"
#include "sim/Rig.h"

namespace pemra::test {

inline std::vector<int16_t> OutputEntries() {
  std::vector<int16_t> entries;
  for (int16_t i = reg::SUPPLY_OUT; i <= reg::AUX_ADC; ++i) entries.push_back(i);
  return entries;
}

struct SimulatedBench {
  // interfaceType 1: the parallel port at 0x378; 2: the adapter in slot 0.
  SimulatedBench(int16_t interfaceType, const sim::RigOptions& options) : rig(clock, options) {
    Session& s = session;
    s.selection = Selection{interfaceType, 0x378, 0, options.model};
    if (interfaceType == 1) {
      s.parallel.EnablePortAccess();
      s.parallel.ParallelPortInit();
    } else {
      s.adapters.FindAdapters();
      s.usbSpi.SetSpiBits(s.usbSpi.StaticBits);
      s.usbSpi.SetSpiDelay(s.usbSpi.UsbSpiDelay);
    }
    ChartRanges ranges;
    SetDevice(options.model, s.selection, s.access, ranges, messages);
  }

  TestClock clock;
  sim::Rig rig;
  RecordingMessageSink messages;
  RecordingTraceSink trace;
  Session session{clock, messages, rig.Port(), rig.Usb(), &trace};
};

}  // namespace pemra::test
