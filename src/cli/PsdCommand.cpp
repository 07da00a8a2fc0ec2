#include "cli/PsdCommand.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <climits>
#include <cmath>
#include <span>

#include <fmt/format.h>

#include "analysis/NoiseFigures.h"
#include "analysis/Psd.h"
#include "cli/AnalysisInput.h"
#include "core/NumberText.h"

namespace pemra::cli {

namespace {

constexpr int64_t kMinSamples = 2;

// Seven significant digits, as people read a density; the double's own range, so no
// value turns into an infinity on the way.
std::string Text(double value, char sep) {
  const std::string rounded = fmt::format("{:.6e}", value);
  double shown = value;
  std::from_chars(rounded.data(), rounded.data() + rounded.size(), shown);
  return GeneralText(shown, sep);
}

void PrintSummary(const AnalysisColumn& c, const SpectrumSummary& summary, char sep,
                  std::ostream& out) {
  const std::string unit = (c.unit.empty() ? std::string("units") : c.unit) + "/sqrt(Hz)";
  const FigureUnit n = UnitsFor(c.kind, c.unit).n;
  const std::string nName = c.kind == ColumnKind::Accel ? "N velocity random walk"
                                                        : "N angle random walk";
  const FlatBand& flat = summary.flat;
  if (!flat.determined) {
    out << fmt::format("{:<28} not determined: {}\n", "flat band", flat.reason);
    out << fmt::format("{:<28} not determined: {}\n", nName, flat.reason);
  } else {
    out << fmt::format("{:<28} {} {} (68%: {} to {}; {} to {} Hz, {} bins)\n", "flat band",
                       Text(flat.density, sep), unit, Text(flat.low, sep), Text(flat.high, sep),
                       Text(flat.frequencyLow, sep), Text(flat.frequencyHigh, sep), flat.bins);
    // White noise: one-sided S = 2 N^2, so N = sqrt(S / 2), in unit * sqrt(s).
    const double root = std::sqrt(0.5) * n.factor;
    out << fmt::format("{:<28} {} {} (sqrt(S/2) of the flat band; 68%: {} to {})\n", nName,
                       Text(flat.density * root, sep), n.name, Text(flat.low * root, sep),
                       Text(flat.high * root, sep));
  }
  if (summary.peaks.empty())
    out << fmt::format("{:<28} none clearly above the floor\n", "peaks");
  for (const SpectrumPeak& p : summary.peaks)
    out << fmt::format("{:<28} {} Hz: {} {} (floor {})\n", "peak", Text(p.frequency, sep),
                       Text(p.density, sep), unit, Text(p.floor, sep));
}

}  // namespace

void AddPsdCommand(CLI::App& app, Command& command) {
  PsdOptions& o = command.psd;
  auto* psd = app.add_subcommand(
      "psd", "noise spectrum (amplitude density) of a data log (no sensor needed)");
  AddLogInputOptions(*psd, o.files, o.columns, o.rate, o.join);
  psd->add_option("--segment", o.segment,
                  "samples per segment, at least 2 (default: 16384, or the whole log when shorter)");
  psd->add_flag("--csv", o.csv, "one line per frequency: column,frequency_hz,density");
  AddStretchOptions(*psd, o.from, o.to, "analyse");
  psd->callback([&command] { command.kind = CommandKind::Psd; });
}

int RunPsd(const PsdOptions& options, std::ostream& out, std::ostream& err, char decimalSeparator) {
  std::optional<double> rate;
  if (const int status = ParseRateOption(options.rate, rate, err); status != kExitDone)
    return status;
  int64_t segment = 0;
  if (!options.segment.empty()) {
    const std::string& text = options.segment;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), segment);
    if (error != std::errc{} || end != text.data() + text.size() || segment < 2 ||
        segment > INT_MAX)
      return UsageError(err, "--segment: '" + text + "' is not a whole number of samples from 2 to " +
                                 std::to_string(INT_MAX));
  }

  std::optional<double> from, to;
  if (const int status = ParseStretchOptions(options.from, options.to, from, to, err);
      status != kExitDone)
    return status;

  AnalysisLog log;
  if (const int status = ReadAnalysisLog(options.files, options.columns, rate, options.join, kMinSamples,
                                         "the spectrum", err, log);
      status != kExitDone)
    return status;
  // The stretch asked for, by the rows' times as the log viewer and adev place them.
  RowRange stretch;
  if (const int status = SelectStretch(log, from, to, kMinSamples, "the spectrum", err, stretch);
      status != kExitDone)
    return status;
  const int64_t rows = stretch.count;
  if (segment > rows)
    return UsageError(err, fmt::format("{}: {} samples: fewer than one segment of {} (--segment)",
                                       log.layout.files.front().path.string(), rows, segment));
  if (segment == 0) segment = DefaultPsdSegment(rows);
  const double samplesPerSecond = log.rate.samplesPerSecond;
  const double binWidth = samplesPerSecond / static_cast<double>(segment);

  // Every column's spectrum first, so that a refusal leaves no half-written output.
  struct Result {
    AnalysisColumn column;
    Spectrum spectrum;
    SpectrumSummary summary;
  };
  std::vector<Result> results;
  for (size_t i = 0; i < log.chosen.size(); ++i) {
    Result r{ChosenColumn(log, i, err),
             WelchSpectrum(std::span<const double>(log.series.values[i])
                               .subspan(static_cast<size_t>(stretch.first),
                                        static_cast<size_t>(stretch.count)),
                           samplesPerSecond, segment),
             {}};
    // Huge values at a tiny rate: a density beyond the doubles is refused, never printed.
    for (double d : r.spectrum.density)
      if (!std::isfinite(d))
        return UsageError(err, fmt::format("{}: column {}: the density exceeds the range of a "
                                           "double at {} samples/s",
                                           log.layout.files.front().path.string(),
                                           r.column.name, CText(samplesPerSecond)));
    r.summary = SummariseSpectrum(r.spectrum);
    results.push_back(std::move(r));
  }

  std::ostream& info = options.csv ? err : out;
  info << StretchLine(log, stretch, decimalSeparator);
  info << fmt::format("{} samples at {} samples/s (from the {}); Welch spectrum, Hann window: "
                      "{} segments of {} samples with 50% overlap, bins of {} Hz\n",
                      rows, Text(samplesPerSecond, decimalSeparator),
                      RateSourceText(log.rate.source), PsdSegmentCount(rows, segment), segment,
                      Text(binWidth, decimalSeparator));
  if (options.csv) out << "column,frequency_hz,density\n";
  for (const Result& r : results) {
    if (options.csv) {
      for (size_t b = 0; b < r.spectrum.frequency.size(); ++b)
        out << r.column.name << ',' << CText(r.spectrum.frequency[b]) << ','
            << CText(r.spectrum.density[b]) << '\n';
      err << r.column.name << ":\n";
      PrintSummary(r.column, r.summary, decimalSeparator, err);
    } else {
      out << '\n' << r.column.name << '\n';
      PrintSummary(r.column, r.summary, decimalSeparator, out);
    }
  }
  return kExitDone;
}

}  // namespace pemra::cli
