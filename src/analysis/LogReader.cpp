#include "analysis/LogReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>
#include <system_error>

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

// A file opened for reading with POSIX calls, closed with the object.
class InputFile {
 public:
  explicit InputFile(const std::filesystem::path& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~InputFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  bool IsOpen() const { return fd_ >= 0; }
  // Bytes read, 0 at the end, -1 on an error (errno set).
  ssize_t Read(char* buffer, size_t size) {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0 || errno != EINTR) return n;
    }
  }

 private:
  int fd_;
};

std::string SystemReason(int error) { return std::generic_category().message(error); }

// Splits a line (without its line end) into fields; the trailing separator the program
// writes after the last field gives no field of its own.
std::vector<std::string_view> SplitFields(std::string_view line, char separator) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (start <= line.size()) {
    const size_t end = line.find(separator, start);
    if (end == std::string_view::npos) {
      if (start < line.size()) fields.push_back(line.substr(start));
      break;
    }
    fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

// Parses a whole field as a finite number with the given decimal separator.
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

// Reads up to `count` lines from the start of a file.
bool FirstLines(const std::filesystem::path& path, int count, std::vector<std::string>& lines,
                std::string& reason) {
  InputFile file(path);
  if (!file.IsOpen()) {
    reason = SystemReason(errno);
    return false;
  }
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
    if (pending.size() > (16u << 20)) {
      reason = "a line longer than 16 MiB: not a data log";
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

LogError FileError(const std::filesystem::path& path, int64_t line, std::string reason) {
  return LogError{path.string(), line, std::move(reason), false};
}

}  // namespace

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

std::optional<LogError> InspectLog(const std::vector<std::filesystem::path>& files,
                                   LogLayout& layout) {
  layout = LogLayout{};
  if (files.empty()) return LogError{"", 0, "no log file given", false};
  std::vector<std::string> firstTitles;
  for (const std::filesystem::path& path : SessionOrder(files)) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
      return FileError(path, 0, "is a directory, not a data log");
    std::vector<std::string> lines;
    std::string reason;
    if (!FirstLines(path, kMaxHeaderLines + 1, lines, reason)) return FileError(path, 0, reason);
    LogFileInfo info;
    info.path = path;
    info.bytes = std::filesystem::file_size(path, ec);
    if (ec) return FileError(path, 0, ec.message());
    if (lines.empty()) return FileError(path, 0, "is empty: no rows to read");

    // TAB-separated files are the comma-decimal ones; a TAB in the first line tells.
    const bool tabs = lines[0].find('\t') != std::string::npos;
    const char separator = tabs ? '\t' : ',';
    const char decimal = tabs ? ',' : '.';
    if (layout.files.empty()) {
      layout.fieldSeparator = separator;
      layout.decimalSeparator = decimal;
    } else if (separator != layout.fieldSeparator) {
      return FileError(path, 1, "fields are separated otherwise than in " +
                                    layout.files.front().path.string());
    }

    std::vector<std::string_view> titles;
    int titleLine = 0;
    if (SplitFields(lines[0], separator).empty())
      return FileError(path, 1, "is not a data log of this program (its first line is empty)");
    if (SplitFields(lines[0], separator).front() == kFileNameKey) {
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
    } else {
      const auto fields = SplitFields(lines[0], separator);
      if (fields.front() == kSampleNumberTitle) {
        titles = fields;
        info.skipLines = 1;
      } else {
        int64_t number = 0;
        if (!ParseInteger(fields.front(), number))
          return FileError(path, 1, "is not a data log of this program (a line starts \"" +
                                        std::string(fields.front()) + "\")");
      }
    }

    if (layout.files.empty()) {
      if (!titles.empty()) {
        layout.titles = true;
        layout.columns = ColumnsFromTitles(titles);
        for (auto t : titles) firstTitles.emplace_back(t);
      } else {
        const size_t count = SplitFields(lines[0], separator).size();
        layout.columns.resize(count);
        layout.columns[0].kind = ColumnKind::SampleNumber;
      }
    } else if (!titles.empty() && layout.titles) {
      std::vector<std::string> these(titles.begin(), titles.end());
      if (these != firstTitles)
        return FileError(path, info.skipLines,
                         "has other columns than " + layout.files.front().path.string());
    }
    layout.totalBytes += info.bytes;
    layout.files.push_back(std::move(info));
  }
  return std::nullopt;
}

std::optional<LogError> ChooseColumns(const LogLayout& layout,
                                      const std::vector<std::string>& names,
                                      std::vector<int>& columns) {
  columns.clear();
  const std::string fileName = layout.files.empty() ? "" : layout.files.front().path.string();
  if (names.empty()) {
    for (size_t i = 0; i < layout.columns.size(); ++i)
      if (layout.columns[i].kind == ColumnKind::Gyro || layout.columns[i].kind == ColumnKind::Accel)
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
    if (std::find(columns.begin(), columns.end(), found) == columns.end())
      columns.push_back(found);
  }
  return std::nullopt;
}

namespace {

// Parses the rows of one file into the series.
class RowParser {
 public:
  RowParser(const LogLayout& layout, const std::vector<int>& columns, LogSeries& series)
      : layout_(layout), series_(series), actions_(layout.columns.size()) {
    for (size_t slot = 0; slot < columns.size(); ++slot)
      actions_[static_cast<size_t>(columns[slot])].slot = static_cast<int>(slot);
    for (size_t i = 0; i < layout.columns.size(); ++i) {
      actions_[i].time = layout.columns[i].kind == ColumnKind::Time;
      actions_[i].flag = layout.columns[i].kind == ColumnKind::NewData;
    }
  }

  // One row; false with `reason` set when it is malformed.
  bool Row(std::string_view line, LogFileRows& file, std::string& reason) {
    const char separator = layout_.fieldSeparator;
    const char* p = line.data();
    const char* const end = p + line.size();
    size_t field = 0;
    const size_t expected = actions_.size();
    while (p < end) {
      const char* stop = static_cast<const char*>(std::memchr(p, separator, static_cast<size_t>(end - p)));
      if (stop == nullptr) stop = end;
      if (field >= expected) {
        reason = "more than " + std::to_string(expected) + " fields";
        return false;
      }
      const std::string_view text(p, static_cast<size_t>(stop - p));
      const Action& action = actions_[field];
      if (field == 0) {
        int64_t number = 0;
        if (!ParseInteger(text, number)) {
          reason = "sample number \"" + std::string(text) + "\" is not a whole number";
          return false;
        }
        if (number != file.rows + 1) {
          reason = "sample number " + std::to_string(number) + " where " +
                   std::to_string(file.rows + 1) + " was due";
          return false;
        }
      } else if (action.flag && text.size() == 1 && (text[0] == '0' || text[0] == '1')) {
        if (text[0] == '0') ++series_.newDataZeros[field];  // the flags as the program writes them
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
          const auto slot = static_cast<size_t>(action.slot);
          series_.values[slot].push_back(value);
          if (value != std::floor(value)) series_.wholeNumbers[slot] = false;
        }
        if (action.time) {
          if (!file.firstTime) file.firstTime = value;
          file.lastTime = value;
        }
        if (action.flag && value == 0) ++series_.newDataZeros[field];
      }
      ++field;
      if (stop == end) break;
      p = stop + 1;
    }
    if (field != expected) {
      // Undo the values of this row taken so far, so every column keeps one per row.
      for (size_t f = 0; f < field; ++f)
        if (actions_[f].slot >= 0) series_.values[static_cast<size_t>(actions_[f].slot)].pop_back();
      reason = std::to_string(field) + " fields where the columns are " + std::to_string(expected);
      return false;
    }
    ++file.rows;
    return true;
  }

  // After a file's last row: the time column's last value.
  bool Finish(LogFileRows& file, std::string& reason) {
    if (lastTime_.empty()) return true;
    const bool ok = ParseTime(lastTime_, file.lastTime, reason);
    lastTime_.clear();
    return ok;
  }

 private:
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
  };
  std::string lastTime_;
  const LogLayout& layout_;
  LogSeries& series_;
  std::vector<Action> actions_;
};

}  // namespace

std::optional<LogError> ReadLog(const LogLayout& layout, const std::vector<int>& columns,
                                const ReadControl& control, LogSeries& series) {
  series = LogSeries{};
  series.columns = columns;
  series.values.resize(columns.size());
  series.wholeNumbers.assign(columns.size(), true);
  series.newDataZeros.assign(layout.columns.size(), 0);
  for (int c : columns)
    if (c < 0 || static_cast<size_t>(c) >= layout.columns.size())
      return LogError{"", 0, "no column " + std::to_string(c + 1), false};
  RowParser parser(layout, columns, series);
  std::vector<char> buffer(kBufferBytes);
  uint64_t done = 0;
  bool reserved = false;
  for (const LogFileInfo& info : layout.files) {
    LogFileRows rows;
    InputFile file(info.path);
    if (!file.IsOpen()) return FileError(info.path, 0, SystemReason(errno));
    int64_t lineNumber = 0;
    std::string carry;  // an incomplete line from the end of the previous buffer
    std::string reason;
    auto line = [&](std::string_view text) -> bool {
      ++lineNumber;
      if (lineNumber <= info.skipLines) return true;
      text = StripLineEnd(text);
      if (text.empty()) {
        reason = "empty line";
        return false;
      }
      return parser.Row(text, rows, reason);
    };
    for (;;) {
      if (control.cancel != nullptr && control.cancel->load(std::memory_order_relaxed)) {
        LogError error = FileError(info.path, lineNumber, "reading cancelled");
        error.cancelled = true;
        return error;
      }
      const ssize_t n = file.Read(buffer.data(), buffer.size());
      if (n < 0) return FileError(info.path, 0, SystemReason(errno));
      if (n == 0) break;
      done += static_cast<uint64_t>(n);
      std::string_view chunk(buffer.data(), static_cast<size_t>(n));
      size_t start = 0;
      if (!carry.empty()) {
        const size_t nl = chunk.find('\n');
        if (nl == std::string_view::npos) {
          carry.append(chunk);
          continue;
        }
        carry.append(chunk.substr(0, nl));
        if (!line(carry)) return FileError(info.path, lineNumber, reason);
        carry.clear();
        start = nl + 1;
      }
      for (size_t nl; (nl = chunk.find('\n', start)) != std::string_view::npos; start = nl + 1) {
        if (!line(chunk.substr(start, nl - start))) return FileError(info.path, lineNumber, reason);
      }
      carry.assign(chunk.substr(start));
      if (!reserved && rows.rows > 0 && !columns.empty()) {
        // Reserve once for the whole session from the length of the first rows, so the
        // columns are not reallocated (and held twice) while they grow.
        const double perRow = static_cast<double>(done) / static_cast<double>(rows.rows);
        const auto estimate = static_cast<size_t>(
            static_cast<double>(layout.totalBytes) / perRow * 1.01 + 16);
        for (auto& values : series.values) values.reserve(estimate);
        reserved = true;
      }
      if (control.progress) control.progress(done, layout.totalBytes);
    }
    if (!carry.empty()) {
      // The last line has no line end: a file cut short (the program ends every line).
      ++lineNumber;
      return FileError(info.path, lineNumber, "the last line is incomplete (no line end)");
    }
    if (rows.rows == 0) return FileError(info.path, 0, "holds no rows");
    {
      std::string reason;
      if (!parser.Finish(rows, reason)) return FileError(info.path, lineNumber, reason);
    }
    series.files.push_back(rows);
  }
  return std::nullopt;
}

}  // namespace pemra
