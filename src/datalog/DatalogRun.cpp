#include "datalog/DatalogRun.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "core/NumberText.h"
#include "core/Timing.h"
#include "datalog/SpooledFile.h"

namespace pemra {

namespace {

void ShowWriteError(const DatalogContext& context, const SpooledFile& file) {
  std::string text = "Cannot write the data-log file " + file.Error();
  // A spool that could not be created holds nothing to recover.
  if (!file.SpoolFailed()) {
    text += "\r\n\r\nThe rows taken so far are kept in " + file.Spool().string();
  }
  context.messages.Show(Message{std::move(text), context.messageTitle, MessageIcon::Warning});
}

void ShowKeptSpool(const DatalogContext& context, const SpooledFile& file) {
  context.messages.Show(Message{"A run that did not finish left " + file.Spool().string() +
                                    ": its rows are kept in " + file.KeptSpool().string() + ".",
                                context.messageTitle, MessageIcon::Information});
}

void ShowInterfaceLost(const DatalogContext& context, const std::filesystem::path& path,
                       int64_t rows) {
  context.messages.Show(Message{"The sensor can no longer be reached: logging has ended.\r\n" +
                            path.filename().string() + " holds the " + std::to_string(rows) +
                            " samples taken.",
                        context.messageTitle, MessageIcon::Warning});
}

// Waits the sample delay as Delay would (the same 10-microsecond units, to the same end
// time on the clock), in slices between which the front end is asked whether to go on.
// False: the front end cut it short.
bool WaitSampleDelay(Clock& clock, double milliseconds, LogFrontEnd& frontEnd,
                     const LogProgress& progress) {
  constexpr int64_t kNanosecondsPerUnit = 10'000;
  const Nanoseconds end =
      clock.Now() + Nanoseconds(DelayUnits(static_cast<float>(milliseconds)) * kNanosecondsPerUnit);
  for (Nanoseconds left = end - clock.Now(); left > Nanoseconds::zero(); left = end - clock.Now()) {
    clock.Wait(std::min(left, kDelaySlice));
    if (clock.Now() < end && !frontEnd.Waiting(progress)) return false;
  }
  return true;
}

// Seconds with six decimals: the elapsed time of a burst row.
void AppendElapsed(std::string& row, Nanoseconds elapsed, const LogTextFormat& format) {
  AppendField(row, FormatNumber(std::chrono::duration<double>(elapsed).count(), "0.000000",
                                format.decimalSeparator),
              format.fieldSeparator);
}

}  // namespace

int64_t WholeCount(double setting) {
  if (!(setting >= 1)) return 0;
  if (setting >= static_cast<double>(std::numeric_limits<int64_t>::max())) {
    return std::numeric_limits<int64_t>::max();
  }
  return static_cast<int64_t>(std::floor(setting));
}

LogResult RunDatalog(const DatalogContext& context, LogFrontEnd& frontEnd) {
  const LogTextFormat format = LogTextFormatFor(context.decimalSeparator);
  const char sep = format.fieldSeparator;
  RegisterSampleReader registerReader(context.access);
  SampleReader& reader = context.reader != nullptr ? *context.reader : registerReader;
  TimeOfDay& day = context.timeOfDay;

  LogResult result;
  LogProgress progress;
  progress.files = WholeCount(frontEnd.Settings().filesPerSession);
  SpooledFile file;
  std::string row;
  SampleReadings readings{};

  for (int64_t number = 1; number <= progress.files; ++number) {
    const std::string& base = frontEnd.Settings().baseFileName;
    const std::string name = LogFileName(base, number, format.extension);
    // The front ends refuse such names first; a run never writes one.
    if (const std::string_view rule = BaseFileNameProblem(base); !rule.empty()) {
      result.error = rule;
      context.messages.Show(
          Message{FileAccessErrorText(name, rule), context.messageTitle, MessageIcon::Warning});
      result.end = LogEnd::FileAccessError;
      break;
    }
    if (!file.Create(context.directory / name, context.clock.Now())) {
      result.error = file.Error();
      if (file.SpoolFailed()) {
        ShowWriteError(context, file);
        result.end = LogEnd::WriteError;
      } else {
        context.messages.Show(Message{FileAccessErrorText(name, file.Error()),
                                      context.messageTitle, MessageIcon::Warning});
        result.end = LogEnd::FileAccessError;
      }
      break;
    }
    if (!file.KeptSpool().empty()) ShowKeptSpool(context, file);
    result.lastFileNumber = number;
    progress.fileNumber = number;
    frontEnd.FileStarted(number);
    const float beginSeconds = day.SecondsSinceMidnight();
    const Nanoseconds begin = context.clock.Now();
    // One file, one layout: a time column ticked or cleared during a file counts from the next.
    const bool time = frontEnd.Settings().time;

    progress.samplesInFile = WholeCount(frontEnd.Settings().samplesPerFile);
    bool lastFile = false;
    for (int64_t i = 1; i <= progress.samplesInFile; ++i) {
      const LogSettings& s = frontEnd.Settings();
      row.clear();
      AppendField(row, i, sep);
      // The clock is read before the registers: the time marks the start of the sample. A
      // reader that knows when its sample was read (bursts) gives the monotonic time since
      // the file began instead, to the microsecond.
      const float now = time ? day.SecondsSinceMidnight() : 0.0f;
      reader.ReadSample(s.channels, readings);
      if (time) {
        if (const std::optional<Nanoseconds> at = reader.SampleTime()) {
          AppendElapsed(row, *at - begin, format);
        } else {
          AppendField(row, now - beginSeconds, format);
        }
      }
      if (context.interfaceUsable && !context.interfaceUsable()) {
        // This sample's values no longer come from the sensor: it is not logged. A reading
        // cut short by a stop request ends the run as a cancel.
        const bool stopped = reader.Stopped();
        result.end = stopped ? LogEnd::Cancelled : LogEnd::InterfaceLost;
        lastFile = true;
        break;
      }
      for (int k = 1; k <= kLogChannels; ++k) {
        if (!s.channels[static_cast<size_t>(k)]) continue;
        const ChannelReading& reading = readings[static_cast<size_t>(k)];
        if (!s.disableNewData) AppendField(row, reading.newData ? "1" : "0", sep);
        if (s.noScale) {
          AppendField(row, int64_t{reading.raw}, sep);
        } else {
          AppendField(row, reading.scaled, format);
        }
      }
      row += kLineEnd;
      if (!file.AddRow(row, context.clock.Now())) {
        ShowWriteError(context, file);
        result.end = LogEnd::WriteError;
        result.error = file.Error();
        return result;
      }
      progress.sample = i;
      ++progress.rowsTaken;
      const bool waited =
          !(s.sampleDelayMs > 0) || WaitSampleDelay(context.clock, s.sampleDelayMs, frontEnd, progress);
      if (!frontEnd.SampleTaken(progress) || !waited) {
        result.end = LogEnd::Cancelled;
        lastFile = true;
        break;
      }
    }

    const float endSeconds = day.SecondsSinceMidnight();
    const LogSettings& s = frontEnd.Settings();
    std::string header;
    if (!s.noHeader) {
      // Date and time are those of the file's completion.
      header = LogHeaderLines(name, day.DateText(), day.TimeText(), beginSeconds, endSeconds,
                              format) +
               LogTitleLine(s.channels, time, !s.disableNewData, context.access.Table(),
                            context.access.CurrentSelection().DeviceType, format);
    }
    if (!file.Complete(header)) {
      ShowWriteError(context, file);
      result.end = LogEnd::WriteError;
      result.error = file.Error();
      return result;
    }
    ++result.filesCompleted;
    result.rowsWritten += file.Rows();
    if (result.end == LogEnd::InterfaceLost) {
      ShowInterfaceLost(context, file.Target(), file.Rows());
    }
    if (lastFile) break;
  }
  return result;
}

}  // namespace pemra
