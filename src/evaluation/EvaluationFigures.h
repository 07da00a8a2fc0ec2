#pragma once
// The one place the report's figures come from the noise analysis: an axis's samples in,
// its Allan deviation curve and its figure records (N, B, K, minimum deviation, noise
// density) out, each in the unit a data sheet states it in, with its interval or the
// reason it has none. Nothing else in the evaluation knows the analysis's types.

#include <atomic>
#include <span>
#include <string>
#include <vector>

#include "evaluation/EvaluationReport.h"

namespace pemra {

// The unit each figure is stated in, for an axis kind: the figures carry it, the limits
// are converted to it.
std::string FigureUnitFor(AxisKind kind, const std::string& key);

// The figure keys in report order: "N", "B", "K", "minimum", "density".
const std::vector<std::string>& FigureKeys();

// Fills `axis.curve`, `axis.curveNote`, `axis.figures` and `axis.warnings` from `samples`
// (in axis.dataUnit: deg/s or g) taken at `rate` per second. A set `cancel` ends the
// work early; the figures are then not determined.
void AnalyseAxis(std::span<const double> samples, double rate, AxisReport& axis,
                 const std::atomic<bool>* cancel = nullptr);

// The noise model of the axes as imu.yaml text (see analysis/ImuYaml.h), from their figure
// records; `missing` names the entries no axis gave.
std::string ImuYamlFor(const std::vector<AxisReport>& axes, const std::string& logName, double rate,
                       std::vector<std::string>* missing = nullptr);

}  // namespace pemra
