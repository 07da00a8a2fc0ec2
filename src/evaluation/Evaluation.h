#pragma once
// One evaluation of a sensor on the bench, stage by stage, to a report folder:
//   1. identify: model, interface and adapter, every register's word;
//   2. self-test: the sensor's automatic self-test, STATUS before and after;
//   3./4. the still log: a burst capture for the duration (every sample; missed samples,
//      duplicates and torn rows counted), written as the data-log engine writes logs, with
//      supply and temperatures reduced to mean and spread;
//   5. analysis of every gyro and accelerometer column of that log, read back from its file
//      (so the figures are those `pemra-cli adev` gives on the same log);
//   6. limits: each figure against its maximum.
// Then figures.json, imu.yaml, report.html and (with a PDF writer) report.pdf in the folder.
// A cancelled, interrupted or failed run still writes the report of what it has, marked
// incomplete. Both front ends run it: pemra-cli on its thread, the GUI on a worker thread.

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/Clock.h"
#include "datalog/LogFormat.h"
#include "datalog/TimeOfDay.h"
#include "evaluation/EvaluationReport.h"
#include "evaluation/Limits.h"
#include "interfaces/Session.h"

namespace pemra {

inline constexpr double kDefaultEvaluationSeconds = 3600;
inline constexpr std::string_view kReportHtmlName = "report.html";
inline constexpr std::string_view kReportPdfName = "report.pdf";
inline constexpr std::string_view kFiguresJsonName = "figures.json";
inline constexpr std::string_view kImuYamlName = "imu.yaml";
inline constexpr std::string_view kEvaluationLogBase = "DATALOG";

struct EvaluationSettings {
  double durationSeconds = kDefaultEvaluationSeconds;
  std::filesystem::path outDir;
  ChannelSet channels{};  // logged channels 1..11; none ticked: all eleven
  Limits limits;
  std::string limitsFile;  // as given, for the report
  std::string program;     // "pemra-cli", "pemra-eval"
  std::string version;
  std::string command;
  char decimalSeparator = '.';  // of the log
};

class EvaluationObserver {
 public:
  virtual ~EvaluationObserver() = default;
  virtual void StageStarted(EvaluationStage /*stage*/) {}
  // During the still log and the analysis: how far the stage is (0..1) and the seconds it
  // still needs (negative: unknown).
  virtual void Progress(EvaluationStage /*stage*/, double /*fraction*/, double /*secondsLeft*/) {}
};

// Renders the report page (plots as <img src="plot-K">, their SVG texts in `images`) as a
// PDF document into `pdf`; returns an error text when it cannot.
using PdfRenderer = std::function<std::optional<std::string>(
    const std::string& html, const std::vector<std::string>& images, std::string& pdf)>;

struct EvaluationContext {
  Session& session;  // the interface open, the model applied
  Clock& clock;
  TimeOfDay& timeOfDay;
  const std::atomic<bool>* cancel = nullptr;  // set: end the run, keep what it has
  PdfRenderer renderPdf;                      // empty: no report.pdf
  // The time of day for the report's start and finish (UTC, ISO 8601); empty: the system's.
  std::function<std::string()> utcNow;
};

enum class EvaluationEnd {
  Completed,     // every stage ran
  Cancelled,     // the cancel flag ended it
  DeviceFailed,  // the sensor or the interface failed
  FileFailed,    // a file could not be written
};

struct EvaluationResult {
  EvaluationReport report;
  EvaluationEnd end = EvaluationEnd::Completed;
  std::string error;  // DeviceFailed, FileFailed: what and why
  std::vector<std::filesystem::path> written;
};

// Checks the limits against the channels to be logged before anything starts: a section
// naming an axis that will not be logged, or a unit that does not fit the axis, is an error.
std::optional<std::string> CheckLimitsForChannels(const Limits& limits, const ChannelSet& channels,
                                                  const RegisterTable& table);

EvaluationResult RunEvaluation(const EvaluationContext& context, const EvaluationSettings& settings,
                               EvaluationObserver& observer);

// Writes report.pdf of `report` into `dir`, rendered by `render`: the path written, or an
// error naming the file and the reason.
std::optional<std::string> WriteReportPdf(const EvaluationReport& report, const std::filesystem::path& dir,
                                          const PdfRenderer& render, std::filesystem::path* written = nullptr);

// The interface in use ("USB adapter") and the adapter as it described itself.
void DescribeInterface(const Session& session, std::string& interface, std::string& adapter);

}  // namespace pemra
