#include "cli/LogCommand.h"

#include <CLI/CLI.hpp>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <charconv>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <iostream>

#include <fmt/format.h>

#include "cli/BurstSummaryText.h"
#include "cli/InputText.h"
#include "cli/StopSignals.h"
#include "core/DataDirectory.h"
#include "core/DeviceModel.h"
#include "datalog/BurstSampleReader.h"
#include "datalog/DatalogRun.h"
#include "datalog/TimeOfDay.h"

namespace pemra::cli {

namespace {

namespace fs = std::filesystem;

constexpr int64_t kMaxFiles = 2000000000;
constexpr int64_t kMaxSamples = 2147483647;
constexpr double kMaxDelayMs = 32000;
constexpr auto kProgressInterval = std::chrono::milliseconds(250);
constexpr size_t kMaxDirectory = PATH_MAX;

std::optional<int64_t> WholeNumber(std::string_view text, int64_t max) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < 1 ||
      value > max) {
    return std::nullopt;
  }
  return value;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

class CliFrontEnd final : public LogFrontEnd {
 public:
  CliFrontEnd(LogSettings settings, std::ostream& err, bool progress)
      : settings_(std::move(settings)), err_(err), progress_(progress) {}
  ~CliFrontEnd() override {
    if (shown_) err_ << '\n';
  }
  CliFrontEnd(const CliFrontEnd&) = delete;
  CliFrontEnd& operator=(const CliFrontEnd&) = delete;

  const LogSettings& Settings() override { return settings_; }
  void FileStarted(int64_t) override {}
  bool SampleTaken(const LogProgress& p) override {
    if (progress_) {
      const auto now = std::chrono::steady_clock::now();
      if (!shown_ || now - lastShown_ >= kProgressInterval || p.sample == p.samplesInFile) {
        err_ << fmt::format("\rfile {} of {}: {} of {} samples ", p.fileNumber, p.files, p.sample,
                            p.samplesInFile)
             << std::flush;
        lastShown_ = now;
        shown_ = true;
      }
    }
    return StopSignals::Signal() == 0;
  }
  // A signal also ends a long sample delay at once.
  bool Waiting(const LogProgress&) override { return StopSignals::Signal() == 0; }

 private:
  LogSettings settings_;
  std::ostream& err_;
  bool progress_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point lastShown_;
};

// The settings from the options, or a usage message and nullopt.
std::optional<LogSettings> Settings(const LogOptions& o, const RegisterTable& names,
                                    char decimalSeparator, std::ostream& err) {
  LogSettings s;
  if (const std::string_view rule = BaseFileNameProblem(o.name); !rule.empty()) {
    err << fmt::format("pemra-cli: '{}' is not a file name: {}{}\n", Shown(o.name), rule,
                       o.name.find('/') != std::string::npos ? " (give the directory with --dir)"
                                                             : "");
    return std::nullopt;
  }
  if (HasControlCharacter(o.dir) || o.dir.size() > kMaxDirectory) {
    err << fmt::format("pemra-cli: '{}' is not a directory name: {}\n", Shown(o.dir, 4 * kMaxShown),
                       o.dir.size() > kMaxDirectory
                           ? fmt::format("a path can be at most {} bytes long", kMaxDirectory)
                           : std::string("a path cannot hold control characters (NUL, a line end, "
                                         "ESC, ...)"));
    return std::nullopt;
  }
  s.baseFileName = o.name;
  const std::optional<int64_t> files = WholeNumber(o.files, kMaxFiles);
  if (!files) {
    err << fmt::format("pemra-cli: '{}' is not a number of files: give 1 to {}\n", Shown(o.files),
                       kMaxFiles);
    return std::nullopt;
  }
  const std::optional<int64_t> samples = WholeNumber(o.samples, kMaxSamples);
  if (!samples) {
    err << fmt::format("pemra-cli: '{}' is not a number of samples: give 1 to {}\n",
                       Shown(o.samples), kMaxSamples);
    return std::nullopt;
  }
  const std::optional<double> delay = ParseMilliseconds(o.delay, decimalSeparator);
  if (!delay || *delay > kMaxDelayMs) {
    err << fmt::format("pemra-cli: '{}' is not a sample delay: give 0 to 32000 milliseconds\n",
                       Shown(o.delay));
    return std::nullopt;
  }
  std::string bad;
  const std::optional<ChannelSet> channels = ParseChannelList(o.channels, names, &bad);
  if (!channels) {
    err << fmt::format(
        "pemra-cli: '{}' is not a channel: give output register names or numbers 1 to 11\n",
        Shown(bad));
    return std::nullopt;
  }
  s.filesPerSession = static_cast<double>(*files);
  s.samplesPerFile = static_cast<double>(*samples);
  s.sampleDelayMs = *delay;
  s.channels = *channels;
  s.time = o.time;
  s.disableNewData = o.noNewData;
  s.noScale = o.raw;
  s.noHeader = o.noHeader;
  return s;
}

}  // namespace

void AddLogCommand(CLI::App& app, Command& command) {
  LogOptions& o = command.log;
  auto* log = app.add_subcommand("log", "log samples to data-log files (as the datalog window)");
  log->add_option("--dir", o.dir, "directory of the files (default: the current directory)");
  log->add_option("--name", o.name, "base file name (default DATALOG): DATALOG_1.csv, ...");
  log->add_option("--files", o.files, "files per session (default 1)");
  log->add_option("--samples", o.samples, "samples per file (default 1000)");
  log->add_option("--delay", o.delay, "milliseconds to wait after each sample (default 0)");
  log->add_option("--channels", o.channels,
                  "register names or numbers 1 to 11, comma-separated (default: all eleven)");
  log->add_flag("--time", o.time, "a time column (seconds since the file's start)");
  log->add_flag("--no-nd", o.noNewData, "no new-data flag columns");
  log->add_flag("--raw", o.raw, "register values (LSB) instead of scaled values");
  log->add_flag("--no-header", o.noHeader, "sample rows only: no header and no title line");
  log->add_flag("--burst", o.burst,
                "one row per sensor sample: all channels in one exchange, paced by the new-data "
                "flag; a summary on standard error");
  log->add_option("--capture-priority", o.capturePriority,
                  "auto (default): the burst capture's thread takes a raised priority where "
                  "allowed; normal: it keeps the ordinary one")
      ->check(CLI::IsMember({"normal", "auto"}));
  log->callback([&command] { command.kind = CommandKind::Log; });
}

std::optional<ChannelSet> ParseChannelList(std::string_view text, const RegisterTable& table,
                                           std::string* bad) {
  ChannelSet channels{};
  if (Trim(text).empty()) {
    channels.fill(true);
    channels[0] = false;
    return channels;
  }
  while (true) {
    const size_t comma = text.find(',');
    const std::string_view item = Trim(text.substr(0, comma));
    const std::optional<int16_t> index = FindRegister(table, item);
    if (!index || *index < 1 || *index > kLogChannels) {
      if (bad != nullptr) *bad = std::string(item);
      return std::nullopt;
    }
    channels[static_cast<size_t>(*index)] = true;
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return channels;
}

int RunLog(const Command& command, Connection& connection, Streams streams) {
  // Everything is checked, against the model's register names, before anything is sent.
  Session& raw = connection.Raw();
  RegisterTable names;
  InitRegisterTable(names);
  ApplyModelTable(raw.selection.DeviceType, names);
  const std::optional<LogSettings> settings =
      Settings(command.log, names, connection.DecimalSeparator(), streams.err);
  if (!settings) return kExitUsage;
  std::error_code ec;
  const fs::path dir = command.log.dir.empty() ? fs::current_path(ec) : fs::path(command.log.dir);

  Session* session = nullptr;
  if (const int status = connection.Open(session); status != kExitDone) return status;
  TimeOfDay& day = connection.LogTimeOfDay();
  const bool progress = &streams.err == &std::cerr && ::isatty(STDERR_FILENO) == 1;

  LogResult result;
  // --burst: one row per sensor sample; a capture that stops ends the run like a lost
  // interface (the file keeps the rows taken).
  // A signal also ends a burst capture's waits for the next sample.
  std::optional<BurstSampleReader> burst;
  if (command.log.burst) {
    BurstOptions options;
    options.stopRequested = [] { return StopSignals::Signal() != 0; };
    CaptureThreadOptions threadOptions;
    threadOptions.raisePriority = command.log.capturePriority != "normal";
    burst.emplace(session->access, options, threadOptions);
  }
  {
    StopSignals signals;
    CliFrontEnd frontEnd(*settings, streams.err, progress);
    const DatalogContext context{
        session->access,
        connection.SessionClock(),
        day,
        session->messages,
        dir,
        connection.DecimalSeparator(),
        // A burst capture's thread owns the session while it runs; it ends when the
        // interface fails.
        [session, &burst] { return burst ? !burst->Ended() : InterfaceUsable(*session); },
        burst ? &*burst : nullptr,
        ""};
    result = RunDatalog(context, frontEnd);
  }
  if (burst) {
    const std::vector<int16_t>& paced = burst->Channels();
    const std::string pacing =
        paced.empty() ? "" : session->access.Table()[static_cast<size_t>(paced.front())].RegName;
    streams.err << BurstSummaryText(burst->Summary(), result.rowsWritten, pacing,
                                    connection.DecimalSeparator(), PriorityText(burst->Priority()));
  }
  switch (result.end) {
    case LogEnd::Completed:
      return kExitDone;
    case LogEnd::Cancelled:
      return StopSignals::Signal() == SIGTERM ? kExitTerminated : kExitInterrupted;
    case LogEnd::FileAccessError:  // the message gave the reason
    case LogEnd::InterfaceLost:
    case LogEnd::WriteError:
      break;
  }
  return kExitFailed;
}

}  // namespace pemra::cli
