#include "cli/InputText.h"

#include <unistd.h>

#include <cerrno>
#include <exception>

namespace pemra::cli {

FdInputBuffer::~FdInputBuffer() {
  if (owned_ && fd_ >= 0) ::close(fd_);
}

FdInputBuffer::int_type FdInputBuffer::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  if (error_ != 0) return traits_type::eof();
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_, sizeof buffer_);
    if (got > 0) {
      setg(buffer_, buffer_, buffer_ + got);
      return traits_type::to_int_type(*gptr());
    }
    if (got == 0) return traits_type::eof();
    if (errno == EINTR) continue;
    error_ = errno;
    return traits_type::eof();
  }
}

LineReader::Status LineReader::Next(std::string& line) {
  line.clear();
  using traits = std::streambuf::traits_type;
  bool any = false;
  try {
    for (;;) {
      const std::streambuf::int_type next = input_.sbumpc();
      if (traits::eq_int_type(next, traits::eof())) break;
      const char c = traits::to_char_type(next);
      if (skipLineFeed_) {
        skipLineFeed_ = false;
        if (c == '\n') continue;
      }
      if (c == '\n') return Status::Line;
      if (c == '\r') {
        skipLineFeed_ = true;
        return Status::Line;
      }
      any = true;
      if (line.size() == kMaxInputLine) return Status::TooLong;
      line.push_back(c);
    }
  } catch (const std::exception&) {
    readError_ = EIO;
    return Status::ReadError;
  }
  if (const auto* fd = dynamic_cast<const FdInputBuffer*>(&input_); fd && fd->Error() != 0) {
    readError_ = fd->Error();
    return Status::ReadError;
  }
  return any ? Status::Line : Status::End;
}

}  // namespace pemra::cli
