#include "cli/BurstSummaryText.h"

#include <algorithm>
#include <chrono>

#include <fmt/format.h>

namespace pemra::cli {

namespace {

std::string Fixed(double value, int decimals, char decimalSeparator) {
  std::string text = fmt::format("{:.{}f}", value, decimals);
  std::replace(text.begin(), text.end(), '.', decimalSeparator);
  return text;
}

std::string Rate(double perSecond, char decimalSeparator) {
  return Fixed(perSecond, 1, decimalSeparator);
}

}  // namespace

std::string BurstSummaryText(const BurstSummary& summary, int64_t rowsWritten,
                             const std::string& pacingRegister, char decimalSeparator,
                             const std::string& priority) {
  std::string text;
  if (summary.end == BurstEnd::NoNewData) {
    text += fmt::format("pemra-cli: no new data from {}: the burst capture stopped\n",
                        pacingRegister);
  }
  text += fmt::format("rows written: {}\n", rowsWritten);
  text += fmt::format("samples missed (estimated): {}", summary.missed);
  if (summary.dropped > 0) {
    text += fmt::format(", {} of them dropped because the writer fell behind", summary.dropped);
  }
  text += '\n';
  text += fmt::format("torn rows: {}", summary.torn);
  if (summary.rereads > 0) {
    text += fmt::format(" ({} bursts read again across a sample update)", summary.rereads);
  }
  text += '\n';
  text += fmt::format("duplicates discarded: {}\n", summary.duplicates);
  text += fmt::format("achieved rate: {} samples/s (sensor: {})\n",
                      Rate(summary.AchievedRate(), decimalSeparator),
                      Rate(summary.SensorRate(), decimalSeparator));
  if (summary.longestGapAfter > 0) {
    const double ms = std::chrono::duration<double, std::milli>(summary.longestGap).count();
    text += fmt::format("longest gap: {} ms, after row {}\n", Fixed(ms, 2, decimalSeparator),
                        summary.longestGapAfter);
  } else {
    text += "longest gap: none (fewer than two rows)\n";
  }
  if (summary.cpu > Nanoseconds::zero() && summary.rows > 0) {
    const double us = std::chrono::duration<double, std::micro>(summary.cpu).count() /
                      static_cast<double>(summary.rows);
    text += fmt::format("capture CPU: {} us per sample\n", Fixed(us, 1, decimalSeparator));
  }
  text += fmt::format("capture priority: {}\n", priority);
  if (!summary.pacingNote.empty()) text += fmt::format("pacing: {}\n", summary.pacingNote);
  if (summary.missed > 0 && priority == "normal (no higher priority allowed)") {
    text += "to allow a raised priority: sudo cp /usr/share/pemra/95-pemra-realtime.conf "
            "/etc/security/limits.d/ and log in again\n";
  }
  return text;
}

}  // namespace pemra::cli
