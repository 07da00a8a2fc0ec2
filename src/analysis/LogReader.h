#pragma once
// Reading the data-log files this program writes, for analysis: every variant (".csv" with
// commas or ".txt" with TABs, period or comma decimals, with or without the header block,
// new-data columns and time column, scaled or raw values), and the files of one session
// (BASE_1, BASE_2, ...) as one series in number order. Plain files of numbers are read too:
// one or more columns separated by commas, TABs, spaces or semicolons, with or without a
// first line of names, period decimals (comma decimals with semicolons or TABs).
//
// Inputs are only read: regular files, opened without blocking (a FIFO or a device is
// refused with the reason), every line bounded by kMaxLineBytes, memory taken as the rows
// arrive.
//
// Two steps, so that a front end can offer the columns before it reads the rows:
//   LogLayout layout;
//   if (auto error = InspectLog(files, layout)) ...          // header blocks and title lines
//   std::vector<int> columns;
//   if (auto error = ChooseColumns(layout, {"X Gyro", "5"}, columns)) ...
//   LogSeries series;
//   ReadControl control{progress, &cancelFlag};              // both optional
//   if (auto error = ReadLog(layout, columns, control, series)) ...
// ReadLog streams the files: the memory it holds is the chosen columns as doubles (plus a
// read buffer of 1 MiB a thread); a large file is parsed by several threads (see
// ReadControl::threads) with the same rows, values and messages as one thread gives. It
// may run on a worker thread: `progress` is called on that thread after every buffer with
// the bytes read so far and the total, and a set `cancel` flag ends the read at the next
// buffer (LogError::cancelled). A malformed line stops the read with an error naming the
// file and the line; nothing is skipped silently.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pemra {

// What a column holds, as its title says.
enum class ColumnKind { SampleNumber, Time, NewData, Gyro, Accel, Other };

struct LogColumn {
  std::string title;  // as written in the title line; empty when the files have none
  ColumnKind kind = ColumnKind::Other;
  int channel = 0;    // logged channel 1..11 (value and new-data columns), else 0
  std::string unit;   // of scaled values, as the title implies: "deg/s", "g", "V", "degC",
                      // "deg", "s"; empty when unknown
};

// Longest line of a log or a file of numbers.
inline constexpr size_t kMaxLineBytes = size_t{16} << 20;
// Largest magnitude of a value read for analysis: its square (and sums of such squares over
// many rows) stays finite.
inline constexpr double kMaxValueMagnitude = 1e150;

struct LogFileInfo {
  std::filesystem::path path;
  uint64_t bytes = 0;
  bool header = false;                // the seven-line header block is present
  int skipLines = 0;                  // header block and title line
  std::optional<double> beginSeconds;  // from the header
  std::optional<double> endSeconds;
  uint64_t device = 0;  // of the file as opened: outputs are compared with it
  uint64_t inode = 0;
};

struct LogLayout {
  std::vector<LogFileInfo> files;  // in session number order
  char fieldSeparator = ',';
  char decimalSeparator = '.';
  bool titles = false;             // a title line names the columns
  bool plain = false;              // a plain file of numbers, not one of the program's logs
  std::vector<LogColumn> columns;  // in file order; position p (1-based) is columns[p - 1]
  uint64_t totalBytes = 0;

  int TimeColumn() const;  // index into columns, -1 when there is none
};

// A problem with a file, at a line (1-based) or with the file as a whole (line 0).
struct LogError {
  std::string file;
  int64_t line = 0;
  std::string reason;
  bool cancelled = false;
  // "FILE:LINE: reason" or "FILE: reason".
  std::string Text() const;
};

// Per file, what the rows said beside the chosen values (for the sample-rate detection).
struct LogFileRows {
  int64_t rows = 0;
  std::optional<double> firstTime;  // time column of the first and last row
  std::optional<double> lastTime;
};

struct LogSeries {
  std::vector<int> columns;                 // chosen column indexes
  std::vector<std::vector<double>> values;  // one vector per chosen column, all rows
  std::vector<LogFileRows> files;           // one per file of the layout
  std::vector<int64_t> newDataZeros;        // per layout column: rows holding 0 (new-data
                                            // columns only; others 0)
  std::vector<bool> wholeNumbers;           // per chosen column: every value an integer
                                            // (a log of raw register values)
  int64_t Rows() const;
};

struct ReadControl {
  std::function<void(uint64_t bytesRead, uint64_t totalBytes)> progress;
  const std::atomic<bool>* cancel = nullptr;
  // Threads that parse one file together, each a stretch of whole lines, the rows joined in
  // file order: 0 chooses by the machine's cores and the file's size, 1 reads in order on
  // the calling thread. `progress` is only ever called on the calling thread.
  int threads = 0;
};

// The session number of a log file name (BASE_N.ext), -1 when it has none; `base` gets the
// path without "_N.ext", `extension` the ".ext".
int64_t SessionNumber(const std::filesystem::path& path, std::string& base, std::string& extension);

// The files of a session in number order (DATALOG_2.csv before DATALOG_10.csv); files whose
// names carry no number keep their place before the numbered ones of the same base.
std::vector<std::filesystem::path> SessionOrder(std::vector<std::filesystem::path> files);

// The files of the session `first` belongs to: BASE_1, BASE_2, ... as long as they exist
// (only `first` when its name carries no number).
std::vector<std::filesystem::path> SessionFiles(const std::filesystem::path& first);

// Reads the header blocks and title lines of `files` (put in session order) and the first
// row of each. All files must have the same columns.
std::optional<LogError> InspectLog(const std::vector<std::filesystem::path>& files,
                                   LogLayout& layout);

// Column indexes for `names`: a title as written (case does not matter; "X Gyro" also
// names the files' "X Gryo"), a register name of a logged channel ("XGYRO_OUT"), or a
// 1-based position. An empty list chooses every gyro and accelerometer value column (in a
// plain file of numbers every column but its time). A column that holds no values (the
// sample number, the time, a new-data flag) is refused with its name.
std::optional<LogError> ChooseColumns(const LogLayout& layout,
                                      const std::vector<std::string>& names,
                                      std::vector<int>& columns);

// Whether the file at `path` reads as a data log of this program (one of the program's
// layouts; a plain file of numbers, such as an exported table, does not count). Outputs
// never replace such a file.
bool ReadsAsLog(const std::filesystem::path& path);

// Reads every row of the layout's files, keeping the chosen columns.
std::optional<LogError> ReadLog(const LogLayout& layout, const std::vector<int>& columns,
                                const ReadControl& control, LogSeries& series);

}  // namespace pemra
