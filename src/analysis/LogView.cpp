#include "analysis/LogView.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <system_error>
#include <thread>

#include "core/NumberText.h"

namespace pemra {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Count, mean and sum of squared deviations of a part of a column; parts merge exactly
// (Chan, Golub and LeVeque), so block summaries and loose rows add up to the whole range.
struct Accumulator {
  int64_t n = 0;
  double mean = 0;
  double m2 = 0;

  void Add(double x) {
    ++n;
    const double delta = x - mean;
    mean += delta / static_cast<double>(n);
    m2 += delta * (x - mean);
  }
  void Merge(int64_t bn, double bmean, double bm2) {
    if (bn == 0) return;
    const int64_t total = n + bn;
    const double delta = bmean - mean;
    mean += delta * static_cast<double>(bn) / static_cast<double>(total);
    m2 += bm2 + delta * delta * static_cast<double>(n) * static_cast<double>(bn) /
                    static_cast<double>(total);
    n = total;
  }
};

void Widen(double value, double& min, double& max) {
  min = std::min(min, value);
  max = std::max(max, value);
}

RowRange Clamp(RowRange rows, int64_t total) {
  const int64_t first = std::clamp<int64_t>(rows.first, 0, total);
  const int64_t end = std::clamp<int64_t>(rows.End(), first, total);
  return {first, end - first};
}

}  // namespace

ColumnSummary::ColumnSummary(std::span<const double> values) {
  // One sweep over the column: each coarse block's fine extremes and sum as its rows go by,
  // and in the same loop the squared deviations of the block before it, whose mean is then
  // known. The two running sums depend each on its own last step only, so interleaving them
  // lets the processor work on both at once; each still adds its terms in row order.
  const size_t n = values.size();
  fine_.reserve(n / kFineBlock);
  coarse_.reserve(n / kCoarseBlock);
  // Fine blocks [b, b + kCoarseBlock); with `previous`, also its squared deviations.
  auto fines = [&](size_t b, double& sum, Moments& m, Moments* previous) {
    const size_t back = previous != nullptr ? kCoarseBlock : 0;
    double m2 = previous != nullptr ? previous->m2 : 0;
    const double mean = previous != nullptr ? previous->mean : 0;
    for (size_t f = b; f < b + kCoarseBlock; f += kFineBlock) {
      Extremes e{values[f], values[f]};
      if (previous != nullptr) {
        for (size_t i = f; i < f + kFineBlock; ++i) {
          Widen(values[i], e.min, e.max);
          sum += values[i];
          m2 += (values[i - back] - mean) * (values[i - back] - mean);
        }
      } else {
        for (size_t i = f; i < f + kFineBlock; ++i) {
          Widen(values[i], e.min, e.max);
          sum += values[i];
        }
      }
      fine_.push_back(e);
      Widen(e.min, m.min, m.max);
      Widen(e.max, m.min, m.max);
    }
    if (previous != nullptr) previous->m2 = m2;
  };
  std::optional<Moments> previous;
  size_t b = 0;
  for (; b + kCoarseBlock <= n; b += kCoarseBlock) {
    Moments m{values[b], values[b], 0, 0};
    double sum = 0;
    fines(b, sum, m, previous ? &*previous : nullptr);
    if (previous) coarse_.push_back(*previous);
    m.mean = sum / static_cast<double>(kCoarseBlock);
    previous = m;
  }
  if (previous) {
    const size_t last = b - kCoarseBlock;
    for (size_t i = last; i < b; ++i)
      previous->m2 += (values[i] - previous->mean) * (values[i] - previous->mean);
    coarse_.push_back(*previous);
  }
  for (; b + kFineBlock <= n; b += kFineBlock) {
    Extremes e{values[b], values[b]};
    for (size_t i = b; i < b + kFineBlock; ++i) Widen(values[i], e.min, e.max);
    fine_.push_back(e);
  }
}

bool ColumnSummary::MinMax(std::span<const double> values, int64_t first, int64_t end,
                           double& min, double& max) const {
  first = std::max<int64_t>(first, 0);
  end = std::min<int64_t>(end, static_cast<int64_t>(values.size()));
  if (first >= end) return false;
  min = std::numeric_limits<double>::infinity();
  max = -min;
  // Loose rows at either end, whole fine blocks next to them, whole coarse blocks inside.
  auto raw = [&](int64_t a, int64_t b) {
    for (int64_t i = a; i < b; ++i) Widen(values[static_cast<size_t>(i)], min, max);
  };
  auto fine = [&](int64_t a, int64_t b) {
    const int64_t fa = (a + kFineBlock - 1) / kFineBlock;
    const int64_t fb = std::min<int64_t>(b / kFineBlock, static_cast<int64_t>(fine_.size()));
    if (fa >= fb) return raw(a, b);
    raw(a, fa * kFineBlock);
    for (int64_t f = fa; f < fb; ++f) {
      Widen(fine_[static_cast<size_t>(f)].min, min, max);
      Widen(fine_[static_cast<size_t>(f)].max, min, max);
    }
    raw(fb * kFineBlock, b);
  };
  const int64_t ca = (first + kCoarseBlock - 1) / kCoarseBlock;
  const int64_t cb = std::min<int64_t>(end / kCoarseBlock, static_cast<int64_t>(coarse_.size()));
  if (ca >= cb) {
    fine(first, end);
    return true;
  }
  fine(first, ca * kCoarseBlock);
  for (int64_t c = ca; c < cb; ++c) {
    Widen(coarse_[static_cast<size_t>(c)].min, min, max);
    Widen(coarse_[static_cast<size_t>(c)].max, min, max);
  }
  fine(cb * kCoarseBlock, end);
  return true;
}

ColumnStatistics ColumnSummary::Statistics(std::span<const double> values, RowRange rows) const {
  rows = Clamp(rows, static_cast<int64_t>(values.size()));
  ColumnStatistics s;
  s.count = rows.count;
  if (!MinMax(values, rows.first, rows.End(), s.min, s.max)) {
    s.mean = s.deviation = s.min = s.max = s.rms = kNaN;
    return s;
  }
  Accumulator acc;
  auto raw = [&](int64_t a, int64_t b) {
    for (int64_t i = a; i < b; ++i) acc.Add(values[static_cast<size_t>(i)]);
  };
  const int64_t ca = (rows.first + kCoarseBlock - 1) / kCoarseBlock;
  const int64_t cb = std::min<int64_t>(rows.End() / kCoarseBlock, static_cast<int64_t>(coarse_.size()));
  if (ca >= cb) {
    raw(rows.first, rows.End());
  } else {
    raw(rows.first, ca * kCoarseBlock);
    for (int64_t c = ca; c < cb; ++c) {
      const Moments& m = coarse_[static_cast<size_t>(c)];
      acc.Merge(kCoarseBlock, m.mean, m.m2);
    }
    Accumulator tail;
    for (int64_t i = cb * kCoarseBlock; i < rows.End(); ++i) tail.Add(values[static_cast<size_t>(i)]);
    acc.Merge(tail.n, tail.mean, tail.m2);
  }
  s.mean = acc.mean;
  // The mean square from the parts already merged: mean^2 + (population variance).
  s.rms = std::sqrt(acc.mean * acc.mean + acc.m2 / static_cast<double>(acc.n));
  s.deviation = acc.n >= 2 ? std::sqrt(acc.m2 / static_cast<double>(acc.n - 1)) : kNaN;
  return s;
}

double LoadedLog::RowTime(int64_t row) const {
  const double r = static_cast<double>(row);
  return samplesPerSecond > 0 ? r / samplesPerSecond : r;
}

const LogColumn& LoadedLog::Column(size_t slot) const {
  return layout.columns[static_cast<size_t>(series.columns[slot])];
}

std::string LoadedLog::ColumnTitle(size_t slot) const {
  const LogColumn& column = Column(slot);
  if (!column.title.empty()) return column.title;
  return "Column " + std::to_string(series.columns[slot] + 1);
}

RowRange LoadedLog::VisibleRows(double fromSeconds, double toSeconds) const {
  return RowsBetween(Rows(), samplesPerSecond, fromSeconds, toSeconds);
}

std::string LoadedLog::Name() const {
  std::vector<std::string> names;
  for (const LogFileInfo& file : layout.files) names.push_back(file.path.filename().string());
  if (names.size() > 3) names = {names.front(), "...", names.back()};
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

std::vector<int> ViewColumns(const LogLayout& layout) {
  std::vector<int> columns;
  for (size_t i = 0; i < layout.columns.size(); ++i) {
    const ColumnKind kind = layout.columns[i].kind;
    if (kind != ColumnKind::SampleNumber && kind != ColumnKind::Time && kind != ColumnKind::NewData)
      columns.push_back(static_cast<int>(i));
  }
  return columns;
}

void Summarise(LoadedLog& log) {
  // One pass over each column, the columns shared among the machine's cores.
  const size_t columns = log.series.values.size();
  log.summaries.assign(columns, ColumnSummary{});
  const size_t threads = std::clamp<size_t>(std::thread::hardware_concurrency(), 1,
                                            std::max<size_t>(columns, 1));
  auto summarise = [&](size_t from) {
    for (size_t slot = from; slot < columns; slot += threads)
      log.summaries[slot] = ColumnSummary(log.series.values[slot]);
  };
  std::vector<std::thread> workers;
  size_t started = 1;
  try {
    for (; started < threads; ++started) workers.emplace_back(summarise, started);
  } catch (const std::system_error&) {
    // No more threads to be had: this thread takes the rest.
  }
  for (size_t from = started; from < threads; ++from) summarise(from);
  summarise(0);
  for (std::thread& worker : workers) worker.join();
}

namespace {

std::optional<LogError> ReadForViewing(const std::vector<int>& columns, const ReadControl& control,
                                       LoadedLog& log) {
  if (auto error = ReadLog(log.layout, columns, control, log.series)) return error;
  SampleRate rate;
  if (auto error = DetectSampleRate(log.layout, log.series, std::nullopt, rate)) {
    log.rateProblem = error->reason;
  } else {
    log.samplesPerSecond = rate.samplesPerSecond;
    log.rateSource = rate.source;
    log.rateWarnings = rate.warnings;
  }
  if (auto error = SessionGaps(log.layout, log.series, log.samplesPerSecond, log.gaps)) return error;
  for (const SessionGap& gap : log.gaps)
    log.rateWarnings.push_back(log.layout.files[gap.file].path.filename().string() + ": " +
                               gap.reason + ": a gap in the series");
  Summarise(log);
  return std::nullopt;
}

}  // namespace

std::optional<LogError> LoadLog(const std::vector<std::filesystem::path>& files,
                                const ReadControl& control, LoadedLog& log) {
  log = LoadedLog{};
  if (auto error = InspectLog(files, log.layout)) return error;
  const std::vector<int> columns = ViewColumns(log.layout);
  if (columns.empty())
    return LogError{log.layout.files.front().path.string(), 0, "has no value columns", false};
  return ReadForViewing(columns, control, log);
}

std::optional<LogError> LoadLogColumns(const std::vector<std::filesystem::path>& files,
                                       const std::vector<std::string>& names,
                                       const ReadControl& control, LoadedLog& log) {
  log = LoadedLog{};
  if (auto error = InspectLog(files, log.layout)) return error;
  std::vector<int> columns;
  if (auto error = ChooseColumns(log.layout, names, columns)) return error;
  const std::vector<int> values = ViewColumns(log.layout);
  for (int c : columns)
    if (std::find(values.begin(), values.end(), c) == values.end())
      return LogError{log.layout.files.front().path.string(), 0,
                      "column " + std::to_string(c + 1) + " (\"" +
                          log.layout.columns[static_cast<size_t>(c)].title +
                          "\") holds no values to plot",
                      false};
  return ReadForViewing(columns, control, log);
}

namespace {

void PointsOf(const LoadedLog& log, size_t slot, RowRange rows, int buckets,
              std::vector<double>& keys, std::vector<double>& values);

}  // namespace

void DecimatedPoints(const LoadedLog& log, size_t slot, RowRange rows, int buckets,
                     std::vector<double>& keys, std::vector<double>& values) {
  PointsOf(log, slot, rows, buckets, keys, values);
  // A gap between files: a NaN point where the next file starts breaks the line.
  for (const SessionGap& gap : log.gaps) {
    if (keys.size() < 2) break;
    const double at = log.RowTime(gap.firstRow);
    if (!(at > keys.front() && at <= keys.back())) continue;
    const auto where = std::lower_bound(keys.begin(), keys.end(), at);
    values.insert(values.begin() + (where - keys.begin()), std::numeric_limits<double>::quiet_NaN());
    keys.insert(where, at);
  }
}

namespace {

void PointsOf(const LoadedLog& log, size_t slot, RowRange rows, int buckets,
              std::vector<double>& keys, std::vector<double>& values) {
  keys.clear();
  values.clear();
  const std::vector<double>& column = log.series.values[slot];
  const auto total = static_cast<int64_t>(column.size());
  // One row more on either side, so the line runs on to the edges of the view.
  RowRange wide{rows.first - 1, rows.count + 2};
  if (rows.count <= 0) wide = {rows.first - 1, 2};
  wide = Clamp(wide, total);
  if (wide.count == 0) return;
  buckets = std::max(buckets, 1);
  if (wide.count <= 2 * static_cast<int64_t>(buckets)) {
    keys.reserve(static_cast<size_t>(wide.count));
    values.reserve(static_cast<size_t>(wide.count));
    for (int64_t r = wide.first; r < wide.End(); ++r) {
      keys.push_back(log.RowTime(r));
      values.push_back(column[static_cast<size_t>(r)]);
    }
    return;
  }
  keys.reserve(2 * static_cast<size_t>(buckets));
  values.reserve(2 * static_cast<size_t>(buckets));
  const ColumnSummary& summary = log.summaries[slot];
  for (int b = 0; b < buckets; ++b) {
    const int64_t a = wide.first + wide.count * b / buckets;
    const int64_t e = wide.first + wide.count * (b + 1) / buckets;
    double min = 0;
    double max = 0;
    if (!summary.MinMax(column, a, e, min, max)) continue;
    keys.push_back(log.RowTime(a));
    values.push_back(min);
    keys.push_back(log.RowTime(a + (e - a) / 2));
    values.push_back(max);
  }
}

}  // namespace

std::string RowsCsvTitle(const LoadedLog& log, const std::vector<size_t>& chosen) {
  const char sep = log.layout.fieldSeparator;
  std::string line = "Sample #";
  line += sep;
  line += "Time (sec)";
  line += sep;
  for (size_t slot : chosen) {
    line += log.ColumnTitle(slot);
    line += sep;
  }
  line += "\r\n";
  return line;
}

void AppendRowsCsv(const LoadedLog& log, const std::vector<size_t>& chosen, RowRange rows,
                   int64_t firstNumber, std::string& out) {
  rows = Clamp(rows, log.Rows());
  const char sep = log.layout.fieldSeparator;
  const char decimal = log.layout.decimalSeparator;
  for (int64_t r = rows.first; r < rows.End(); ++r) {
    out += std::to_string(firstNumber + (r - rows.first));
    out += sep;
    out += GeneralText(log.RowTime(r), decimal);
    out += sep;
    for (size_t slot : chosen) {
      out += GeneralText(log.series.values[slot][static_cast<size_t>(r)], decimal);
      out += sep;
    }
    out += "\r\n";
  }
}

}  // namespace pemra
