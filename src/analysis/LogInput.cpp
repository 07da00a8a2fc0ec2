#include "analysis/LogInput.h"

#include <cmath>

#include "datalog/TimeOfDay.h"

namespace pemra {

namespace {

// A file follows on from the one before it when its header's begin lies within this many
// sample periods of the other's end...
constexpr double kFollowPeriods = 4;
// ... plus the time the program itself takes to close one file and open the next.
constexpr double kFileSwitchSeconds = 0.05;

// One unit in the seventh significant digit: the header writes its seconds to seven.
double HeaderResolution(double seconds) {
  if (seconds == 0 || !std::isfinite(seconds)) return 0;
  return std::pow(10.0, std::floor(std::log10(std::fabs(seconds))) - 6);
}

std::string Name(const LogFileInfo& file) { return file.path.filename().string(); }

// Why `b` does not follow on from `a` in one session, or empty when it does.
std::string Break(const LogFileInfo& a, const LogFileInfo& b, double samplesPerSecond) {
  std::string baseA, baseB, extA, extB;
  const int64_t numberA = SessionNumber(a.path, baseA, extA);
  const int64_t numberB = SessionNumber(b.path, baseB, extB);
  if (numberA < 0 || numberB < 0 || baseA != baseB || extA != extB)
    return "is not the file after " + Name(a) + " in one session (by their names)";
  if (numberB != numberA + 1)
    return "follows " + Name(a) + " with " + std::to_string(numberB - numberA - 1) +
           " file(s) of the session missing between them";
  if (!a.endSeconds || !b.beginSeconds)
    return "has no header times that show it follows on from " + Name(a);
  double gap = *b.beginSeconds - *a.endSeconds;
  if (gap < -kSecondsPerDay / 2) gap += kSecondsPerDay;  // the session spans midnight
  if (gap > kSecondsPerDay / 2) gap -= kSecondsPerDay;
  const double tolerance = (samplesPerSecond > 0 ? kFollowPeriods / samplesPerSecond : 0) +
                           HeaderResolution(*a.endSeconds) +
                           HeaderResolution(*b.beginSeconds) + kFileSwitchSeconds;
  if (std::fabs(gap) <= tolerance) return "";
  return "begins " + ShortNumberText(std::fabs(gap)) + " s " + (gap > 0 ? "after " : "before ") +
         Name(a) + " ends";
}

LogInputError Wrap(LogError error, bool session = false) {
  LogInputError wrapped;
  static_cast<LogError&>(wrapped) = std::move(error);
  wrapped.session = session;
  return wrapped;
}

}  // namespace

std::optional<LogError> SessionGaps(const LogLayout& layout, const LogSeries& series,
                                    double samplesPerSecond, std::vector<SessionGap>& gaps) {
  gaps.clear();
  int64_t row = 0;
  for (size_t i = 0; i < layout.files.size(); ++i) {
    const LogFileInfo& b = layout.files[i];
    for (size_t k = 0; k < i; ++k) {
      const LogFileInfo& a = layout.files[k];
      if (a.device == b.device && a.inode == b.inode)
        return LogError{b.path.string(), 0, "is " + a.path.string() + " again: one file given twice",
                        false};
    }
    if (i > 0) {
      std::string reason = Break(layout.files[i - 1], b, samplesPerSecond);
      if (!reason.empty()) gaps.push_back({i, row, std::move(reason)});
    }
    if (i < series.files.size()) row += series.files[i].rows;
  }
  return std::nullopt;
}

std::optional<LogInputError> ReadLogInput(const LogInputOptions& options, LogInput& input) {
  input = LogInput{};
  if (auto error = InspectLog(options.files, input.layout)) return Wrap(*error);
  if (auto error = ChooseColumns(input.layout, options.columns, input.columns)) return Wrap(*error);
  if (auto error = ReadLog(input.layout, input.columns, options.control, input.series))
    return Wrap(*error);
  if (input.series.Rows() < options.minimumRows)
    return Wrap(LogError{input.layout.files.front().path.string(), 0,
                         std::to_string(input.series.Rows()) + " samples: " +
                             options.minimumRowsFor + " needs at least " +
                             std::to_string(options.minimumRows),
                         false});
  if (auto error = DetectSampleRate(input.layout, input.series, options.rate, input.rate))
    return Wrap(*error);
  input.warnings = input.rate.warnings;
  std::vector<SessionGap> gaps;
  if (auto error = SessionGaps(input.layout, input.series, input.rate.samplesPerSecond, gaps))
    return Wrap(*error);
  if (!gaps.empty() && !options.join) {
    const SessionGap& gap = gaps.front();
    return Wrap(LogError{input.layout.files[gap.file].path.string(), 0,
                         gap.reason + ": not one session", false},
                true);
  }
  for (const SessionGap& gap : gaps)
    input.warnings.push_back(input.layout.files[gap.file].path.string() + ": " + gap.reason +
                             ": a gap in the series");
  input.gaps = std::move(gaps);
  return std::nullopt;
}

}  // namespace pemra
