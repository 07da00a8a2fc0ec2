#include "cli/BurstSummaryText.h"

#include <algorithm>

#include <fmt/format.h>

namespace pemra::cli {

namespace {

std::string Rate(double perSecond, char decimalSeparator) {
  std::string text = fmt::format("{:.1f}", perSecond);
  std::replace(text.begin(), text.end(), '.', decimalSeparator);
  return text;
}

}  // namespace

std::string BurstSummaryText(const BurstSummary& summary, int64_t rowsWritten,
                             const std::string& pacingRegister, char decimalSeparator) {
  std::string text;
  if (summary.end == BurstEnd::NoNewData) {
    text += fmt::format("pemra-cli: no new data from {}: the burst capture stopped\n",
                        pacingRegister);
  }
  text += fmt::format("rows written: {}\n", rowsWritten);
  text += fmt::format("samples missed (estimated): {}\n", summary.missed);
  text += fmt::format("duplicates discarded: {}\n", summary.duplicates);
  text += fmt::format("achieved rate: {} samples/s (sensor: {})\n",
                      Rate(summary.AchievedRate(), decimalSeparator),
                      Rate(summary.SensorRate(), decimalSeparator));
  return text;
}

}  // namespace pemra::cli
