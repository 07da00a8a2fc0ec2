#pragma once
// figures.json: every figure of an evaluation with its unit, interval, averaging times,
// limit, verdict and margin, machine-readable. A figure that was not determined has a null
// value and its reason, never NaN. The layout is described by figures.schema.json beside
// this file; `kFiguresSchemaVersion` changes whenever that layout does.

#include <optional>
#include <string>

#include "evaluation/EvaluationReport.h"

namespace pemra {

inline constexpr int kFiguresSchemaVersion = 1;

std::string FiguresJsonText(const EvaluationReport& report);

// Reads what FiguresJsonText wrote back into a report (for comparisons): the identity,
// the log's counts, the axes with their curves and figures. An error names the reason.
std::optional<std::string> ReadFiguresJson(const std::string& text, EvaluationReport& report);

}  // namespace pemra
