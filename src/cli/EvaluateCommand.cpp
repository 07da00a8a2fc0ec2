#include "cli/EvaluateCommand.h"

#include <CLI/CLI.hpp>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include <fmt/format.h>

#include "cli/InputText.h"
#include "cli/LogCommand.h"
#include "cli/StopSignals.h"
#include "core/DataDirectory.h"
#include "core/DeviceModel.h"
#include "core/Version.h"
#include "datalog/TimeOfDay.h"
#include "evaluation/Comparison.h"
#include "evaluation/Evaluation.h"
#include "evaluation/FiguresJson.h"
#include "evaluation/ReportFiles.h"
#include "evaluation/ReportHtml.h"
#include "evaluation/SvgPlot.h"
#include "pdf/ReportPdf.h"

namespace pemra::cli {

namespace {

namespace fs = std::filesystem;

constexpr double kMaxDurationSeconds = 7 * 24 * 3600.0;
constexpr uintmax_t kMaxLimitsBytes = 1 << 20;
constexpr uintmax_t kMaxFiguresBytes = 256 << 20;
constexpr auto kProgressInterval = std::chrono::milliseconds(250);

int Usage(std::ostream& err, const std::string& text) {
  err << "pemra-cli: " << Shown(text, 4 * kMaxShown) << '\n';
  return kExitUsage;
}

// Reads a text file of at most `maxBytes` whole; an error names the file and the reason.
std::optional<std::string> ReadSmallFile(const fs::path& path, std::string& text, uintmax_t maxBytes) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return path.string() + ": " + (ec ? ec.message() : "not a regular file");
  if (fs::file_size(path, ec) > maxBytes) return path.string() + fmt::format(": larger than {} bytes", maxBytes);
  std::ifstream in(path, std::ios::binary);
  if (!in) return path.string() + ": " + std::strerror(errno);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return std::nullopt;
}

bool SamePath(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  return fs::exists(a, ec) && fs::exists(b, ec) && fs::equivalent(a, b, ec);
}

// The output folder, made when missing; an error names it and the reason.
std::optional<std::string> PrepareFolder(const std::string& given, fs::path& dir) {
  std::error_code ec;
  dir = given.empty() ? fs::current_path(ec) : fs::path(given);
  if (ec) return "the current directory: " + ec.message();
  fs::create_directories(dir, ec);
  if (ec) return dir.string() + ": " + ec.message();
  if (!fs::is_directory(dir, ec)) return dir.string() + ": not a directory";
  return std::nullopt;
}

class CliObserver final : public EvaluationObserver {
 public:
  CliObserver(std::ostream& err, bool progress) : err_(err), progress_(progress) {}
  ~CliObserver() override {
    if (shown_) err_ << '\n';
  }
  CliObserver(const CliObserver&) = delete;
  CliObserver& operator=(const CliObserver&) = delete;

  void StageStarted(EvaluationStage stage) override {
    stage_ = stage;
    Show(0, -1, true);
  }
  void Progress(EvaluationStage, double fraction, double secondsLeft) override { Show(fraction, secondsLeft, false); }

 private:
  void Show(double fraction, double secondsLeft, bool force) {
    if (!progress_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && shown_ && now - last_ < kProgressInterval) return;
    last_ = now;
    shown_ = true;
    std::string text = fmt::format("\rstage {} of {}, {}: {:3.0f}%", static_cast<int>(stage_) + 1, kEvaluationStages,
                                   StageText(stage_), 100 * fraction);
    if (secondsLeft >= 0) text += fmt::format(", {:.0f} s left", secondsLeft);
    err_ << text << "      " << std::flush;
  }

  std::ostream& err_;
  bool progress_;
  bool shown_ = false;
  EvaluationStage stage_ = EvaluationStage::Identify;
  std::chrono::steady_clock::time_point last_;
};

// One line per figure on standard output: what an engineer reads off at once.
void PrintSummary(const EvaluationResult& result, std::ostream& out) {
  const EvaluationReport& r = result.report;
  if (!r.complete) out << "INCOMPLETE: " << r.incompleteReason << '\n';
  for (const AxisReport& a : r.axes)
    for (const FigureRecord& f : a.figures) {
      std::string line = fmt::format("{:<10} {:<8} {}", a.title, f.key,
                                     f.determined ? ShortNumber(f.value) + " " + f.unit : "not determined (" + f.reason + ")");
      if (f.hasInterval) line += " [" + ShortNumber(f.low) + ", " + ShortNumber(f.high) + "]";
      if (f.hasLimit) line += fmt::format("  limit {}  {}", f.limitText, VerdictText(f.verdict));
      out << line << '\n';
    }
  if (r.selfTestRun) out << "self-test " << (r.selfTestPassed ? "PASS" : "FAIL") << '\n';
  const Verdict overall = r.Overall();
  out << "verdict " << (overall == Verdict::None ? "no limits" : VerdictText(overall)) << '\n';
  for (const auto& path : result.written) out << "wrote " << path.string() << '\n';
}

}  // namespace

void AddEvaluateCommand(CLI::App& app, Command& command) {
  EvaluateOptions& o = command.evaluate;
  auto* evaluate = app.add_subcommand(
      "evaluate", "characterise the sensor: identify, self-test, still log, noise figures, limits; a report folder");
  evaluate->add_option("--duration", o.duration, "seconds of still log (default 3600)");
  evaluate->add_option("--limits", o.limits, "limits file (JSON): maxima per axis kind or axis, with units");
  evaluate->add_option("--out", o.out, "report folder, made when missing (default: the current directory)");
  evaluate->add_option("--channels", o.channels,
                       "register names or numbers 1 to 11 to log, comma-separated (default: all eleven)");
  evaluate->add_option("--compare", o.compare,
                       "compare the evaluations in these folders (their figures.json) into one report in --out")
      ->expected(1, -1);
  evaluate->callback([&command] { command.kind = CommandKind::Evaluate; });
}

int RunEvaluate(const Command& command, Connection& connection, Streams streams) {
  const EvaluateOptions& o = command.evaluate;
  std::ostream& err = streams.err;
  double duration = 0;
  {
    const std::string& text = o.duration;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), duration);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || !(duration > 0) ||
        duration > kMaxDurationSeconds)
      return Usage(err, fmt::format("--duration: '{}' is not a number of seconds above 0 and at most {}",
                                    Shown(text), kMaxDurationSeconds));
  }
  Session& raw = connection.Raw();
  RegisterTable names;
  InitRegisterTable(names);
  ApplyModelTable(raw.selection.DeviceType, names);
  std::string bad;
  const std::optional<ChannelSet> channels = ParseChannelList(o.channels, names, &bad);
  if (!channels)
    return Usage(err, fmt::format("'{}' is not a channel: give output register names or numbers 1 to 11", Shown(bad)));
  if (std::none_of(channels->begin() + 2, channels->begin() + 8, [](bool b) { return b; }))
    return Usage(err, "--channels: name at least one gyro or accelerometer channel to analyse");

  fs::path dir;
  if (auto error = PrepareFolder(o.out, dir)) {
    err << "pemra-cli: cannot use the report folder " << Shown(*error, 4 * kMaxShown) << '\n';
    return kExitFailed;
  }
  EvaluationSettings settings;
  if (!o.limits.empty()) {
    for (std::string_view name : {kReportHtmlName, kReportPdfName, kFiguresJsonName, kImuYamlName})
      if (SamePath(o.limits, dir / name))
        return Usage(err, o.limits + ": the limits file is one of the outputs (" + std::string(name) + ")");
    std::string text;
    if (auto error = ReadSmallFile(o.limits, text, kMaxLimitsBytes)) return Usage(err, "cannot read the limits file " + *error);
    if (auto error = ParseLimits(text, settings.limits)) return Usage(err, o.limits + ": " + *error);
    if (auto error = CheckLimitsForChannels(settings.limits, *channels, names))
      return Usage(err, o.limits + ": " + *error);
  }
  settings.durationSeconds = duration;
  settings.outDir = dir;
  settings.channels = *channels;
  settings.limitsFile = o.limits;
  settings.program = "pemra-cli";
  settings.version = VersionText();
  settings.command = o.commandLine;
  settings.decimalSeparator = connection.DecimalSeparator();

  Session* session = nullptr;
  if (const int status = connection.Open(session); status != kExitDone) return status;
  TimeOfDay& day = connection.LogTimeOfDay();
  const bool progress = &err == &std::cerr && ::isatty(STDERR_FILENO) == 1;
  EvaluationResult result;
  {
    StopSignals signals;
    CliObserver observer(err, progress);
    const EvaluationContext context{*session, connection.SessionClock(), day, &StopSignals::Requested(),
                                    RenderReportPdf, {}};
    result = RunEvaluation(context, settings, observer);
  }
  PrintSummary(result, streams.out);
  for (const std::string& w : result.report.warnings) err << "pemra-cli: warning: " << Shown(w, 4 * kMaxShown) << '\n';
  switch (result.end) {
    case EvaluationEnd::DeviceFailed:
    case EvaluationEnd::FileFailed:
      err << "pemra-cli: " << Shown(result.error, 4 * kMaxShown) << '\n';
      return kExitFailed;
    case EvaluationEnd::Cancelled:
      if (StopSignals::Signal() == SIGTERM) return kExitTerminated;
      return kExitInterrupted;
    case EvaluationEnd::Completed:
      break;
  }
  for (const AxisReport& a : result.report.axes)
    for (const FigureRecord& f : a.figures)
      if (f.verdict == Verdict::Fail)
        err << fmt::format("pemra-cli: FAIL: {} {} {}: {} against the limit {}\n", a.title, f.key, f.name,
                           f.determined ? ShortNumber(f.value) + " " + f.unit : "not determined", f.limitText);
  if (result.report.selfTestRun && !result.report.selfTestPassed) err << "pemra-cli: FAIL: the self-test\n";
  return result.report.Overall() == Verdict::Fail ? kExitLimitFailed : kExitDone;
}

int RunCompare(const EvaluateOptions& o, Streams streams) {
  std::ostream& err = streams.err;
  fs::path dir;
  if (auto error = PrepareFolder(o.out, dir)) {
    err << "pemra-cli: cannot use the report folder " << Shown(*error, 4 * kMaxShown) << '\n';
    return kExitFailed;
  }
  std::vector<ComparedUnit> units;
  for (const std::string& folder : o.compare) {
    const fs::path json = fs::path(folder) / kFiguresJsonName;
    std::string text;
    if (auto error = ReadSmallFile(json, text, kMaxFiguresBytes)) return Usage(err, "cannot read " + *error);
    ComparedUnit unit;
    unit.folder = folder;
    if (auto error = ReadFiguresJson(text, unit.report)) return Usage(err, json.string() + ": " + *error);
    units.push_back(std::move(unit));
  }
  const fs::path target = dir / kComparisonHtmlName;
  for (const std::string& folder : o.compare)
    if (SamePath(target, fs::path(folder) / kReportHtmlName) || SamePath(target, fs::path(folder) / kFiguresJsonName))
      return Usage(err, target.string() + " would replace an input");
  const std::string html = ComparisonHtml(units, o.commandLine, VersionText());
  std::string error;
  if (!WriteReportFile(target, html, &error)) {
    err << "pemra-cli: " << Shown(error, 4 * kMaxShown) << '\n';
    return kExitFailed;
  }
  streams.out << "wrote " << target.string() << '\n';
  return kExitDone;
}

}  // namespace pemra::cli
