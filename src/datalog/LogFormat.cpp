#include "datalog/LogFormat.h"

#include <charconv>

#include "core/DataDirectory.h"
#include "core/NumberText.h"

namespace pemra {

namespace {

// By channel 1..11 (index 0 unused). "X Gryo" is the title the files have always carried.
constexpr std::array<LogChannelTitles, kLogChannels + 1> kTitles = {{
    {"", ""},
    {"PvND", "Power V"},
    {"XgND", "X Gryo"},
    {"YgND", "Y Gyro"},
    {"ZgND", "Z Gyro"},
    {"XaND", "X acc"},
    {"YaND", "Y acc"},
    {"ZaND", "Z acc"},
    {"XtND", "X Temp"},
    {"YtND", ""},
    {"ZtND", ""},
    {"AaND", "Aux_ADC"},
}};

constexpr int16_t kAngleModel = 21410;  // channels 9 and 10 are pitch and roll

void AppendLine(std::string& text, std::string_view title, std::string_view value, char sep) {
  text += title;
  text += sep;
  text += value;
  text += kLineEnd;
}

}  // namespace

LogChannelTitles ChannelTitles(int channel) {
  if (channel < 1 || channel > kLogChannels) return {};
  return kTitles[static_cast<size_t>(channel)];
}

LogTextFormat LogTextFormatFor(char decimalSeparator) {
  if (decimalSeparator == ',') return {decimalSeparator, '\t', ".txt"};
  return {decimalSeparator, ',', ".csv"};
}

std::string_view BaseFileNameProblem(std::string_view name) {
  if (name.empty()) return "a file name cannot be empty";
  if (HasControlCharacter(name)) {
    return "a file name cannot hold control characters (NUL, a line end, ESC, ...)";
  }
  if (name.find('/') != std::string_view::npos || name == "." || name == "..") {
    return "a file name cannot hold '/' or be '.' or '..'";
  }
  if (name.size() > kMaxBaseFileName) return "a file name can be at most 200 bytes long";
  return {};
}

std::string LogFileName(std::string_view baseFileName, int64_t fileNumber,
                        std::string_view extension) {
  std::string name(baseFileName);
  name += '_';
  name += std::to_string(fileNumber);
  name += extension;
  return name;
}

std::string LogHeaderLines(std::string_view fileName, std::string_view date,
                           std::string_view time, float beginSeconds, float endSeconds,
                           const LogTextFormat& format) {
  const char sep = format.fieldSeparator;
  std::string text;
  AppendLine(text, kFileNameKey, fileName, sep);
  AppendLine(text, kDateKey, date, sep);
  AppendLine(text, kTimeKey, time, sep);
  AppendLine(text, kBeginSecondsKey, GeneralText(beginSeconds, format.decimalSeparator), sep);
  AppendLine(text, kEndSecondsKey, GeneralText(endSeconds, format.decimalSeparator), sep);
  text += ' ';
  text += kLineEnd;
  return text;
}

std::string LogTitleLine(const ChannelSet& channels, bool time, bool newDataFlags,
                         const RegisterTable& table, int16_t deviceType,
                         const LogTextFormat& format) {
  const char sep = format.fieldSeparator;
  std::string line;
  AppendField(line, kSampleNumberTitle, sep);
  if (time) AppendField(line, kTimeTitle, sep);
  for (int k = 1; k <= kLogChannels; ++k) {
    if (!channels[static_cast<size_t>(k)]) continue;
    const LogChannelTitles& titles = kTitles[static_cast<size_t>(k)];
    if (newDataFlags) {
      std::string_view flag = titles.newData;
      if (deviceType == kAngleModel && k == 9) flag = kPitchNewDataTitle;
      if (deviceType == kAngleModel && k == 10) flag = kRollNewDataTitle;
      AppendField(line, flag, sep);
    }
    AppendField(line, titles.value.empty() ? std::string_view(table[static_cast<size_t>(k)].RegName)
                                           : titles.value,
                sep);
  }
  line += kLineEnd;
  return line;
}

void AppendField(std::string& row, std::string_view field, char separator) {
  row += field;
  row += separator;
}

void AppendField(std::string& row, int64_t value, char separator) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  row.append(digits, result.ptr);
  row += separator;
}

void AppendField(std::string& row, float value, const LogTextFormat& format) {
  row += GeneralText(value, format.decimalSeparator);
  row += format.fieldSeparator;
}

std::string FileAccessErrorText(std::string_view fileName, std::string_view reason) {
  std::string text;
  text += "\r\nFILE ACCESS ERROR\r\n\r\nFile name = ";
  text += fileName;
  text += "\r\n\r\nThis file may already be open by another application.\r\n\r\n"
          "Close the file or choose a different file name.";
  if (!reason.empty()) {
    text += "\r\n\r\n";
    text += reason;
  }
  return text;
}

}  // namespace pemra
