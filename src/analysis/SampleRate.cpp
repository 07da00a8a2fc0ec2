#include "analysis/SampleRate.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "core/NumberText.h"
#include "core/SamplePeriod.h"
#include "datalog/TimeOfDay.h"

namespace pemra {

namespace {

// Rows whose rate is further than this from every rate the sensor samples at are not one
// per sensor sample. Wide enough for the header's single-precision seconds on short logs.
constexpr double kRateTolerance = 0.02;

std::string RateText(double samplesPerSecond) {
  return GeneralText(static_cast<float>(samplesPerSecond));
}

// Why `samplesPerSecond` found by `how` is not taken, or empty when it is.
std::string RateProblem(double samplesPerSecond, std::string_view how) {
  if (std::isfinite(samplesPerSecond) && samplesPerSecond >= kMinSampleRate &&
      samplesPerSecond <= kMaxSampleRate)
    return "";
  return std::string(how) + " " + ShortNumberText(samplesPerSecond) +
         " samples per second, outside " + ShortNumberText(kMinSampleRate) + " to " +
         ShortNumberText(kMaxSampleRate);
}

}  // namespace

std::string ShortNumberText(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
  return std::string(text, result.ptr);
}

std::string_view RateSourceText(RateSource source) {
  switch (source) {
    case RateSource::Given: return "given";
    case RateSource::Header: return "header";
    case RateSource::TimeColumn: return "time column";
  }
  return "";
}

double NearestSensorRate(double samplesPerSecond) {
  double best = 0;
  for (uint32_t word = 0; word <= 0xFF; ++word) {
    const double period = std::chrono::duration<double>(SamplePeriod(static_cast<uint16_t>(word))).count();
    const double rate = 1.0 / period;
    if (best == 0 || std::fabs(rate - samplesPerSecond) < std::fabs(best - samplesPerSecond))
      best = rate;
  }
  return best;
}

std::optional<LogError> DetectSampleRate(const LogLayout& layout, const LogSeries& series,
                                         std::optional<double> given, SampleRate& rate) {
  rate = SampleRate{};
  const std::string fileName = layout.files.empty() ? "" : layout.files.front().path.string();
  std::optional<double> found;
  if (given) {
    if (const std::string problem = RateProblem(*given, "the rate given is"); !problem.empty())
      return LogError{fileName, 0, problem, false};
    found = *given;
    rate.source = RateSource::Given;
  }
  if (!found) {
    // The header: begin seconds before the first sample, end seconds after the last.
    double rows = 0, seconds = 0;
    bool all = !layout.files.empty() && layout.files.size() == series.files.size();
    for (size_t i = 0; all && i < layout.files.size(); ++i) {
      const LogFileInfo& info = layout.files[i];
      if (!info.beginSeconds || !info.endSeconds) {
        all = false;
        break;
      }
      double duration = *info.endSeconds - *info.beginSeconds;
      if (duration < 0) duration += kSecondsPerDay;  // the file spans midnight
      rows += static_cast<double>(series.files[i].rows);
      seconds += duration;
    }
    if (all && seconds > 0) {
      found = rows / seconds;
      rate.source = RateSource::Header;
    }
  }
  if (!found) {
    // The time column: the start of the first sample to the start of the last.
    double intervals = 0, seconds = 0;
    for (const LogFileRows& file : series.files) {
      if (!file.firstTime || !file.lastTime || file.rows < 2) continue;
      double duration = *file.lastTime - *file.firstTime;
      if (duration < 0) duration += kSecondsPerDay;
      intervals += static_cast<double>(file.rows - 1);
      seconds += duration;
    }
    if (seconds > 0) {
      found = intervals / seconds;
      rate.source = RateSource::TimeColumn;
    }
  }
  if (!found)
    return LogError{fileName, 0,
                    "tells no sample rate (no header and no time column): give the rate", false};
  if (const std::string problem = RateProblem(
          *found, rate.source == RateSource::Header ? "the header's times give" : "the time column gives");
      !problem.empty())
    return LogError{fileName, 0, problem + ": give the rate", false};
  rate.samplesPerSecond = *found;

  const int64_t rows = series.Rows();
  for (size_t i = 0; i < layout.columns.size() && i < series.newDataZeros.size(); ++i) {
    if (series.newDataZeros[i] == 0) continue;
    rate.warnings.push_back("column " + layout.columns[i].title + " holds 0 in " +
                            std::to_string(series.newDataZeros[i]) + " of " +
                            std::to_string(rows) +
                            " rows: the rows are not one per sensor sample, and the analysis "
                            "assumes evenly spaced samples");
  }
  if (rate.source != RateSource::Given) {
    const double nearest = NearestSensorRate(*found);
    if (std::fabs(*found - nearest) > kRateTolerance * nearest)
      rate.warnings.push_back("the rows come at " + RateText(*found) +
                              " per second, not at a rate the sensor samples at (nearest " +
                              RateText(nearest) +
                              "): a log taken without burst reads? The analysis assumes one row "
                              "per sensor sample");
  }
  return std::nullopt;
}

}  // namespace pemra
