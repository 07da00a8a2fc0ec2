#pragma once
// The sample rate of a log, for the averaging times of its analysis: given by the user, or
// from the header (rows / (End Seconds - Begin Seconds)), or from the time column. The
// analysis assumes one row per sensor sample, evenly spaced; the warnings say when the log
// suggests otherwise.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/LogReader.h"

namespace pemra {

// The rates the analysis takes, in samples per second: any other (from the header, the time
// column or the user) is refused.
inline constexpr double kMinSampleRate = 1e-3;
inline constexpr double kMaxSampleRate = 1e6;

enum class RateSource { Given, Header, TimeColumn };

struct SampleRate {
  double samplesPerSecond = 0;
  RateSource source = RateSource::Given;
  std::vector<std::string> warnings;
};

// "given", "header", "time column".
std::string_view RateSourceText(RateSource source);

// The rate of `series` read from `layout`: `given` when set, else the header's, else the time
// column's. An error when none can be found, or when the rate found or given is not within
// kMinSampleRate to kMaxSampleRate.
std::optional<LogError> DetectSampleRate(const LogLayout& layout, const LogSeries& series,
                                         std::optional<double> given, SampleRate& rate);

// "1E+300"-like short text of a number (six significant digits, C locale) for messages.
std::string ShortNumberText(double value);

// The sensor rate (samples per second) nearest to `samplesPerSecond`, over every SMPL_PRD word.
double NearestSensorRate(double samplesPerSecond);

}  // namespace pemra
