#pragma once
// One logging run: a session of files, each of a number of samples, each sample one row of
// the checked channels read from the sensor. The run asks its front end (the datalog window
// or pemra-cli) for the settings at the points where it needs them, tells it when a file
// starts and after every sample, and ends after the sample at which the front end says so.
// Rows are not held in memory: each goes to the file's spool as it is taken.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "core/Clock.h"
#include "core/Message.h"
#include "core/RegisterAccess.h"
#include "datalog/LogFormat.h"
#include "datalog/SampleReader.h"
#include "datalog/TimeOfDay.h"

namespace pemra {

// What the window's controls (or the command line) say.
struct LogSettings {
  std::string baseFileName = "DATALOG";
  double filesPerSession = 1;
  double samplesPerFile = 1000;  // whole samples are taken: 10.5 takes 10
  double sampleDelayMs = 0;
  bool time = false;
  ChannelSet channels{};
  bool disableNewData = false;
  bool noScale = false;
  bool noHeader = false;
};

struct LogProgress {
  int64_t fileNumber = 0;
  int64_t sample = 0;          // samples taken in this file
  int64_t samplesInFile = 0;
  int64_t files = 0;
  int64_t rowsTaken = 0;       // in the whole run
};

class LogFrontEnd {
 public:
  virtual ~LogFrontEnd() = default;
  // The settings as they stand now. Read at the start, at each file's start, at every
  // sample and for each file's header. The time column is taken at each file's start for
  // the whole file (its rows and its title line).
  virtual const LogSettings& Settings() = 0;
  // A file has been created: show its number (the window yields to its events here).
  virtual void FileStarted(int64_t fileNumber) = 0;
  // After each sample and its delay (the window yields here). False ends the run after
  // this sample: the current file is completed and no further file is begun.
  virtual bool SampleTaken(const LogProgress& progress) = 0;
  // Between slices of the sample delay (at most kDelaySlice apart; the window yields here,
  // so it answers during a long delay). False cuts the delay short and ends the run after
  // this sample.
  virtual bool Waiting(const LogProgress& /*progress*/) { return true; }
};

// The sample delay is waited in slices of at most this, so a front end can end it.
inline constexpr Nanoseconds kDelaySlice = std::chrono::milliseconds(20);

enum class LogEnd { Completed, Cancelled, InterfaceLost, FileAccessError, WriteError };

struct LogResult {
  LogEnd end = LogEnd::Completed;
  int64_t filesCompleted = 0;
  int64_t rowsWritten = 0;     // rows in completed files
  int64_t lastFileNumber = 0;  // the file begun last (0: none)
  std::string error;           // a failed file: "PATH: the system's reason"
};

// What a run talks to.
struct DatalogContext {
  RegisterAccess& access;
  Clock& clock;          // the delay between samples and the spool's flush timer
  TimeOfDay& timeOfDay;  // begin and end seconds, the time column, date and time
  MessageSink& messages;
  std::filesystem::path directory;
  char decimalSeparator = '.';
  // False once the interface can no longer reach the sensor; empty: always usable.
  std::function<bool()> interfaceUsable;
  SampleReader* reader = nullptr;  // null: one ReadRegister per channel
  std::string messageTitle;        // the program's title, on the run's warnings
};

// Whole samples or files of a setting: the value rounded down, 0 for NaN or below 1.
int64_t WholeCount(double setting);

LogResult RunDatalog(const DatalogContext& context, LogFrontEnd& frontEnd);

}  // namespace pemra
