#pragma once
// The simulated bench: one sensor, its SPI pins, a parallel port wired to them through the
// interface cable, USB adapters wired to chip-select channel 1, FTDI boards and spidev nodes.
// `--simulate` uses the defaults: the port at 0x378, one high-speed FIFO4 adapter in slot 0,
// one FT232H and /dev/spidev0.0.

#include <array>
#include <cstdint>

#include "core/Clock.h"
#include "interfaces/PortIo.h"
#include "interfaces/UsbDriver.h"
#include "sim/MotionProfile.h"
#include "sim/SimulatedFtdi.h"
#include "sim/SimulatedPortIo.h"
#include "sim/SimulatedSensor.h"
#include "sim/SimulatedSpidev.h"
#include "sim/SimulatedUsbDriver.h"
#include "sim/SpiSlave.h"

namespace pemra::sim {

// The sensor's options (model, supply, seed, noise, test pattern, motion, flash file) and
// the wiring's.
struct RigOptions : SensorOptions {
  uint16_t portBase = 0x378;
  // Port accesses and bulk transfers wait their hardware cost on the clock (benchmarks).
  bool timingModel = false;
  std::array<AdapterOptions, kAdapterSlots> adapters = {
      AdapterOptions{true, kProductFifo4, true}, AdapterOptions{}, AdapterOptions{},
      AdapterOptions{}};
  std::vector<FtdiBoardOptions> ftdiBoards = {FtdiBoardOptions{}};
  std::vector<SpidevNodeOptions> spidevNodes = {SpidevNodeOptions{}};
};

class Rig {
 public:
  explicit Rig(Clock& clock, RigOptions options = {});
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  PortIo& Port() { return port_; }
  UsbDriver& Usb() { return usb_; }
  SimulatedSensor& Sensor() { return sensor_; }
  SpiSlave& Slave() { return slave_; }
  SimulatedPortIo& SimPort() { return port_; }
  SimulatedUsbDriver& SimUsb() { return usb_; }
  SimulatedFtdiDriver& Ftdi() { return ftdi_; }
  SimulatedSpidevDriver& Spidev() { return spidev_; }
  const RigOptions& Options() const { return options_; }

 private:
  RigOptions options_;
  SimulatedSensor sensor_;
  SpiSlave slave_;
  SimulatedPortIo port_;
  SimulatedUsbDriver usb_;
  SimulatedFtdiDriver ftdi_;
  SimulatedSpidevDriver spidev_;
};

}  // namespace pemra::sim
