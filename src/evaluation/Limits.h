#pragma once
// The limits an evaluation checks its figures against: a JSON file of maxima per axis kind
// ("gyro", "accel") or per axis (its title "X Gyro" or register name "XGYRO_OUT"), each a
// value with its unit, converted to the unit the figure is stated in:
//   {"gyro": {"N_max": "1.5 deg/sqrt(h)", "B_max": "120 deg/h"},
//    "Z Gyro": {"K_max": "0.3 deg/s/sqrt(h)"}}
// Keys: N_max, B_max, K_max, minimum_max (the minimum deviation), density_max. A per-axis
// limit overrides the kind's.

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "evaluation/EvaluationReport.h"

namespace pemra {

struct LimitValue {
  double value = 0;  // in the figure's unit for the sections' axis kind
  std::string text;  // as written
};

struct Limits {
  // section ("gyro", "accel" or an axis name, lower case) -> figure key -> limit
  std::map<std::string, std::map<std::string, LimitValue>> sections;
  bool Empty() const { return sections.empty(); }
};

// `value` ("1.5 deg/sqrt(h)") in `unit` (one of the figure units), or an error naming what
// is wrong and the units understood.
std::optional<std::string> ConvertQuantity(std::string_view text, const std::string& unit,
                                           double& value);

// Parses the limits file's text. Sections that are not an axis kind are kept for the axes
// they name; their units are checked when applied. An error names the key and the reason.
std::optional<std::string> ParseLimits(std::string_view json, Limits& limits);

// Sets the limit, verdict and margin of each figure of `axis` that has one. A limit on an
// axis name that no axis bears is an error (a typo must not pass unnoticed), reported by
// UnusedLimitSections.
std::optional<std::string> ApplyLimits(const Limits& limits, AxisReport& axis);

// The sections that named no axis of `axes` and no axis kind.
std::vector<std::string> UnusedLimitSections(const Limits& limits,
                                             const std::vector<AxisReport>& axes);

}  // namespace pemra
