#include "datalog/DatalogRun.h"

#include <cmath>
#include <limits>

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

void ShowInterfaceLost(const DatalogContext& context, const std::filesystem::path& path,
                       int64_t rows) {
  context.messages.Show(Message{"The sensor can no longer be reached: logging has ended.\r\n" +
                            path.filename().string() + " holds the " + std::to_string(rows) +
                            " samples taken.",
                        context.messageTitle, MessageIcon::Warning});
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
  // However the run ends, the reader stops reading ahead.
  struct FinishReader {
    SampleReader& reader;
    ~FinishReader() { reader.Finish(); }
  } finishReader{reader};
  TimeOfDay& day = context.timeOfDay;

  LogResult result;
  LogProgress progress;
  progress.files = WholeCount(frontEnd.Settings().filesPerSession);
  SpooledFile file;
  std::string row;
  SampleReadings readings{};

  for (int64_t number = 1; number <= progress.files; ++number) {
    const std::string name = LogFileName(frontEnd.Settings().baseFileName, number, format.extension);
    if (!file.Create(context.directory / name, context.clock.Now())) {
      result.error = file.Error();
      if (file.SpoolFailed()) {
        ShowWriteError(context, file);
        result.end = LogEnd::WriteError;
      } else {
        context.messages.Show(
            Message{FileAccessErrorText(name), context.messageTitle, MessageIcon::Warning});
        result.end = LogEnd::FileAccessError;
      }
      break;
    }
    result.lastFileNumber = number;
    progress.fileNumber = number;
    frontEnd.FileStarted(number);
    const float beginSeconds = day.SecondsSinceMidnight();

    progress.samplesInFile = WholeCount(frontEnd.Settings().samplesPerFile);
    bool lastFile = false;
    for (int64_t i = 1; i <= progress.samplesInFile; ++i) {
      const LogSettings& s = frontEnd.Settings();
      row.clear();
      AppendField(row, i, sep);
      // The clock is read before the registers: the time marks the start of the sample.
      if (s.time) AppendField(row, day.SecondsSinceMidnight() - beginSeconds, format);
      reader.ReadSample(s.channels, readings);
      if (context.interfaceUsable && !context.interfaceUsable()) {
        // This sample's values no longer come from the sensor: it is not logged.
        result.end = LogEnd::InterfaceLost;
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
      if (s.sampleDelayMs > 0) Delay(context.clock, static_cast<float>(s.sampleDelayMs));
      progress.sample = i;
      ++progress.rowsTaken;
      if (!frontEnd.SampleTaken(progress)) {
        result.end = LogEnd::Cancelled;
        lastFile = true;
        break;
      }
    }

    if (lastFile || number == progress.files) reader.Finish();  // no sample after this file's
    const float endSeconds = day.SecondsSinceMidnight();
    const LogSettings& s = frontEnd.Settings();
    std::string header;
    if (!s.noHeader) {
      // Date and time are those of the file's completion.
      header = LogHeaderLines(name, day.DateText(), day.TimeText(), beginSeconds, endSeconds,
                              format) +
               LogTitleLine(s.channels, s.time, !s.disableNewData, context.access.Table(),
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
