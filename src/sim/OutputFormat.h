#pragma once
// The data formats of the output registers for one sensor model, learned from the program's
// own device-model table: width, signedness, units per LSB and the value a code of 0 stands
// for. Gyro scales come from the model's base scale and the range in force.

#include <array>
#include <cstddef>
#include <cstdint>

#include "sim/SensorRegisters.h"

namespace pemra::sim {

struct FieldFormat {
  int width = 12;
  bool isSigned = false;
  double scale = 1.0;   // units per LSB
  double offset = 0.0;  // units for a code of 0
};

class OutputFormats {
 public:
  explicit OutputFormats(int16_t model);

  int16_t Model() const { return model_; }
  // Format of an output; for the gyros, the scale at the highest range.
  const FieldFormat& Of(Channel c) const { return formats_[size_t(c)]; }
  double GyroBaseScale() const { return gyroBase_; }
  // Model 21410: X gyro only, pitch and roll in the Y and Z temperature registers.
  bool GyroXOnly() const { return gyroXOnly_; }
  bool HasAngles() const { return hasAngles_; }

  // The code of a value in the channel's format at `scale` units per LSB: rounded to the
  // nearest code and saturated at the ends of the field (NaN gives the code of `offset`).
  int32_t Encode(Channel c, double value, double scale) const;
  int32_t Encode(Channel c, double value) const { return Encode(c, value, Of(c).scale); }

  // Lowest and highest code of a channel's field.
  int32_t MinCode(Channel c) const;
  int32_t MaxCode(Channel c) const;

 private:
  int16_t model_;
  std::array<FieldFormat, kChannels> formats_{};
  double gyroBase_ = 0.07326;
  bool gyroXOnly_ = false;
  bool hasAngles_ = false;
};

// The low `width` bits of a code (two's complement for negative codes).
inline constexpr uint16_t FieldBits(int32_t code, int width) {
  return uint16_t(uint32_t(code) & ((1u << width) - 1));
}

}  // namespace pemra::sim
