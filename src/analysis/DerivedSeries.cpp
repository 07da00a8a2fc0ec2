#include "analysis/DerivedSeries.h"

#include <cmath>

#include "analysis/LogReader.h"
#include "analysis/LogView.h"
#include "analysis/NoiseFigures.h"  // kStandardGravity
#include "core/NumberText.h"

namespace pemra {

std::string IntegralUnit(const std::string& unit, double& factor) {
  factor = 1;
  if (unit == "deg/s") return "deg";
  if (unit == "g") {
    factor = kStandardGravity;
    return "m/s";
  }
  if (unit.empty()) return "s";
  return unit + "*s";
}

std::vector<double> Integral(std::span<const double> y, double samplesPerSecond, double factor) {
  std::vector<double> out(y.size());
  if (y.empty()) return out;
  const double half = factor / samplesPerSecond / 2;
  double sum = 0;
  double carry = 0;  // compensated sum: ten million steps keep their last digits
  out[0] = 0;
  for (size_t i = 1; i < y.size(); ++i) {
    const double step = (y[i - 1] + y[i]) * half - carry;
    const double next = sum + step;
    carry = (next - sum) - step;
    sum = next;
    out[i] = sum;
  }
  return out;
}

std::vector<double> MovingAverage(std::span<const double> y, long long window) {
  std::vector<double> out(y.size());
  const size_t n = static_cast<size_t>(std::max(window, 1LL));
  double sum = 0;
  double carry = 0;
  auto add = [&](double value) {
    const double step = value - carry;
    const double next = sum + step;
    carry = (next - sum) - step;
    sum = next;
  };
  for (size_t i = 0; i < y.size(); ++i) {
    add(y[i]);
    if (i >= n) add(-y[i - n]);
    out[i] = sum / static_cast<double>(std::min(i + 1, n));
  }
  return out;
}

std::vector<double> ScaleOffset(std::span<const double> y, double scale, double offset) {
  std::vector<double> out(y.size());
  for (size_t i = 0; i < y.size(); ++i) out[i] = y[i] * scale + offset;
  return out;
}

namespace {

struct Derived {
  std::vector<double> values;
  std::string title;
  std::string unit;
};

std::optional<std::string> Derive(const LoadedLog& log, size_t source,
                                  const std::string& sourceUnit, const DerivedRecipe& recipe,
                                  Derived& derived) {
  const std::vector<double>& y = log.series.values[source];
  const std::string title = log.ColumnTitle(source);
  switch (recipe.kind) {
    case DerivedKind::Integral: {
      if (!(log.samplesPerSecond > 0))
        return "the integral over time needs the sample rate, which this log does not tell";
      double factor = 1;
      derived.unit = IntegralUnit(sourceUnit, factor);
      derived.values = Integral(y, log.samplesPerSecond, factor);
      derived.title = title + " integral";
      break;
    }
    case DerivedKind::MovingAverage:
      if (recipe.window < 1 || recipe.window > log.Rows())
        return "the moving average needs from 1 to " + std::to_string(log.Rows()) + " rows";
      derived.unit = sourceUnit;
      derived.values = MovingAverage(y, recipe.window);
      derived.title = title + " mean of " + std::to_string(recipe.window);
      break;
    case DerivedKind::ScaleOffset:
      if (!std::isfinite(recipe.scale) || !std::isfinite(recipe.offset))
        return "the scale and the offset must be numbers";
      derived.unit = sourceUnit;
      derived.values = ScaleOffset(y, recipe.scale, recipe.offset);
      derived.title = title + " x " + GeneralText(recipe.scale, '.') + " + " +
                      GeneralText(recipe.offset, '.');
      break;
  }
  for (double v : derived.values)
    if (!(std::fabs(v) <= kMaxValueMagnitude))
      return "the values would exceed what the analysis takes (magnitude 1e150)";
  return std::nullopt;
}

}  // namespace

std::optional<std::string> AddDerivedColumn(LoadedLog& log, size_t source,
                                            const std::string& sourceUnit,
                                            const DerivedRecipe& recipe, size_t& slot) {
  if (source >= log.series.values.size()) return "no column to derive from";
  Derived derived;
  if (auto error = Derive(log, source, sourceUnit, recipe, derived)) return error;
  LogColumn column;
  column.title = derived.title;
  column.unit = derived.unit;
  log.layout.columns.push_back(column);
  log.series.newDataZeros.push_back(0);
  slot = log.series.values.size();
  log.series.columns.push_back(static_cast<int>(log.layout.columns.size() - 1));
  log.series.values.push_back(std::move(derived.values));
  log.series.wholeNumbers.push_back(false);
  log.summaries.emplace_back(log.series.values.back());
  log.derived.push_back({slot, source, sourceUnit, recipe});
  return std::nullopt;
}

void RecomputeDerivedColumns(LoadedLog& log) {
  for (const DerivedColumn& d : log.derived) {
    Derived derived;
    if (Derive(log, d.source, d.sourceUnit, d.recipe, derived)) continue;  // kept as it was
    log.series.values[d.slot] = std::move(derived.values);
    log.summaries[d.slot] = ColumnSummary(log.series.values[d.slot]);
  }
}

}  // namespace pemra
