#pragma once
// The text of a data-log file: file names, the header block, the column-title line and the
// fields of a sample row. Lines end with CR LF; fields are followed by the separator.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/RegisterTable.h"

namespace pemra {

inline constexpr int kLogChannels = 11;  // check boxes 1..11 log register-table entries 1..11
inline constexpr std::string_view kLineEnd = "\r\n";

// The words of a log file, shared by its writer and its readers.
inline constexpr std::string_view kFileNameKey = "File Name";
inline constexpr std::string_view kDateKey = "Date";
inline constexpr std::string_view kTimeKey = "Time";
inline constexpr std::string_view kBeginSecondsKey = "Begin Seconds";
inline constexpr std::string_view kEndSecondsKey = "End Seconds";
inline constexpr std::string_view kSampleNumberTitle = "Sample #";
inline constexpr std::string_view kTimeTitle = "Time (sec)";
// The new-data titles of channels 9 and 10 on the model whose channels 9 and 10 are angles.
inline constexpr std::string_view kPitchNewDataTitle = "pitchND";
inline constexpr std::string_view kRollNewDataTitle = "rollND";

// The titles of channel k (1..11): its new-data column and its value column. An empty value
// title means the register table's name of entry k at the time the title line is built.
struct LogChannelTitles {
  std::string_view newData;
  std::string_view value;
};
LogChannelTitles ChannelTitles(int channel);

// Channel k (1..11) is checked when element k is true; element 0 is unused.
using ChannelSet = std::array<bool, kLogChannels + 1>;

// Field separator and extension, chosen by the locale's decimal separator: a comma
// decimal gives TAB and ".txt", anything else "," and ".csv".
struct LogTextFormat {
  char decimalSeparator = '.';
  char fieldSeparator = ',';
  std::string_view extension = ".csv";
};
LogTextFormat LogTextFormatFor(char decimalSeparator);

// Longest base file name taken: its files, spools and temporaries stay within the longest
// name a file system allows (255 bytes).
inline constexpr size_t kMaxBaseFileName = 200;

// Why `name` cannot be a base file name, as a rule the user can follow ("a file name cannot
// ..."), or empty when it can: it is not empty, a name and not a path (no "/", not "." or
// ".."), holds no control character (NUL, a line end, ESC, ...) and has at most
// kMaxBaseFileName bytes.
std::string_view BaseFileNameProblem(std::string_view name);

// BaseFileName, "_", the number in decimal, the extension: DATALOG_1.csv.
std::string LogFileName(std::string_view baseFileName, int64_t fileNumber,
                        std::string_view extension);

// Lines 1 to 6 of the header: file name, date, time, begin and end seconds, a single space.
std::string LogHeaderLines(std::string_view fileName, std::string_view date,
                           std::string_view time, float beginSeconds, float endSeconds,
                           const LogTextFormat& format);

// The column-title line. Channels 9 and 10 take their value titles from the register
// table's names and their new-data titles from the model (21410: "pitchND", "rollND").
std::string LogTitleLine(const ChannelSet& channels, bool time, bool newDataFlags,
                         const RegisterTable& table, int16_t deviceType,
                         const LogTextFormat& format);

// Appends one field and the separator.
void AppendField(std::string& row, std::string_view field, char separator);
void AppendField(std::string& row, int64_t value, char separator);
void AppendField(std::string& row, float value, const LogTextFormat& format);

// The text of the FILE ACCESS ERROR message for a file name without directory; a reason
// ("PATH: the system's reason") is added as a last line after an empty one.
std::string FileAccessErrorText(std::string_view fileName, std::string_view reason = {});

}  // namespace pemra
