#pragma once
// One comparison report of several evaluations (the units of a batch, benches sharing a
// folder): every figure per unit with its interval and verdict, the Allan curves of each
// axis overlaid, and the outliers marked: a value further from the units' median than
// kOutlierSpread times their scaled median absolute deviation (so it takes three units
// or more for one to stand out).

#include <string>
#include <string_view>
#include <vector>

#include "evaluation/EvaluationReport.h"

namespace pemra {

inline constexpr std::string_view kComparisonHtmlName = "comparison.html";
inline constexpr double kOutlierSpread = 3.0;

struct ComparedUnit {
  std::string folder;  // as given
  EvaluationReport report;
};

// For each value, whether it is an outlier among `values` (see above).
std::vector<bool> Outliers(const std::vector<double>& values);

std::string ComparisonHtml(const std::vector<ComparedUnit>& units, const std::string& command,
                           const std::string& version);

}  // namespace pemra
