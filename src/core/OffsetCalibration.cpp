#include "core/OffsetCalibration.h"

#include <cmath>

#include "core/NumberText.h"

namespace pemra {

int32_t OffsetCode(const OffsetRow& row, double value) {
  if (std::isnan(value)) value = 0.0;
  if (value < row.lower) value = row.lower;
  if (value > row.upper) value = row.upper;
  return static_cast<int32_t>(RoundHalfEvenToInt(value / row.factor));
}

}  // namespace pemra
