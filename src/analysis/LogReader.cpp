#include "analysis/LogReader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "core/DeviceModel.h"
#include "core/RegisterTable.h"
#include "datalog/LogFormat.h"

namespace pemra {

namespace {

constexpr size_t kBufferBytes = size_t{1} << 20;
constexpr int kMaxHeaderLines = 7;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Lower case, with the files' "Gryo" read as "Gyro".
std::string NormalisedTitle(std::string_view title) {
  std::string out = Lower(title);
  for (size_t at = out.find("gryo"); at != std::string::npos; at = out.find("gryo", at + 1))
    out.replace(at, 4, "gyro");
  return out;
}

std::string SystemReason(int error) { return std::generic_category().message(error); }

// Why a file of this kind is not read.
std::string KindReason(mode_t mode) {
  if (S_ISDIR(mode)) return "is a directory, not a data log";
  if (S_ISFIFO(mode)) return "is a FIFO, not a regular file: not read";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file: not read";
  if (S_ISSOCK(mode)) return "is a socket, not a regular file: not read";
  return "is not a regular file: not read";
}

// An input opened for reading with POSIX calls, closed with the object. Only regular files
// are read: the open does not block (a FIFO without a writer, a terminal), and anything but
// a regular file is closed again with the reason.
class InputFile {
 public:
  explicit InputFile(const std::filesystem::path& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) {
    if (fd_ < 0) {
      reason_ = SystemReason(errno);
      return;
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
      reason_ = SystemReason(errno);
    } else if (!S_ISREG(st.st_mode)) {
      reason_ = KindReason(st.st_mode);
    } else {
      ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
      bytes_ = static_cast<uint64_t>(st.st_size);
      device_ = static_cast<uint64_t>(st.st_dev);
      inode_ = static_cast<uint64_t>(st.st_ino);
      return;
    }
    ::close(fd_);
    fd_ = -1;
  }
  ~InputFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Reason() const { return reason_; }
  uint64_t Bytes() const { return bytes_; }
  uint64_t Device() const { return device_; }
  uint64_t Inode() const { return inode_; }
  // Bytes read, 0 at the end, -1 on an error (errno set).
  ssize_t Read(char* buffer, size_t size) {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0 || errno != EINTR) return n;
    }
  }
  // The same from byte `offset` on, without moving the file position (threads share it).
  ssize_t ReadAt(char* buffer, size_t size, uint64_t offset) {
    for (;;) {
      const ssize_t n = ::pread(fd_, buffer, size, static_cast<off_t>(offset));
      if (n >= 0 || errno != EINTR) return n;
    }
  }

 private:
  int fd_;
  std::string reason_;
  uint64_t bytes_ = 0;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
};

const std::string kLongLine = "a line longer than 16 MiB";

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// Splits a line (without its line end) into fields; the trailing separator the program
// writes after the last field gives no field of its own. With the space separator a run of
// spaces separates two fields, and spaces at either end give none.
void SplitFields(std::string_view line, char separator, std::vector<std::string_view>& fields) {
  fields.clear();
  if (separator == ' ') {
    size_t start = line.find_first_not_of(' ');
    while (start != std::string_view::npos) {
      const size_t end = std::min(line.find(' ', start), line.size());
      fields.push_back(line.substr(start, end - start));
      start = line.find_first_not_of(' ', end);
    }
    return;
  }
  // Fields are short: a plain scan beats a library search call per field.
  const char* const text = line.data();
  const size_t size = line.size();
  size_t start = 0;
  while (start <= size) {
    size_t end = start;
    while (end < size && text[end] != separator) ++end;
    if (end == size) {
      if (start < size) fields.push_back(line.substr(start));
      break;
    }
    fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
}

std::vector<std::string_view> SplitFields(std::string_view line, char separator) {
  std::vector<std::string_view> fields;
  SplitFields(line, separator, fields);
  return fields;
}

// Parses a whole field as a finite number with the given decimal separator.
// A plain decimal of at most 15 digits ("-12.3456"): its digits as a whole number are exact
// in a double, and so is a power of ten up to 1e15, so their quotient is the correctly
// rounded value, bit for bit what from_chars gives, at a fraction of the general parser's
// cost. Anything else (an exponent, more digits, a bare point) is left to from_chars.
bool ShortDecimal(const char* p, const char* end, double& value) {
  static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  constexpr int kMostDigits = 15;
  const bool negative = p != end && *p == '-';
  if (negative) ++p;
  uint64_t digits = 0;
  int count = 0;
  auto take = [&] {
    const char* const from = p;
    for (; p != end && *p >= '0' && *p <= '9' && count <= kMostDigits; ++p, ++count)
      digits = digits * 10 + static_cast<uint64_t>(*p - '0');
    return static_cast<int>(p - from);
  };
  if (take() == 0) return false;
  int fraction = 0;
  if (p != end && *p == '.') {
    ++p;
    fraction = take();
    if (fraction == 0) return false;
  }
  if (p != end || count > kMostDigits) return false;
  const double magnitude = static_cast<double>(digits) / kPowersOfTen[fraction];
  value = negative ? -magnitude : magnitude;
  return true;
}

bool ParseNumber(std::string_view field, char decimalSeparator, double& value) {
  if (field.empty() || field.size() > 63) return false;
  const char* begin = field.data();
  const char* end = begin + field.size();
  char copy[64];
  if (decimalSeparator != '.') {
    for (size_t i = 0; i < field.size(); ++i) {
      const char c = field[i];
      if (c == '.') return false;
      copy[i] = c == decimalSeparator ? '.' : c;
    }
    begin = copy;
    end = copy + field.size();
  }
  if (*begin == '+') return false;
  if (ShortDecimal(begin, end, value)) return true;
  const auto result = std::from_chars(begin, end, value);
  return result.ec == std::errc() && result.ptr == end && std::isfinite(value);
}

bool ParseInteger(std::string_view field, int64_t& value) {
  const auto result = std::from_chars(field.data(), field.data() + field.size(), value);
  return !field.empty() && result.ec == std::errc() && result.ptr == field.data() + field.size();
}

std::string_view StripLineEnd(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Reads up to `count` lines from the start of an open file.
bool FirstLines(InputFile& file, int count, std::vector<std::string>& lines, std::string& reason) {
  std::string pending;
  std::vector<char> buffer(64 * 1024);
  while (static_cast<int>(lines.size()) < count) {
    const ssize_t n = file.Read(buffer.data(), buffer.size());
    if (n < 0) {
      reason = SystemReason(errno);
      return false;
    }
    if (n == 0) {
      if (!pending.empty()) lines.push_back(std::string(StripLineEnd(pending)));
      break;
    }
    pending.append(buffer.data(), static_cast<size_t>(n));
    size_t start = 0;
    for (size_t nl; static_cast<int>(lines.size()) < count &&
                    (nl = pending.find('\n', start)) != std::string::npos;
         start = nl + 1)
      lines.push_back(std::string(StripLineEnd(std::string_view(pending).substr(start, nl - start))));
    pending.erase(0, start);
    if (pending.size() > kMaxLineBytes) {
      reason = kLongLine + ": not a data log";
      return false;
    }
  }
  return true;
}

// The names register-table entries 9 and 10 carry on the common models and on the model
// whose channels 9 and 10 are angles.
struct ChannelNames {
  std::string names[2][kLogChannels + 1];  // [0] common table, [1] angle model
  ChannelNames() {
    RegisterTable table;
    InitRegisterTable(table);
    ApplyModelTable(kPrimaryModel, table);
    for (int k = 1; k <= kLogChannels; ++k) names[0][k] = table[static_cast<size_t>(k)].RegName;
    ApplyModelTable(kModelCodes[0], table);
    for (int k = 1; k <= kLogChannels; ++k) names[1][k] = table[static_cast<size_t>(k)].RegName;
  }
};

const ChannelNames& RegisterNames() {
  static const ChannelNames names;
  return names;
}

std::string ChannelUnit(int channel, bool angle) {
  switch (channel) {
    case 1: case 11: return "V";
    case 2: case 3: case 4: return "deg/s";
    case 5: case 6: case 7: return "g";
    case 8: return "degC";
    case 9: case 10: return angle ? "deg" : "degC";
    default: return "";
  }
}

ColumnKind ChannelKind(int channel) {
  if (channel >= 2 && channel <= 4) return ColumnKind::Gyro;
  if (channel >= 5 && channel <= 7) return ColumnKind::Accel;
  return ColumnKind::Other;
}

// Names the columns from the title line.
std::vector<LogColumn> ColumnsFromTitles(const std::vector<std::string_view>& titles) {
  std::vector<LogColumn> columns;
  int pendingChannel = 0;  // channel of a new-data column just read
  bool pendingAngle = false;
  for (std::string_view title : titles) {
    LogColumn column;
    column.title = std::string(title);
    if (title == kSampleNumberTitle) {
      column.kind = ColumnKind::SampleNumber;
    } else if (title == kTimeTitle) {
      column.kind = ColumnKind::Time;
      column.unit = "s";
    } else {
      int flagChannel = 0;
      bool angle = false;
      for (int k = 1; k <= kLogChannels; ++k)
        if (title == ChannelTitles(k).newData) flagChannel = k;
      if (title == kPitchNewDataTitle) flagChannel = 9, angle = true;
      if (title == kRollNewDataTitle) flagChannel = 10, angle = true;
      if (flagChannel != 0) {
        column.kind = ColumnKind::NewData;
        column.channel = flagChannel;
        pendingChannel = flagChannel;
        pendingAngle = angle;
        columns.push_back(std::move(column));
        continue;
      }
      int channel = 0;
      for (int k = 1; k <= kLogChannels; ++k)
        if (!ChannelTitles(k).value.empty() && title == ChannelTitles(k).value) channel = k;
      if (channel == 0) {
        const ChannelNames& names = RegisterNames();
        for (int model = 0; model < 2; ++model)
          for (int k : {9, 10})
            if (title == names.names[model][k]) channel = k, angle = model == 1;
        if (channel == 0 && (pendingChannel == 9 || pendingChannel == 10))
          channel = pendingChannel, angle = pendingAngle;
      }
      column.channel = channel;
      column.kind = ChannelKind(channel);
      column.unit = ChannelUnit(channel, angle);
    }
    pendingChannel = 0;
    columns.push_back(std::move(column));
  }
  return columns;
}

LogError FileError(const std::filesystem::path& path, int64_t line, std::string reason) {
  return LogError{path.string(), line, std::move(reason), false};
}

}  // namespace

// The session number of a log file name (BASE_N.ext), -1 when it has none; `base` gets the
// path without "_N.ext".
int64_t SessionNumber(const std::filesystem::path& path, std::string& base,
                      std::string& extension) {
  const std::string stem = path.stem().string();
  extension = path.extension().string();
  const size_t underscore = stem.rfind('_');
  int64_t number = -1;
  if (underscore != std::string::npos && underscore + 1 < stem.size() &&
      ParseInteger(std::string_view(stem).substr(underscore + 1), number) && number >= 0 &&
      std::isdigit(static_cast<unsigned char>(stem[underscore + 1]))) {
    base = (path.parent_path() / stem.substr(0, underscore)).string();
    return number;
  }
  base = (path.parent_path() / stem).string();
  return -1;
}

int LogLayout::TimeColumn() const {
  for (size_t i = 0; i < columns.size(); ++i)
    if (columns[i].kind == ColumnKind::Time) return static_cast<int>(i);
  return -1;
}

std::string LogError::Text() const {
  std::string text = file;
  if (line > 0) text += ":" + std::to_string(line);
  text += ": ";
  text += reason;
  return text;
}

int64_t LogSeries::Rows() const {
  int64_t rows = 0;
  for (const LogFileRows& file : files) rows += file.rows;
  return rows;
}

std::vector<std::filesystem::path> SessionOrder(std::vector<std::filesystem::path> files) {
  struct Key {
    std::string base;
    int64_t number;
  };
  std::vector<std::pair<Key, std::filesystem::path>> keyed;
  for (auto& path : files) {
    Key key;
    std::string extension;
    key.number = SessionNumber(path, key.base, extension);
    keyed.push_back({key, std::move(path)});
  }
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
    if (a.first.base != b.first.base) return a.first.base < b.first.base;
    return a.first.number < b.first.number;
  });
  std::vector<std::filesystem::path> ordered;
  for (auto& entry : keyed) ordered.push_back(std::move(entry.second));
  return ordered;
}

std::vector<std::filesystem::path> SessionFiles(const std::filesystem::path& first) {
  std::string base, extension;
  const int64_t number = SessionNumber(first, base, extension);
  if (number < 0) return {first};
  std::vector<std::filesystem::path> files;
  std::error_code ignored;
  for (int64_t n = 1;; ++n) {
    std::filesystem::path path = base + "_" + std::to_string(n) + extension;
    if (!std::filesystem::is_regular_file(path, ignored)) break;
    files.push_back(std::move(path));
  }
  if (files.empty()) files.push_back(first);
  return files;
}

namespace {

// A column of a plain file named as a time: "time", "Time (s)", "timestamp", "t".
bool IsTimeName(std::string_view title) {
  const std::string name = Lower(TrimSpaces(title));
  return name == "t" || name.starts_with("time");
}

// Every field of `fields` a number with the decimal separator.
bool AllNumbers(const std::vector<std::string_view>& fields, char decimal) {
  double value = 0;
  for (std::string_view field : fields)
    if (!ParseNumber(TrimSpaces(field), decimal, value)) return false;
  return !fields.empty();
}

// The separator of a plain file of numbers, from its first line.
char PlainSeparator(std::string_view line) {
  for (char c : {'\t', ';', ','})
    if (line.find(c) != std::string_view::npos) return c;
  return ' ';
}

// What the first lines of a file that is none of the program's layouts say as a plain file
// of numbers: its separators, its names (empty when none) and the lines before the rows.
// False with `reason` and `line` when they are not columns of numbers.
bool ReadPlainLayout(const std::vector<std::string>& lines, char& separator, char& decimal,
                     std::vector<std::string_view>& names, int& skipLines, std::string& reason,
                     int64_t& line) {
  separator = PlainSeparator(lines[0]);
  decimal = '.';
  if (separator == ';' || separator == '\t') {
    // Comma decimals go with these separators; the first rows tell.
    for (size_t i = 0; i < lines.size() && decimal == '.'; ++i)
      if (lines[i].find(',') != std::string::npos) decimal = ',';
  }
  const auto first = SplitFields(lines[0], separator);
  skipLines = AllNumbers(first, decimal) ? 0 : 1;
  if (skipLines == 1)
    for (std::string_view name : first) names.push_back(TrimSpaces(name));
  const size_t row = static_cast<size_t>(skipLines);
  const auto what = [&] {
    line = 1;
    reason = "is not a data log of this program (a line starts \"" +
             std::string(first.empty() ? std::string_view() : first.front()) + "\")";
    return false;
  };
  if (row >= lines.size()) return what();  // names and no row: nothing says it holds numbers
  const auto values = SplitFields(lines[row], separator);
  if (!AllNumbers(values, decimal)) return what();
  if (skipLines == 1 && first.size() != values.size()) {
    line = 2;
    reason = std::to_string(values.size()) + " fields where the first line names " +
             std::to_string(first.size());
    return false;
  }
  return true;
}

}  // namespace

std::optional<LogError> InspectLog(const std::vector<std::filesystem::path>& files,
                                   LogLayout& layout) {
  layout = LogLayout{};
  if (files.empty()) return LogError{"", 0, "no log file given", false};
  std::vector<std::string> firstTitles;
  for (const std::filesystem::path& path : SessionOrder(files)) {
    InputFile file(path);
    if (!file.IsOpen()) return FileError(path, 0, file.Reason());
    std::vector<std::string> lines;
    std::string reason;
    if (!FirstLines(file, kMaxHeaderLines + 1, lines, reason)) return FileError(path, 0, reason);
    LogFileInfo info;
    info.path = path;
    info.bytes = file.Bytes();
    info.device = file.Device();
    info.inode = file.Inode();
    if (lines.empty()) return FileError(path, 0, "is empty: no rows to read");

    // TAB-separated files are the comma-decimal ones; a TAB in the first line tells.
    const bool tabs = lines[0].find('\t') != std::string::npos;
    char separator = tabs ? '\t' : ',';
    char decimal = tabs ? ',' : '.';
    bool plain = false;

    std::vector<std::string_view> titles;
    int titleLine = 0;
    const auto firstFields = SplitFields(lines[0], separator);
    if (firstFields.empty())
      return FileError(path, 1, "is not a data log of this program (its first line is empty)");
    if (firstFields.front() == kFileNameKey) {
      info.header = true;
      for (size_t i = 1; i < lines.size(); ++i) {
        const auto fields = SplitFields(lines[i], separator);
        if (fields.empty()) continue;
        double seconds = 0;
        if (fields[0] == kSampleNumberTitle) {
          titles = fields;
          titleLine = static_cast<int>(i) + 1;
          break;
        }
        if ((fields[0] == kBeginSecondsKey || fields[0] == kEndSecondsKey)) {
          if (fields.size() < 2 || !ParseNumber(fields[1], decimal, seconds))
            return FileError(path, static_cast<int64_t>(i) + 1,
                             "\"" + lines[i] + "\" is not a number of seconds");
          (fields[0] == kBeginSecondsKey ? info.beginSeconds : info.endSeconds) = seconds;
        }
      }
      if (titleLine == 0)
        return FileError(path, 0, "has a header block but no title line (\"" +
                                      std::string(kSampleNumberTitle) + "\")");
      info.skipLines = titleLine;
    } else if (firstFields.front() == kSampleNumberTitle) {
      titles = firstFields;
      info.skipLines = 1;
    } else if (int64_t number = 0; !(ParseInteger(firstFields.front(), number) && number == 1 &&
                                     lines[0].back() == separator)) {
      // Not the program's rows (sample number 1, every field followed by the separator).
      int64_t line = 0;
      if (!ReadPlainLayout(lines, separator, decimal, titles, info.skipLines, reason, line))
        return FileError(path, line, reason);
      plain = true;
    }

    if (layout.files.empty()) {
      layout.fieldSeparator = separator;
      layout.decimalSeparator = decimal;
      layout.plain = plain;
      if (!titles.empty()) {
        layout.titles = true;
        layout.columns = ColumnsFromTitles(titles);
        for (auto t : titles) firstTitles.emplace_back(t);
        if (plain)
          for (LogColumn& column : layout.columns)
            if (column.kind == ColumnKind::Other && column.channel == 0 && IsTimeName(column.title))
              column.kind = ColumnKind::Time, column.unit = "s";
      } else {
        const size_t count = SplitFields(lines[0], separator).size();
        layout.columns.resize(count);
        if (!plain) layout.columns[0].kind = ColumnKind::SampleNumber;
      }
    } else if (separator != layout.fieldSeparator) {
      return FileError(path, 1, "fields are separated otherwise than in " +
                                    layout.files.front().path.string());
    } else if (plain != layout.plain || titles.empty() == layout.titles ||
               (!titles.empty() &&
                std::vector<std::string>(titles.begin(), titles.end()) != firstTitles)) {
      return FileError(path, std::max(info.skipLines, 1),
                       "has other columns than " + layout.files.front().path.string());
    }
    layout.totalBytes += info.bytes;
    layout.files.push_back(std::move(info));
  }
  return std::nullopt;
}

bool ReadsAsLog(const std::filesystem::path& path) {
  LogLayout layout;
  return !InspectLog({path}, layout) && !layout.plain;
}

namespace {

// Why a column holds no values to analyse, or empty when it holds values.
std::string NoValues(const LogColumn& column) {
  switch (column.kind) {
    case ColumnKind::SampleNumber: return "the sample number";
    case ColumnKind::Time: return "the time";
    case ColumnKind::NewData: return "a new-data flag";
    default: return "";
  }
}

}  // namespace

std::optional<LogError> ChooseColumns(const LogLayout& layout,
                                      const std::vector<std::string>& names,
                                      std::vector<int>& columns) {
  columns.clear();
  const std::string fileName = layout.files.empty() ? "" : layout.files.front().path.string();
  if (names.empty()) {
    for (size_t i = 0; i < layout.columns.size(); ++i)
      if (layout.columns[i].kind == ColumnKind::Gyro || layout.columns[i].kind == ColumnKind::Accel ||
          (layout.plain && NoValues(layout.columns[i]).empty()))
        columns.push_back(static_cast<int>(i));
    if (columns.empty())
      return LogError{fileName, 0,
                      layout.titles ? "has no gyro or accelerometer column: name the columns"
                                    : "has no title line: choose the columns by position",
                      false};
    return std::nullopt;
  }
  const ChannelNames& registerNames = RegisterNames();
  for (const std::string& name : names) {
    int found = -1;
    int64_t position = 0;
    if (ParseInteger(name, position)) {
      if (position < 1 || position > static_cast<int64_t>(layout.columns.size()))
        return LogError{fileName, 0,
                        "has no column " + name + " (it has " +
                            std::to_string(layout.columns.size()) + ")",
                        false};
      found = static_cast<int>(position - 1);
    } else {
      const std::string wanted = NormalisedTitle(name);
      for (size_t i = 0; i < layout.columns.size() && found < 0; ++i) {
        const LogColumn& column = layout.columns[i];
        if (!column.title.empty() && NormalisedTitle(column.title) == wanted)
          found = static_cast<int>(i);
      }
      for (size_t i = 0; i < layout.columns.size() && found < 0; ++i) {
        const LogColumn& column = layout.columns[i];
        if (column.channel == 0 || column.kind == ColumnKind::NewData) continue;
        for (int model = 0; model < 2; ++model)
          if (Lower(registerNames.names[model][column.channel]) == Lower(name))
            found = static_cast<int>(i);
      }
      if (found < 0)
        return LogError{fileName, 0,
                        layout.titles ? "has no column \"" + name + "\""
                                      : "has no title line: choose the columns by position",
                        false};
    }
    const LogColumn& column = layout.columns[static_cast<size_t>(found)];
    if (const std::string what = NoValues(column); !what.empty())
      return LogError{fileName, 0,
                      "column " + std::to_string(found + 1) +
                          (column.title.empty() ? "" : " (\"" + column.title + "\")") +
                          " holds " + what + ", no values to analyse",
                      false};
    if (std::find(columns.begin(), columns.end(), found) == columns.end())
      columns.push_back(found);
  }
  return std::nullopt;
}

namespace {

// Reserve no more than this many rows ahead of the data (32 MiB a column): an estimate from
// the file size is only an estimate (a sparse file, a file still growing).
constexpr size_t kMostRowsReserved = size_t{1} << 22;

// A column parsed by one of several threads: fixed blocks, so it never reallocates (and
// never holds its values twice) while it grows; moved into the series when every part is in.
// Each block is mapped pages of its own and unmapped once copied: memory the heap kept
// after a first read would otherwise stay held while the next read fills the series, and
// opening a log again would need twice what it needed the first time.
class BlockColumn {
 public:
  static constexpr size_t kBlockValues = size_t{1} << 20;  // 8 MiB

  void push_back(double value) {
    if (blocks_.empty() || blocks_.back().size == kBlockValues) blocks_.emplace_back();
    Block& block = blocks_.back();
    block.values[block.size++] = value;
  }
  size_t size() const {
    return blocks_.empty() ? 0 : (blocks_.size() - 1) * kBlockValues + blocks_.back().size;
  }
  // Drops the values from `count` on (`count` no more than size()).
  void resize(size_t count) {
    while (size() > count) {
      const size_t excess = size() - count;
      if (blocks_.back().size <= excess) blocks_.pop_back();
      else blocks_.back().size -= excess;
    }
  }
  // Appends the values to `out`, giving each block back once it is copied.
  void MoveInto(std::vector<double>& out) {
    for (Block& block : blocks_) {
      out.insert(out.end(), block.values, block.values + block.size);
      block = Block(nullptr);
    }
    blocks_.clear();
  }

 private:
  struct Block {
    double* values = nullptr;
    size_t size = 0;
    Block() {
      void* pages = ::mmap(nullptr, kBlockValues * sizeof(double), PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (pages == MAP_FAILED) throw std::bad_alloc();
      values = static_cast<double*>(pages);
    }
    explicit Block(std::nullptr_t) {}
    Block(Block&& other) noexcept : values(std::exchange(other.values, nullptr)), size(other.size) {}
    Block& operator=(Block&& other) noexcept {
      if (this != &other) {
        Release();
        values = std::exchange(other.values, nullptr);
        size = other.size;
      }
      return *this;
    }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    ~Block() { Release(); }
    void Release() {
      if (values != nullptr) ::munmap(values, kBlockValues * sizeof(double));
      values = nullptr;
    }
  };
  std::vector<Block> blocks_;
};

// What one thread parses from its stretch of a file.
struct FilePart {
  uint64_t begin = 0;
  uint64_t end = 0;
  std::vector<BlockColumn> values;   // per chosen column
  std::vector<int64_t> newDataZeros;  // per layout column
  std::vector<bool> wholeNumbers;     // per chosen column
  LogFileRows rows;
  int64_t firstSample = 0;  // the sample number of its first row (the program's logs)
  int64_t lines = 0;
  bool failed = false;      // a malformed line, an unreadable stretch: read again in order
  bool cancelled = false;
  bool outOfMemory = false;
};

// Parses the rows of one file into `Target` (the series, or a part of a file).
template <class Target>
class RowParser {
 public:
  // `firstSampleFree`: the first row's sample number is taken as it stands (a part that
  // does not start the file), later rows count on from it.
  RowParser(const LogLayout& layout, const std::vector<int>& columns, Target& target,
            bool firstSampleFree = false)
      : layout_(layout), target_(target), actions_(layout.columns.size()),
        firstSampleFree_(firstSampleFree) {
    for (size_t slot = 0; slot < columns.size(); ++slot)
      actions_[static_cast<size_t>(columns[slot])].slot = static_cast<int>(slot);
    for (size_t i = 0; i < layout.columns.size(); ++i) {
      actions_[i].time = layout.columns[i].kind == ColumnKind::Time;
      actions_[i].flag = layout.columns[i].kind == ColumnKind::NewData;
    }
    if (!actions_.empty()) actions_[0].sampleNumber = !layout.plain;
  }

  // One row; false with `reason` set when it is malformed. A malformed row leaves no value
  // behind, so every column keeps one value per row.
  bool Row(std::string_view line, LogFileRows& file, std::string& reason) {
    if (Fields(line, file, reason)) {
      ++file.rows;
      ++rows_;
      return true;
    }
    for (auto& values : target_.values) values.resize(std::min(values.size(), rows_));
    return false;
  }

  // After a file's last row: the time column's last value.
  bool Finish(LogFileRows& file, std::string& reason) {
    if (lastTime_.empty()) return true;
    const bool ok = ParseTime(lastTime_, file.lastTime, reason);
    lastTime_.clear();
    return ok;
  }

  int64_t FirstSample() const { return sampleBase_ + 1; }

 private:
  bool Fields(std::string_view line, LogFileRows& file, std::string& reason) {
    SplitFields(line, layout_.fieldSeparator, fields_);
    const size_t expected = actions_.size();
    if (fields_.size() > expected) {
      reason = "more than " + std::to_string(expected) + " fields";
      return false;
    }
    if (fields_.size() < expected) {
      reason = std::to_string(fields_.size()) + " fields where the columns are " +
               std::to_string(expected);
      return false;
    }
    for (size_t field = 0; field < expected; ++field) {
      const std::string_view text = layout_.plain ? TrimSpaces(fields_[field]) : fields_[field];
      const Action& action = actions_[field];
      if (action.sampleNumber) {
        int64_t number = 0;
        if (!ParseInteger(text, number)) {
          reason = "sample number \"" + std::string(text) + "\" is not a whole number";
          return false;
        }
        if (firstSampleFree_ && file.rows == 0) sampleBase_ = number - 1;
        if (number != sampleBase_ + file.rows + 1) {
          reason = "sample number " + std::to_string(number) + " where " +
                   std::to_string(sampleBase_ + file.rows + 1) + " was due";
          return false;
        }
      } else if (action.flag && action.slot < 0 && text.size() == 1 &&
                 (text[0] == '0' || text[0] == '1')) {
        if (text[0] == '0') ++target_.newDataZeros[field];  // the flags as the program writes them
      } else if (action.time && action.slot < 0) {
        // Only the first and last times count: the text is kept, and parsed at the file's end.
        if (file.rows == 0 && !ParseTime(text, file.firstTime, reason)) return false;
        lastTime_.assign(text);
      } else if (action.slot >= 0 || action.time || action.flag) {
        double value = 0;
        if (!ParseNumber(text, layout_.decimalSeparator, value)) {
          reason = "field " + std::to_string(field + 1) + " \"" + std::string(text) +
                   "\" is not a number";
          return false;
        }
        if (action.slot >= 0) {
          if (std::fabs(value) > kMaxValueMagnitude) {
            reason = "field " + std::to_string(field + 1) + " \"" + std::string(text) +
                     "\" is too large to analyse (its square overflows the sums)";
            return false;
          }
          const auto slot = static_cast<size_t>(action.slot);
          target_.values[slot].push_back(value);
          if (target_.wholeNumbers[slot] && value != std::floor(value))
            target_.wholeNumbers[slot] = false;
        }
        if (action.time) {
          if (!file.firstTime) file.firstTime = value;
          file.lastTime = value;
        }
        if (action.flag && value == 0) ++target_.newDataZeros[field];
      }
    }
    return true;
  }

  bool ParseTime(std::string_view text, std::optional<double>& time, std::string& reason) {
    double value = 0;
    if (!ParseNumber(text, layout_.decimalSeparator, value)) {
      reason = "the time \"" + std::string(text) + "\" is not a number";
      return false;
    }
    time = value;
    return true;
  }

  struct Action {
    int slot = -1;
    bool time = false;
    bool flag = false;
    bool sampleNumber = false;
  };
  std::string lastTime_;
  const LogLayout& layout_;
  Target& target_;
  std::vector<Action> actions_;
  std::vector<std::string_view> fields_;
  size_t rows_ = 0;  // rows of the target so far
  bool firstSampleFree_ = false;
  int64_t sampleBase_ = 0;  // sample number before the first row
};

// Where a stretch of a file ends and what happened on the way.
enum class Stretch { Done, Malformed, Cancelled, Unreadable };

// Reads bytes [begin, end) of `file` line by line, handing each line (without its line
// end) to `line`, which returns false to stop. `lineNumber` counts the lines so far. A last
// line without a line end sets `lastLineCut` and is counted; it is given to `line` only when
// `giveCutLine` is set. After every buffer `afterBuffer(bytes)` is called with its bytes.
template <class Line, class AfterBuffer>
Stretch ReadLines(InputFile& file, uint64_t begin, uint64_t end, const ReadControl& control,
                  std::vector<char>& buffer, int64_t& lineNumber, std::string& reason,
                  bool giveCutLine, bool& lastLineCut, Line&& line, AfterBuffer&& afterBuffer) {
  std::string carry;  // an incomplete line from the end of the previous buffer
  lastLineCut = false;
  for (uint64_t at = begin; at < end;) {
    if (control.cancel != nullptr && control.cancel->load(std::memory_order_relaxed))
      return Stretch::Cancelled;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), end - at));
    const ssize_t n = file.ReadAt(buffer.data(), want, at);
    if (n < 0) {
      reason = SystemReason(errno);
      return Stretch::Unreadable;
    }
    if (n == 0) break;
    at += static_cast<uint64_t>(n);
    std::string_view chunk(buffer.data(), static_cast<size_t>(n));
    size_t start = 0;
    if (!carry.empty()) {
      const size_t nl = chunk.find('\n');
      if (nl == std::string_view::npos) {
        carry.append(chunk);
        if (carry.size() > kMaxLineBytes) {
          ++lineNumber, reason = kLongLine;
          return Stretch::Malformed;
        }
        afterBuffer(static_cast<uint64_t>(n));
        continue;
      }
      carry.append(chunk.substr(0, nl));
      if (carry.size() > kMaxLineBytes) {
        ++lineNumber, reason = kLongLine;
        return Stretch::Malformed;
      }
      ++lineNumber;
      if (!line(std::string_view(carry))) return Stretch::Malformed;
      carry.clear();
      start = nl + 1;
    }
    for (size_t nl; (nl = chunk.find('\n', start)) != std::string_view::npos; start = nl + 1) {
      ++lineNumber;
      if (!line(chunk.substr(start, nl - start))) return Stretch::Malformed;
    }
    carry.assign(chunk.substr(start));
    afterBuffer(static_cast<uint64_t>(n));
  }
  if (!carry.empty()) {
    ++lineNumber;
    lastLineCut = true;
    if (giveCutLine && !line(std::string_view(carry))) return Stretch::Malformed;
  }
  return Stretch::Done;
}

// Threads that share a file: by the control, else by the machine's cores and the file's
// size (one thread per 4 MiB at least, at most four).
size_t PartsFor(const ReadControl& control, uint64_t bytes) {
  if (control.threads > 0) return static_cast<size_t>(control.threads);
  const size_t cores = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4);
  return static_cast<size_t>(std::clamp<uint64_t>(bytes / (4 * kBufferBytes), 1, cores));
}

// The starts of `parts` stretches of the file, each at a line start (the first at 0), and
// the file's size at the end; a stretch may be empty. False when the file cannot be read.
bool LineStarts(InputFile& file, uint64_t size, size_t parts, std::vector<uint64_t>& starts) {
  starts.assign(1, 0);
  std::vector<char> piece(64 * 1024);
  for (size_t k = 1; k < parts; ++k) {
    uint64_t at = std::max<uint64_t>(size / parts * k, starts.back());
    if (at == 0) at = 1;
    // The line start is just after the first line end at or after byte at - 1.
    uint64_t found = size;
    for (uint64_t from = at - 1; from < size && from - (at - 1) <= kMaxLineBytes;) {
      const ssize_t n = file.ReadAt(piece.data(), piece.size(), from);
      if (n < 0) return false;
      if (n == 0) break;
      const void* nl = std::memchr(piece.data(), '\n', static_cast<size_t>(n));
      if (nl != nullptr) {
        found = from + static_cast<uint64_t>(static_cast<const char*>(nl) - piece.data()) + 1;
        break;
      }
      from += static_cast<uint64_t>(n);
    }
    starts.push_back(std::max(found, starts.back()));
  }
  starts.push_back(size);
  return true;
}

// Parses one stretch of a file on its own thread.
void ReadPart(InputFile& file, const LogLayout& layout, const LogFileInfo& info,
              const std::vector<int>& columns, const ReadControl& control, bool first, bool last,
              std::atomic<uint64_t>& done, const std::function<void()>& report, FilePart& part) {
  try {
    part.values.resize(columns.size());
    part.newDataZeros.assign(layout.columns.size(), 0);
    part.wholeNumbers.assign(columns.size(), true);
    RowParser<FilePart> parser(layout, columns, part, !first);
    std::vector<char> buffer(kBufferBytes);
    std::string reason;
    bool lastLineCut = false;
    const int skip = first ? info.skipLines : 0;
    const Stretch end = ReadLines(
        file, part.begin, part.end, control, buffer, part.lines, reason, layout.plain && last,
        lastLineCut,
        [&](std::string_view text) {
          if (part.lines <= skip) return true;
          text = StripLineEnd(text);
          return !text.empty() && parser.Row(text, part.rows, reason);
        },
        [&](uint64_t bytes) {
          done += bytes;
          if (report) report();
        });
    part.cancelled = end == Stretch::Cancelled;
    part.failed = end != Stretch::Done || (lastLineCut && (!last || !layout.plain)) ||
                  (first && part.lines < skip) || !parser.Finish(part.rows, reason);
    part.firstSample = parser.FirstSample();
  } catch (const std::bad_alloc&) {
    part.values.clear();
    part.failed = part.outOfMemory = true;
  }
}

enum class Parallel { Read, Cancelled, OutOfMemory, InOrder };

// Reads one file in `parts` stretches on as many threads (the calling thread takes the
// first and reports the progress). Anything out of the ordinary (a malformed line, a
// stretch that does not continue the sample numbers, a thread that cannot start) gives
// InOrder: the file is then read again from its start on one thread, which finds the first
// fault and names its line exactly as it always has.
Parallel ReadFileInParts(InputFile& file, const LogLayout& layout, const LogFileInfo& info,
                         const std::vector<int>& columns, const ReadControl& control,
                         size_t parts, uint64_t doneBefore, LogSeries& series,
                         LogFileRows& rows, int64_t& linesRead) {
  std::vector<uint64_t> starts;
  if (!LineStarts(file, file.Bytes(), parts, starts)) return Parallel::InOrder;
  std::vector<FilePart> pieces(parts);
  for (size_t k = 0; k < parts; ++k) pieces[k].begin = starts[k], pieces[k].end = starts[k + 1];
  std::atomic<uint64_t> done{0};
  const std::function<void()> report = [&] {
    if (control.progress) control.progress(doneBefore + done.load(), layout.totalBytes);
  };
  std::vector<std::thread> threads;
  bool started = true;
  try {
    for (size_t k = 1; k < parts; ++k)
      threads.emplace_back(ReadPart, std::ref(file), std::cref(layout), std::cref(info),
                           std::cref(columns), std::cref(control), false, k + 1 == parts,
                           std::ref(done), std::function<void()>(), std::ref(pieces[k]));
  } catch (const std::system_error&) {
    started = false;
  }
  if (started)
    ReadPart(file, layout, info, columns, control, true, parts == 1, done, report, pieces[0]);
  for (std::thread& thread : threads) thread.join();
  if (!started) return Parallel::InOrder;
  linesRead = pieces[0].lines;
  for (const FilePart& part : pieces) {
    if (part.outOfMemory) return Parallel::OutOfMemory;
    if (part.cancelled) return Parallel::Cancelled;
  }
  int64_t rowsBefore = 0;
  for (size_t k = 0; k < parts; ++k) {
    const FilePart& part = pieces[k];
    if (part.failed) return Parallel::InOrder;
    if (k > 0 && part.rows.rows > 0 && !layout.plain && part.firstSample != rowsBefore + 1)
      return Parallel::InOrder;
    rowsBefore += part.rows.rows;
  }
  // Every stretch read: the rows join in file order.
  rows = LogFileRows{};
  for (FilePart& part : pieces) {
    if (part.rows.rows == 0) continue;
    if (rows.rows == 0) rows.firstTime = part.rows.firstTime;
    rows.lastTime = part.rows.lastTime;
    rows.rows += part.rows.rows;
    for (size_t i = 0; i < part.newDataZeros.size(); ++i)
      series.newDataZeros[i] += part.newDataZeros[i];
    for (size_t slot = 0; slot < part.wholeNumbers.size(); ++slot)
      if (!part.wholeNumbers[slot]) series.wholeNumbers[slot] = false;
  }
  try {
    for (std::vector<double>& values : series.values)
      values.reserve(values.size() + static_cast<size_t>(rows.rows));
  } catch (const std::bad_alloc&) {
    return Parallel::OutOfMemory;
  }
  // The columns are copied on the threads too, each thread its own columns.
  auto gather = [&](size_t from) {
    for (size_t slot = from; slot < series.values.size(); slot += parts)
      for (FilePart& part : pieces) part.values[slot].MoveInto(series.values[slot]);
  };
  threads.clear();
  try {
    for (size_t k = 1; k < parts; ++k) threads.emplace_back(gather, k);
  } catch (const std::system_error&) {
    for (size_t k = threads.size() + 1; k < parts; ++k) gather(k);
  }
  gather(0);
  for (std::thread& thread : threads) thread.join();
  if (control.progress) control.progress(doneBefore + done.load(), layout.totalBytes);
  return Parallel::Read;
}

}  // namespace

std::optional<LogError> ReadLog(const LogLayout& layout, const std::vector<int>& columns,
                                const ReadControl& control, LogSeries& series) {
  series = LogSeries{};
  series.columns = columns;
  series.values.resize(columns.size());
  series.wholeNumbers.assign(columns.size(), true);
  series.newDataZeros.assign(layout.columns.size(), 0);
  if (layout.columns.empty()) return LogError{"", 0, "no columns to read", false};
  for (int c : columns)
    if (c < 0 || static_cast<size_t>(c) >= layout.columns.size())
      return LogError{"", 0, "no column " + std::to_string(c + 1), false};
  RowParser<LogSeries> parser(layout, columns, series);
  std::vector<char> buffer(kBufferBytes);
  uint64_t done = 0;
  bool reserved = false;
  for (const LogFileInfo& info : layout.files) {
    LogFileRows rows;
    InputFile file(info.path);
    if (!file.IsOpen()) return FileError(info.path, 0, file.Reason());
    int64_t lineNumber = 0;
    std::string reason;
    if (const size_t parts = PartsFor(control, file.Bytes()); parts > 1) {
      const Parallel read = ReadFileInParts(file, layout, info, columns, control, parts, done,
                                            series, rows, lineNumber);
      if (read == Parallel::Cancelled) {
        LogError error = FileError(info.path, lineNumber, "reading cancelled");
        error.cancelled = true;
        return error;
      }
      if (read == Parallel::OutOfMemory)
        return FileError(info.path, 0, "too large to read into the memory available");
      if (read == Parallel::Read) {
        done += file.Bytes();
        reserved = true;
        series.files.push_back(rows);
        continue;
      }
      rows = LogFileRows{};
      lineNumber = 0;
    }
    bool lastLineCut = false;
    const Stretch end = ReadLines(
        file, 0, UINT64_MAX, control, buffer, lineNumber, reason, layout.plain, lastLineCut,
        [&](std::string_view text) {
          if (lineNumber <= info.skipLines) return true;
          text = StripLineEnd(text);
          if (text.empty()) {
            reason = "empty line";
            return false;
          }
          return parser.Row(text, rows, reason);
        },
        [&](uint64_t bytes) {
          done += bytes;
          if (!reserved && rows.rows > 0 && !columns.empty()) {
            // Reserve once for the whole session from the length of the first rows, so the
            // columns are not reallocated (and held twice) while they grow; never more than
            // a bounded stretch ahead of the data.
            const double perRow = static_cast<double>(done) / static_cast<double>(rows.rows);
            const double estimate = static_cast<double>(layout.totalBytes) / perRow * 1.01 + 16;
            const size_t ahead = static_cast<size_t>(rows.rows) + kMostRowsReserved;
            for (auto& values : series.values)
              values.reserve(estimate < static_cast<double>(ahead) ? static_cast<size_t>(estimate)
                                                                   : ahead);
            reserved = true;
          }
          if (control.progress) control.progress(done, layout.totalBytes);
        });
    switch (end) {
      case Stretch::Cancelled: {
        LogError error = FileError(info.path, lineNumber, "reading cancelled");
        error.cancelled = true;
        return error;
      }
      case Stretch::Unreadable: return FileError(info.path, 0, reason);
      case Stretch::Malformed: return FileError(info.path, lineNumber, reason);
      case Stretch::Done: break;
    }
    // The last line without a line end: a file cut short (the program ends every line); a
    // plain file's last line may end without one.
    if (lastLineCut && !layout.plain)
      return FileError(info.path, lineNumber, "the last line is incomplete (no line end)");
    if (rows.rows == 0) return FileError(info.path, 0, "holds no rows");
    if (!parser.Finish(rows, reason)) return FileError(info.path, lineNumber, reason);
    series.files.push_back(rows);
  }
  return std::nullopt;
}

}  // namespace pemra
