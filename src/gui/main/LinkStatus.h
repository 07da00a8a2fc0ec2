#pragma once
// What the main window's status bar says about the road to the sensor: the interface in
// use, whether the sensor answers on it, and the live readout's rate. Free of Qt, so the
// judgement is tested on its own.

#include <optional>
#include <string>

#include "core/Clock.h"
#include "interfaces/Session.h"

namespace pemra {

enum class SensorAnswer {
  NotRead,        // an interface is in use; nothing has been read from it yet
  Answers,        // the last sample carried data
  Silent,         // every read of the last sample gave 0 with no new-data flag
  NoInterface,    // no interface chosen
  NoPortAddress,  // the parallel port at address 0
  NoPortAccess,   // access to the parallel port failed
  NoAdapter,      // the USB adapter, FTDI board or SPI device is deselected (chosen "None",
                  // or lost on a failure)
};

// The state the interface itself allows: NotRead when an interface is in use (the parallel
// port with an address and access to it, or a selected USB adapter), else why none is.
SensorAnswer InterfaceAnswer(const Session& session);

inline bool InterfaceInUse(const Session& session) {
  return InterfaceAnswer(session) == SensorAnswer::NotRead;
}

// "USB EzUsb0, high speed", "Parallel port 0378", "FTDI FT232H FT5XYZ12, 2.0 MHz, stall 10 us",
// "SPI /dev/spidev0.0, 0.3 MHz, stall 75 us (low-power sampling)", "No interface".
std::string InterfaceText(const Session& session);
// "sensor answers", "no answer (...)"; empty before the first read.
std::string AnswerText(SensorAnswer answer);

// Samples per second of a running loop, measured from its first sample over windows of
// about a second.
class LoopRateMeter {
 public:
  // A new loop: the next sample starts the first window.
  void Reset() { started_ = false; }
  // Counts one sample taken at `now`; gives the rate when a measuring window has closed.
  std::optional<double> Count(Nanoseconds now);

 private:
  bool started_ = false;
  Nanoseconds windowStart_{0};
  int samples_ = 0;
};

// "182 samples/s".
std::string RateText(double samplesPerSecond);

}  // namespace pemra
