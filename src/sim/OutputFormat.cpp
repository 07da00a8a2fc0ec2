#include "sim/OutputFormat.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "core/DeviceModel.h"
#include "core/RegisterTable.h"

namespace pemra::sim {

OutputFormats::OutputFormats(int16_t model) : model_(model) {
  auto table = std::make_unique<RegisterTable>();
  InitRegisterTable(*table);
  ApplyModelTable(model, *table);
  for (int c = 0; c < kChannels; ++c) {
    const RegisterEntry& e = (*table)[size_t(c + 1)];  // output channel c is entry c + 1
    formats_[size_t(c)] = FieldFormat{e.RegWidth, e.RegSigned, double(e.RegScale),
                                      double(e.RegOffset)};
  }
  gyroBase_ = double(pemra::GyroBaseScale(model));
  for (Channel g : {Channel::GyroX, Channel::GyroY, Channel::GyroZ}) {
    formats_[size_t(g)].scale = gyroBase_;
  }
  gyroXOnly_ = model == 21410;
  hasAngles_ = (*table)[reg::YTEMP_OUT].RegName == "Pitch_OUT";
}

int32_t OutputFormats::MinCode(Channel c) const {
  const FieldFormat& f = Of(c);
  return f.isSigned ? -(1 << (f.width - 1)) : 0;
}

int32_t OutputFormats::MaxCode(Channel c) const {
  const FieldFormat& f = Of(c);
  return f.isSigned ? (1 << (f.width - 1)) - 1 : (1 << f.width) - 1;
}

int32_t OutputFormats::Encode(Channel c, double value, double scale) const {
  const double x = (value - Of(c).offset) / scale;
  const double lo = MinCode(c);
  const double hi = MaxCode(c);
  if (std::isnan(x)) return std::clamp<int32_t>(0, MinCode(c), MaxCode(c));
  if (x <= lo) return MinCode(c);
  if (x >= hi) return MaxCode(c);
  return int32_t(std::lround(x));
}

}  // namespace pemra::sim
