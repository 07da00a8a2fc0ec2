#include "sim/Rig.h"

namespace pemra::sim {

Rig::Rig(Clock& clock, RigOptions options)
    : options_(std::move(options)),
      sensor_(clock, static_cast<const SensorOptions&>(options_)),
      slave_(sensor_),
      port_(slave_, clock, options_.portBase),
      usb_(slave_, clock, options_.adapters),
      ftdi_(slave_, clock, options_.ftdiBoards),
      spidev_(slave_, clock, options_.spidevNodes) {
  port_.SetTimingModel(options_.timingModel);
  usb_.SetTimingModel(options_.timingModel);
  ftdi_.SetTimingModel(options_.timingModel);
  spidev_.SetTimingModel(options_.timingModel);
}

}  // namespace pemra::sim
