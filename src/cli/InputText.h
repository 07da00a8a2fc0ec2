#pragma once
// Bounded, checked input for pemra-cli: script lines and arguments have a length limit,
// read errors are told apart from the end of the input, and any text echoed back is made
// safe for a terminal and cut to a readable length.

#include <cstddef>
#include <streambuf>
#include <string>
#include <string_view>

#include "core/ShownText.h"

namespace pemra::cli {

// Longest script line or argument taken, as for a line of the configuration file.
inline constexpr size_t kMaxInputLine = 64 * 1024;
// Longest echo of a user's text in a message.
inline constexpr size_t kMaxShown = kShownName;

// The text made safe to show (ShownText: the one rule of both programs).
inline std::string Shown(std::string_view text, size_t limit = kMaxShown) {
  return ShownText(text, limit);
}

// Reads a file descriptor. Unlike the standard streams it remembers why a read failed, so
// a failure (a directory given as input, an I/O error) is not taken for the end.
class FdInputBuffer final : public std::streambuf {
 public:
  // Takes ownership of `fd` when `owned` (it is closed with the buffer).
  explicit FdInputBuffer(int fd, bool owned = false) : fd_(fd), owned_(owned) {}
  ~FdInputBuffer() override;
  FdInputBuffer(const FdInputBuffer&) = delete;
  FdInputBuffer& operator=(const FdInputBuffer&) = delete;

  // errno of the failed read; 0 while none failed.
  int Error() const { return error_; }

 protected:
  int_type underflow() override;

 private:
  int fd_;
  bool owned_;
  int error_ = 0;
  char buffer_[4096];
};

// Splits input into lines at LF, CR LF or CR alone, without holding more than one line.
class LineReader {
 public:
  enum class Status { Line, End, TooLong, ReadError };

  explicit LineReader(std::streambuf& input) : input_(input) {}
  // The next line (without its end). TooLong: the line passed kMaxInputLine bytes; nothing
  // more is read. ReadError: `ReadErrorCode()` holds the reason (0 when not known).
  Status Next(std::string& line);
  int ReadErrorCode() const { return readError_; }

 private:
  std::streambuf& input_;
  bool skipLineFeed_ = false;  // the last line ended with CR: a following LF belongs to it
  int readError_ = 0;
};

}  // namespace pemra::cli
