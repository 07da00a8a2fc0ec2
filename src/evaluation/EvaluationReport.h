#pragma once
// What one evaluation of a sensor found, stage by stage: the record every output (report.html,
// report.pdf, figures.json) is written from. Plain data: filled by the evaluation run (and,
// for the figures, by EvaluationFigures), read by the writers.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pemra {

// A figure against its limit: no limit set, limit met, limit failed.
enum class Verdict { None, Pass, Fail };

// "PASS", "FAIL", or "" for no limit.
const char* VerdictText(Verdict verdict);

// One figure read from the data, with everything it must carry.
struct FigureRecord {
  std::string key;          // "N", "B", "K", "minimum", "density"
  std::string name;         // "angle random walk", "minimum deviation", ...
  bool determined = false;  // false: `reason` says why, `value` means nothing
  double value = 0;         // in `unit`
  std::string unit;
  bool hasInterval = false;  // a 68% interval [low, high] in `unit`
  double low = 0;
  double high = 0;
  std::string intervalNote;  // what the interval assumes, or why there is none
  bool hasTaus = false;      // the averaging times it was read from, seconds
  double tauLow = 0;
  double tauHigh = 0;
  std::string reason;  // why it was not determined
  // Limit (a maximum) in `unit`, as written in the limits file, and the verdict on it.
  bool hasLimit = false;
  double limit = 0;
  std::string limitText;
  Verdict verdict = Verdict::None;
  double margin = 0;  // limit - value, in `unit` (negative: over the limit)
  std::string verdictNote;  // why a figure with a limit failed without a value
};

// A point of an Allan deviation curve, in the data's unit.
struct CurvePoint {
  double tau = 0;  // seconds
  double deviation = 0;
  double low = 0;  // 68% interval
  double high = 0;
};

// A column reduced for a picture: per time bucket, its smallest and largest value.
struct SeriesEnvelope {
  std::vector<double> seconds;  // bucket start
  std::vector<double> min;
  std::vector<double> max;
};

enum class AxisKind { Gyro, Accel };

struct AxisReport {
  std::string title;      // the log column's title ("X Gryo")
  std::string register_;  // "XGYRO_OUT"
  AxisKind kind = AxisKind::Gyro;
  std::string dataUnit;  // "deg/s" or "g"
  int64_t samples = 0;
  double mean = 0;
  std::vector<CurvePoint> curve;
  std::string curveNote;  // the estimator and what its intervals assume
  std::vector<FigureRecord> figures;
  std::vector<std::string> warnings;  // e.g. the log was not still
  SeriesEnvelope series;
};

// Mean and spread of a channel over the run (supply, temperatures).
struct ChannelStatistics {
  std::string title;  // the log column's title
  std::string unit;
  int64_t samples = 0;
  double mean = 0;
  double spread = 0;  // sample standard deviation (n - 1)
  double min = 0;
  double max = 0;
};

struct RegisterWord {
  std::string name;
  int address = 0;
  bool readable = true;
  uint16_t word = 0;
  std::string value;   // in units, as the register listing shows it
  std::string fields;  // the word's fields decoded, where a decoder knows them
};

enum class EvaluationStage { Identify, SelfTest, Log, Analysis, Limits, Report };
inline constexpr int kEvaluationStages = 6;
// "identify", "self-test", ...
const char* StageText(EvaluationStage stage);

struct EvaluationReport {
  // How it was made.
  std::string program;  // "pemra-cli" or "pemra-eval"
  std::string version;
  std::string command;  // the command line, or the dialog's choices
  std::string started;  // UTC, ISO 8601
  std::string finished;
  double durationAsked = 0;  // seconds of still log asked for
  // Not complete: cancelled, interrupted or failed; `incompleteReason` says where.
  bool complete = false;
  std::string incompleteReason;
  std::vector<EvaluationStage> stagesDone;

  // 1. identify
  int model = 0;
  std::string interface;  // "USB adapter", "parallel port", ...
  std::string adapter;    // which one, as it described itself
  std::vector<RegisterWord> registers;
  // 2. self-test
  bool selfTestRun = false;
  uint16_t statusBefore = 0;
  uint16_t statusAfter = 0;
  bool selfTestPassed = false;
  std::string selfTestNote;
  // 3. supply and temperatures
  std::vector<ChannelStatistics> channels;
  // 4. the still log
  std::vector<std::string> logFiles;  // names in the output folder
  int64_t samples = 0;
  double rate = 0;  // samples per second
  std::string rateSource;
  double logSeconds = 0;
  int64_t missed = 0;
  int64_t duplicates = 0;
  int64_t tornRows = 0;  // rows whose channels did not all carry new data
  // 5. analysis and 6. limits
  std::vector<AxisReport> axes;
  std::string limitsFile;  // as given; empty: none
  std::vector<std::string> warnings;

  // Fail when any figure or the self-test failed, Pass when limits were checked and met,
  // None when there were no limits.
  Verdict Overall() const;
};

}  // namespace pemra
