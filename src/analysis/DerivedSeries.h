#pragma once
// Series derived from a column of a log, for looking at them beside the logged ones:
// - the integral over time (trapezoid rule, 0 at the first row): a rate in deg/s gives an
//   angle in deg, an acceleration in g a velocity in m/s (1 g = 9.80665 m/s^2), any other
//   unit U gives "U*s";
// - the moving average of the last N rows (fewer at the start of the log);
// - the values times a scale plus an offset, in the column's unit.
// A derived column joins the log as one more column (its own title and unit, block
// summaries and all), so it is drawn, listed, measured and exported as the others are.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pemra {

struct LoadedLog;

enum class DerivedKind { Integral, MovingAverage, ScaleOffset };

struct DerivedRecipe {
  DerivedKind kind = DerivedKind::Integral;
  long long window = 1;  // rows of the moving average
  double scale = 1;
  double offset = 0;
};

// The unit of the integral of values in `unit`, and the factor the sums are multiplied by
// to give it (9.80665 from g to m/s, else 1).
std::string IntegralUnit(const std::string& unit, double& factor);

// Running trapezoid sum of `y` (rows 1 / samplesPerSecond apart) times `factor`.
std::vector<double> Integral(std::span<const double> y, double samplesPerSecond, double factor);
// Mean of the last `window` rows up to each row (window >= 1).
std::vector<double> MovingAverage(std::span<const double> y, long long window);
std::vector<double> ScaleOffset(std::span<const double> y, double scale, double offset);

// Adds to `log` the column `recipe` derives from series slot `source`, whose values are in
// `sourceUnit`; its slot, or an error text (a bad window or scale, an integral without a
// sample rate, a value beyond what the analysis takes).
std::optional<std::string> AddDerivedColumn(LoadedLog& log, size_t source,
                                            const std::string& sourceUnit,
                                            const DerivedRecipe& recipe, size_t& slot);

// Computes the derived columns of `log` again from their sources (after a change of rate).
void RecomputeDerivedColumns(LoadedLog& log);

}  // namespace pemra
