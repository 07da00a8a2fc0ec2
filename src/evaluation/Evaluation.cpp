#include "evaluation/Evaluation.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>
#include <thread>

#include "analysis/LogReader.h"
#include "analysis/SampleRate.h"
#include "core/NumberText.h"
#include "core/RegisterFields.h"
#include "core/RegisterTable.h"
#include "core/SamplePeriod.h"
#include "core/Timing.h"
#include "datalog/BurstSampleReader.h"
#include "datalog/DatalogRun.h"
#include "evaluation/EvaluationFigures.h"
#include "evaluation/FiguresJson.h"
#include "evaluation/ReportFiles.h"
#include "evaluation/ReportHtml.h"
#include "interfaces/FtdiDriver.h"

namespace pemra {

namespace {

namespace fs = std::filesystem;

constexpr int32_t kSelfTestBit = 0x0400;       // MSC_CTRL: automatic self-test, clears itself
constexpr int32_t kSelfTestFailedBit = 0x0020;  // STATUS bit 5
constexpr float kSelfTestWaitMs = 50;           // the self-test takes 35 ms
constexpr int kSelfTestPolls = 20;              // then MSC_CTRL is read this often, 10 ms apart
constexpr int kEnvelopeBuckets = 400;
constexpr int64_t kMinAnalysisSamples = 3;
// Axes analysed at once: two halve the analysis on a two-core bench machine; more buy little,
// as reading the log back takes most of the time after it.
constexpr size_t kAnalysisThreads = 2;

std::string SystemUtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

bool Cancelled(const EvaluationContext& c) { return c.cancel != nullptr && c.cancel->load(); }

// The title an axis's value column has in a log of model `model`.
std::string ValueTitle(int channel, const RegisterTable& table) {
  const std::string_view title = ChannelTitles(channel).value;
  if (!title.empty()) return std::string(title);
  std::string name = table[static_cast<size_t>(channel)].RegName;
  name.erase(name.find_last_not_of(' ') + 1);
  return name;
}

std::string RegisterName(const RegisterTable& table, int index) {
  std::string name = table[static_cast<size_t>(index)].RegName;
  name.erase(name.find_last_not_of(' ') + 1);
  return name;
}

bool IsGyroChannel(int channel) { return channel >= reg::XGYRO_OUT && channel <= reg::ZGYRO_OUT; }
bool IsAccelChannel(int channel) { return channel >= reg::XACCL_OUT && channel <= reg::ZACCL_OUT; }

ChannelSet Logged(const ChannelSet& asked) {
  ChannelSet channels = asked;
  if (std::none_of(channels.begin() + 1, channels.end(), [](bool b) { return b; })) {
    channels.fill(true);
    channels[0] = false;
  }
  return channels;
}

class EvaluationLogFrontEnd final : public LogFrontEnd {
 public:
  EvaluationLogFrontEnd(LogSettings settings, const EvaluationContext& context,
                        EvaluationObserver& observer, double period)
      : settings_(std::move(settings)), context_(context), observer_(observer), period_(period) {}
  const LogSettings& Settings() override { return settings_; }
  void FileStarted(int64_t) override {}
  bool SampleTaken(const LogProgress& p) override {
    // A progress report every few hundred samples is plenty for a bar.
    if (p.sample % 256 == 0 || p.sample == p.samplesInFile) {
      const double total = static_cast<double>(std::max<int64_t>(p.samplesInFile, 1));
      observer_.Progress(EvaluationStage::Log, static_cast<double>(p.sample) / total,
                         static_cast<double>(p.samplesInFile - p.sample) * period_);
    }
    taken_ = p.sample;
    return !Cancelled(context_);
  }
  bool Waiting(const LogProgress&) override { return !Cancelled(context_); }
  int64_t Taken() const { return taken_; }

 private:
  LogSettings settings_;
  const EvaluationContext& context_;
  EvaluationObserver& observer_;
  double period_;
  int64_t taken_ = 0;
};

// Passes the burst reader's samples on and counts the torn rows: rows in which some channel
// did not carry a new sample (its register was read before the sample changed while the
// others were read after it, or it was not updated).
class TornRowCounter final : public SampleReader {
 public:
  explicit TornRowCounter(BurstSampleReader& inner) : inner_(inner) {}
  void ReadSample(const ChannelSet& channels, SampleReadings& readings) override {
    inner_.ReadSample(channels, readings);
    if (inner_.Ended() || inner_.Stopped()) return;
    for (int k = 1; k <= kLogChannels; ++k)
      if (channels[static_cast<size_t>(k)] && !readings[static_cast<size_t>(k)].newData) {
        ++torn_;
        break;
      }
  }
  bool Stopped() const override { return inner_.Stopped(); }
  std::optional<Nanoseconds> SampleTime() const override { return inner_.SampleTime(); }
  void Finish() override { inner_.Finish(); }
  int64_t Torn() const { return torn_; }

 private:
  BurstSampleReader& inner_;
  int64_t torn_ = 0;
};

struct Run {
  const EvaluationContext& context;
  const EvaluationSettings& settings;
  EvaluationObserver& observer;
  EvaluationResult result;
  ChannelSet channels;

  EvaluationReport& Report() { return result.report; }
  RegisterAccess& Access() { return context.session.access; }

  void Incomplete(EvaluationEnd end, const std::string& why, const std::string& error = {}) {
    result.end = end;
    Report().complete = false;
    Report().incompleteReason = why;
    result.error = error;
  }

  bool Identify() {
    observer.StageStarted(EvaluationStage::Identify);
    EvaluationReport& r = Report();
    r.model = context.session.selection.DeviceType;
    DescribeInterface(context.session, r.interface, r.adapter);
    if (!InterfaceUsable(context.session)) {
      Incomplete(EvaluationEnd::DeviceFailed, "the interface cannot reach the sensor",
                 r.interface + ": no sensor can be reached");
      return false;
    }
    bool allOnes = true;
    for (int16_t index = 0; index < kFilledRegisters; ++index) {
      const RegisterEntry& entry = Access().Table()[static_cast<size_t>(index)];
      RegisterWord word;
      word.name = RegisterName(Access().Table(), index);
      word.address = entry.RegAddress;
      word.readable = entry.RegReadable;
      if (entry.RegReadable) {
        Access().ReadRegister(index);
        word.word = static_cast<uint16_t>(Access().RawValue & 0xFFFF);
        word.value = FormatNumber(Access().ScaledValue, "0.0####", '.');
        allOnes = allOnes && (Access().RawValue & 0xFFFF) == (0xFFFF & ((1 << entry.RegWidth) - 1));
        // Its fields, "name=value (meaning)" separated by "; ", from the whole word read.
        const int32_t whole = Access().LastWord & 0xFFFF;
        for (const DecodedField& f :
             DecodeRegister(Access().Table(), index, whole, FieldContext{static_cast<int16_t>(r.model), std::nullopt, '.'}))
          word.fields += (word.fields.empty() ? "" : "; ") + f.name + "=" + std::to_string(f.value) +
                         (f.meaning.empty() ? "" : " (" + f.meaning + ")");
      }
      r.registers.push_back(std::move(word));
    }
    if (!InterfaceUsable(context.session)) {
      Incomplete(EvaluationEnd::DeviceFailed, "the interface failed while the registers were read",
                 r.interface + ": the transfer failed while the registers were read");
      return false;
    }
    if (allOnes) {
      Incomplete(EvaluationEnd::DeviceFailed, "no sensor answers",
                 r.interface + ": every register reads all ones: no sensor seems to answer");
      return false;
    }
    r.stagesDone.push_back(EvaluationStage::Identify);
    return true;
  }

  bool SelfTest() {
    observer.StageStarted(EvaluationStage::SelfTest);
    EvaluationReport& r = Report();
    Access().ReadRegister(reg::STATUS);
    r.statusBefore = static_cast<uint16_t>(Access().RawValue & 0xFFFF);
    Access().ReadRegister(reg::MSC_CTRL);
    const int32_t msc = Access().RawValue & 0xFFFF;
    Access().WriteRegister(reg::MSC_CTRL, msc | kSelfTestBit);
    Delay(context.clock, kSelfTestWaitMs);
    bool finished = false;
    for (int i = 0; i < kSelfTestPolls && !finished; ++i) {
      Access().ReadRegister(reg::MSC_CTRL);
      finished = (Access().RawValue & kSelfTestBit) == 0;
      if (!finished) Delay(context.clock, 10);
    }
    Access().ReadRegister(reg::STATUS);
    r.statusAfter = static_cast<uint16_t>(Access().RawValue & 0xFFFF);
    if (!InterfaceUsable(context.session)) {
      Incomplete(EvaluationEnd::DeviceFailed, "the interface failed during the self-test",
                 r.interface + ": the transfer failed during the self-test");
      return false;
    }
    r.selfTestRun = true;
    r.selfTestPassed = finished && (r.statusAfter & kSelfTestFailedBit) == 0;
    if (!finished) r.selfTestNote = "the self-test bit of MSC_CTRL did not clear within 250 ms";
    else if (!r.selfTestPassed) r.selfTestNote = "STATUS bit 5 (self-test failed) is set";
    else r.selfTestNote = "the self-test bit cleared and STATUS bit 5 (self-test failed) is clear";
    r.stagesDone.push_back(EvaluationStage::SelfTest);
    return true;
  }

  // The still log into the output folder; false when nothing can be analysed.
  bool StillLog(fs::path& logFile) {
    observer.StageStarted(EvaluationStage::Log);
    EvaluationReport& r = Report();
    Access().ReadRegister(reg::SMPL_PRD);
    const Nanoseconds period = SamplePeriod(static_cast<uint16_t>(Access().RawValue & 0xFFFF));
    const double periodSeconds = std::chrono::duration<double>(period).count();
    const double samples = std::max(1.0, std::round(settings.durationSeconds / periodSeconds));

    LogSettings log;
    log.baseFileName = std::string(kEvaluationLogBase);
    log.filesPerSession = 1;
    log.samplesPerFile = samples;
    log.channels = channels;
    BurstOptions burstOptions;
    const std::atomic<bool>* cancel = context.cancel;
    burstOptions.stopRequested = [cancel] { return cancel != nullptr && cancel->load(); };
    BurstSampleReader reader(Access(), burstOptions);
    TornRowCounter counter(reader);
    EvaluationLogFrontEnd frontEnd(log, context, observer, periodSeconds);
    const DatalogContext datalog{Access(),
                                 context.clock,
                                 context.timeOfDay,
                                 context.session.messages,
                                 settings.outDir,
                                 settings.decimalSeparator,
                                 [&reader] { return !reader.Ended(); },
                                 &counter,
                                 ""};
    const LogResult logged = RunDatalog(datalog, frontEnd);
    const BurstSummary summary = reader.Summary();
    r.missed = summary.missed;
    r.duplicates = summary.duplicates;
    r.tornRows = counter.Torn();
    if (logged.lastFileNumber > 0) {
      const std::string name = LogFileName(log.baseFileName, logged.lastFileNumber,
                                           LogTextFormatFor(settings.decimalSeparator).extension);
      logFile = settings.outDir / name;
      r.logFiles.push_back(name);
    }
    const std::string taken = std::to_string(frontEnd.Taken()) + " of " +
                              std::to_string(static_cast<int64_t>(samples)) + " samples";
    switch (logged.end) {
      case LogEnd::Completed:
        r.stagesDone.push_back(EvaluationStage::Log);
        break;
      case LogEnd::Cancelled:
        Incomplete(EvaluationEnd::Cancelled, "cancelled during the still log after " + taken);
        break;
      case LogEnd::InterfaceLost:
        Incomplete(EvaluationEnd::DeviceFailed, "the sensor stopped answering during the still log after " + taken,
                   r.interface + ": the capture ended after " + taken + " (no new data, or a failed transfer)");
        break;
      case LogEnd::FileAccessError:
      case LogEnd::WriteError:
        Incomplete(EvaluationEnd::FileFailed, "the log could not be written", logged.error);
        break;
    }
    return logged.rowsWritten > 0 && !logFile.empty();
  }

  void Analyse(const fs::path& logFile) {
    observer.StageStarted(EvaluationStage::Analysis);
    EvaluationReport& r = Report();
    // A log cut short by a cancel is still analysed (what it has is the report); a cancel
    // that comes during the analysis ends it.
    const std::atomic<bool>* cancel = Cancelled(context) ? nullptr : context.cancel;
    const auto cancelled = [cancel] { return cancel != nullptr && cancel->load(); };
    LogLayout layout;
    if (auto error = InspectLog({logFile}, layout)) {
      r.warnings.push_back("the log cannot be read back: " + error->Text());
      return;
    }
    std::vector<int> chosen;
    for (size_t i = 0; i < layout.columns.size(); ++i)
      if (layout.columns[i].channel > 0 && layout.columns[i].kind != ColumnKind::NewData)
        chosen.push_back(static_cast<int>(i));
    LogSeries series;
    ReadControl control;
    control.cancel = cancel;
    if (auto error = ReadLog(layout, chosen, control, series)) {
      if (!error->cancelled) r.warnings.push_back("the log cannot be read back: " + error->Text());
      return;
    }
    r.samples = series.Rows();
    SampleRate rate;
    if (auto error = DetectSampleRate(layout, series, std::nullopt, rate)) {
      r.warnings.push_back("no sample rate: " + error->Text());
      return;
    }
    r.rate = rate.samplesPerSecond;
    r.rateSource = std::string(RateSourceText(rate.source));
    r.logSeconds = static_cast<double>(r.samples) / r.rate;
    for (const std::string& w : rate.warnings) r.warnings.push_back(w);

    const RegisterTable& table = Access().Table();
    // Every gyro and accelerometer axis is analysed on its own; the axes share the cores
    // (the spectrum's planner is guarded where it is made). Only this thread tells the
    // observer, after each axis it finished itself.
    struct Job {
      const std::vector<double>* values;
      AxisReport axis;
    };
    std::vector<Job> jobs;
    for (size_t i = 0; i < chosen.size(); ++i) {
      const LogColumn& column = layout.columns[static_cast<size_t>(chosen[i])];
      const std::vector<double>& values = series.values[i];
      if (column.kind == ColumnKind::Gyro || column.kind == ColumnKind::Accel) {
        AxisReport axis;
        axis.title = column.title;
        axis.register_ = RegisterName(table, column.channel);
        axis.kind = column.kind == ColumnKind::Gyro ? AxisKind::Gyro : AxisKind::Accel;
        axis.dataUnit = column.unit;
        axis.samples = static_cast<int64_t>(values.size());
        jobs.push_back({&values, std::move(axis)});
      } else if (column.kind == ColumnKind::Other &&
                 (column.channel == reg::SUPPLY_OUT || column.unit == "degC")) {
        r.channels.push_back(Statistics(column, values));
      }
    }
    std::atomic<size_t> next{0}, done{0};
    std::vector<char> analysed(jobs.size(), 0);
    const double samplesPerSecond = r.rate;
    const auto work = [&](bool tell) {
      for (size_t j; !cancelled() && (j = next++) < jobs.size();) {
        AxisReport& axis = jobs[j].axis;
        const std::vector<double>& values = *jobs[j].values;
        double sum = 0;
        for (double v : values) sum += v;
        axis.mean = values.empty() ? 0 : sum / static_cast<double>(values.size());
        if (axis.samples >= kMinAnalysisSamples) AnalyseAxis(values, samplesPerSecond, axis, cancel);
        Envelope(values, samplesPerSecond, axis.series);
        analysed[j] = 1;
        const size_t finished = ++done;
        if (tell)
          observer.Progress(EvaluationStage::Analysis,
                            static_cast<double>(finished) / static_cast<double>(jobs.size()), -1);
      }
    };
    {
      std::vector<std::jthread> helpers;
      const size_t threads = std::min<size_t>({kAnalysisThreads, std::max(1u, std::thread::hardware_concurrency()),
                                               jobs.size()});
      for (size_t t = 1; t < threads; ++t) helpers.emplace_back(work, false);
      work(true);
    }
    // In column order; an axis a cancel left untouched is not reported.
    for (size_t j = 0; j < jobs.size(); ++j)
      if (analysed[j]) r.axes.push_back(std::move(jobs[j].axis));
    if (cancelled()) {
      if (result.end == EvaluationEnd::Completed)
        Incomplete(EvaluationEnd::Cancelled, "cancelled during the analysis");
      return;
    }
    r.stagesDone.push_back(EvaluationStage::Analysis);
  }

  static ChannelStatistics Statistics(const LogColumn& column, const std::vector<double>& values) {
    ChannelStatistics s;
    s.title = column.title;
    s.unit = column.unit;
    s.samples = static_cast<int64_t>(values.size());
    if (values.empty()) return s;
    double sum = 0;
    s.min = s.max = values.front();
    for (double v : values) {
      sum += v;
      s.min = std::min(s.min, v);
      s.max = std::max(s.max, v);
    }
    s.mean = sum / static_cast<double>(values.size());
    double squares = 0;
    for (double v : values) squares += (v - s.mean) * (v - s.mean);
    s.spread = values.size() > 1 ? std::sqrt(squares / static_cast<double>(values.size() - 1)) : 0;
    return s;
  }

  static void Envelope(const std::vector<double>& values, double rate, SeriesEnvelope& out) {
    const size_t n = values.size();
    if (n == 0) return;
    const size_t buckets = std::min<size_t>(n, kEnvelopeBuckets);
    for (size_t b = 0; b < buckets; ++b) {
      const size_t first = b * n / buckets, end = (b + 1) * n / buckets;
      const auto [lo, hi] = std::minmax_element(values.begin() + static_cast<ptrdiff_t>(first),
                                                values.begin() + static_cast<ptrdiff_t>(end));
      out.seconds.push_back(static_cast<double>(first) / rate);
      out.min.push_back(*lo);
      out.max.push_back(*hi);
    }
  }

  bool Limits() {
    observer.StageStarted(EvaluationStage::Limits);
    for (AxisReport& axis : Report().axes)
      if (auto error = ApplyLimits(settings.limits, axis)) Report().warnings.push_back("limits: " + *error);
    Report().stagesDone.push_back(EvaluationStage::Limits);
    return true;
  }

  // Writes one output file; false (with the run marked failed) when it cannot.
  bool Write(std::string_view name, const std::string& text) {
    const fs::path path = settings.outDir / name;
    std::string error;
    if (!WriteReportFile(path, text, &error)) {
      if (result.end != EvaluationEnd::DeviceFailed) {
        result.end = EvaluationEnd::FileFailed;
        result.error = error;
      }
      return false;
    }
    result.written.push_back(path);
    return true;
  }

  void WriteOutputs() {
    observer.StageStarted(EvaluationStage::Report);
    EvaluationReport& r = Report();
    r.finished = context.utcNow ? context.utcNow() : SystemUtcNow();
    std::string logName;
    for (const std::string& f : r.logFiles) logName += (logName.empty() ? "" : " ") + f;
    if (!r.axes.empty()) {
      std::vector<std::string> missing;
      const std::string yaml = ImuYamlFor(r.axes, logName, r.rate, &missing);
      // A file that calibration tools load must not carry a guess: written only when whole.
      for (const std::string& key : missing)
        r.warnings.push_back(std::string(kImuYamlName) + " not written: " + key + " not determined from this log");
      if (missing.empty()) Write(kImuYamlName, yaml);
    }
    Write(kFiguresJsonName, FiguresJsonText(r));
    Write(kReportHtmlName, ReportHtml(r));
    if (context.renderPdf) {
      fs::path written;
      if (auto error = WriteReportPdf(r, settings.outDir, context.renderPdf, &written)) {
        if (result.end == EvaluationEnd::Completed || result.end == EvaluationEnd::Cancelled) {
          result.end = EvaluationEnd::FileFailed;
          result.error = *error;
        }
      } else {
        result.written.push_back(written);
      }
    }
  }
};

}  // namespace

std::optional<std::string> WriteReportPdf(const EvaluationReport& report, const fs::path& dir,
                                          const PdfRenderer& render, fs::path* written) {
  std::vector<std::string> images;
  const std::string page = ReportHtml(report, HtmlPlots{&images});
  std::string pdf;
  const fs::path path = dir / kReportPdfName;
  if (auto error = render(page, images, pdf)) return path.string() + ": " + *error;
  std::string error;
  if (!WriteReportFile(path, pdf, &error)) return error;
  if (written != nullptr) *written = path;
  return std::nullopt;
}

void DescribeInterface(const Session& session, std::string& interface, std::string& adapter) {
  const Selection& s = session.selection;
  switch (s.InterfaceType) {
    case kInterfaceParallel:
      interface = "parallel port";
      adapter = "base address " + NumberToHex(s.PortAddress);
      break;
    case kInterfaceUsb: {
      interface = "USB adapter";
      const int slot = session.adapters.SelectedAdapterIndex;
      if (slot >= 0 && slot < kAdapterSlots) {
        const AdapterSlot& a = session.adapters.AdapterSlots[static_cast<size_t>(slot)];
        adapter = "Ezusb-" + std::to_string(slot) + ": " + a.BoardType + ", " + a.Descriptor1Text +
                  " " + a.Descriptor2Text + ", firmware " + FormatNumber(a.FirmwareRevision, "0.0", '.');
      } else {
        adapter = "none selected";
      }
      break;
    }
    case kInterfaceFtdi:
      interface = "FTDI board";
      adapter = session.ftdi.FtdiSelected ? FtdiChannelName(session.ftdi.SelectedChannel) : "none selected";
      break;
    case kInterfaceSpidev:
      interface = "spidev node";
      adapter = session.spidev.SpidevSelected ? session.spidev.SelectedDevice : "none selected";
      break;
    default:
      interface = "none";
      adapter = "";
  }
}

std::optional<std::string> CheckLimitsForChannels(const Limits& limits, const ChannelSet& asked,
                                                  const RegisterTable& table) {
  const ChannelSet channels = Logged(asked);
  std::vector<AxisReport> axes;
  for (int channel = 1; channel <= kLogChannels; ++channel) {
    if (!channels[static_cast<size_t>(channel)]) continue;
    if (!IsGyroChannel(channel) && !IsAccelChannel(channel)) continue;
    AxisReport axis;
    axis.title = ValueTitle(channel, table);
    axis.register_ = RegisterName(table, channel);
    axis.kind = IsGyroChannel(channel) ? AxisKind::Gyro : AxisKind::Accel;
    for (const std::string& key : FigureKeys()) {
      FigureRecord f;
      f.key = key;
      f.unit = FigureUnitFor(axis.kind, key);
      axis.figures.push_back(f);
    }
    if (auto error = ApplyLimits(limits, axis)) return error;
    axes.push_back(std::move(axis));
  }
  const std::vector<std::string> unused = UnusedLimitSections(limits, axes);
  if (!unused.empty())
    return "\"" + unused.front() + "\" names no axis that is logged (give \"gyro\", \"accel\", an axis title such as "
           "\"X Gyro\" or a register name such as \"XGYRO_OUT\")";
  return std::nullopt;
}

EvaluationResult RunEvaluation(const EvaluationContext& context, const EvaluationSettings& settings,
                               EvaluationObserver& observer) {
  Run run{context, settings, observer, {}, Logged(settings.channels)};
  EvaluationReport& r = run.Report();
  r.program = settings.program;
  r.version = settings.version;
  r.command = settings.command;
  r.limitsFile = settings.limitsFile;
  r.durationAsked = settings.durationSeconds;
  r.started = context.utcNow ? context.utcNow() : SystemUtcNow();
  r.complete = true;

  fs::path logFile;
  const bool identified = run.Identify();
  if (identified && !Cancelled(context) && run.SelfTest() && !Cancelled(context)) {
    if (run.StillLog(logFile)) {
      run.Analyse(logFile);
      run.Limits();
    }
  }
  if (r.complete && Cancelled(context) && run.result.end == EvaluationEnd::Completed)
    run.Incomplete(EvaluationEnd::Cancelled, "cancelled before the still log");
  run.WriteOutputs();
  return std::move(run.result);
}

}  // namespace pemra
