#include "sim/Rig.h"

namespace pemra::sim {

namespace {

SensorOptions SensorOptionsOf(const RigOptions& o) {
  SensorOptions s;
  s.model = o.model;
  s.supplyVolts = o.supplyVolts;
  s.seed = o.seed;
  s.noise = o.noise;
  s.testPattern = o.testPattern;
  s.motion = o.motion;
  s.flashFile = o.flashFile;
  return s;
}

}  // namespace

Rig::Rig(Clock& clock, RigOptions options)
    : options_(std::move(options)),
      sensor_(clock, SensorOptionsOf(options_)),
      slave_(sensor_),
      port_(slave_, clock, options_.portBase),
      usb_(slave_, clock, options_.adapters) {
  port_.SetTimingModel(options_.timingModel);
  usb_.SetTimingModel(options_.timingModel);
}

}  // namespace pemra::sim
