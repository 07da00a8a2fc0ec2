#include "core/Selection.h"

#include <array>
#include <fstream>
#include <optional>

#include "core/AtomicFile.h"

namespace pemra {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// A decimal integer with an optional sign that fits 16 bits; anything else is not a value.
std::optional<int16_t> ParseInt16(std::string_view text) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  int32_t magnitude = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > 32768) return std::nullopt;
  }
  const int32_t value = negative ? -magnitude : magnitude;
  if (value > 32767) return std::nullopt;
  return static_cast<int16_t>(value);
}

// One line: the field ends at a comma, leading blanks are dropped; the key is the text
// before the blank that precedes the first "=", the value the text after "= ".
void ParseConfigLine(std::string_view line, Selection& selection) {
  line = line.substr(0, line.find(','));
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return;
  const std::string_view key = line.substr(0, equals == 0 ? 0 : equals - 1);
  const std::string_view valueText =
      equals + 2 <= line.size() ? line.substr(equals + 2) : std::string_view{};
  int16_t* target = nullptr;
  if (key == "Interface")
    target = &selection.InterfaceType;
  else if (key == "Port Address")
    target = &selection.PortAddress;
  else if (key == "Factory")
    target = &selection.FactoryMode;
  else if (key == "Product")
    target = &selection.DeviceType;
  if (target == nullptr) return;
  if (const auto value = ParseInt16(valueText)) *target = *value;
}

// A number as it follows a text item: a blank or a minus sign, the digits, a blank.
std::string NumberField(int16_t value) {
  const int32_t wide = value;
  return (wide < 0 ? "-" : " ") + std::to_string(wide < 0 ? -wide : wide) + " ";
}

}  // namespace

void ParseConfigText(std::string_view text, Selection& selection) {
  while (!text.empty()) {
    const size_t end = text.find_first_of("\r\n");
    ParseConfigLine(text.substr(0, end), selection);
    if (end == std::string_view::npos) break;
    // CR LF counts as one line end; a lone CR or LF as one too.
    const size_t next = (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
                            ? end + 2
                            : end + 1;
    text.remove_prefix(next);
  }
}

std::string FormatConfigText(const Selection& selection) {
  return "Interface = " + NumberField(selection.InterfaceType) + "\r\n" +
         "Port Address = " + NumberField(selection.PortAddress) + "\r\n" +
         "Factory = " + NumberField(selection.FactoryMode) + "\r\n" +
         "Product = " + NumberField(selection.DeviceType) + "\r\n";
}

bool ReadConfigFile(Selection& selection, const std::filesystem::path& path) {
  // Only a regular file is read: a directory, a FIFO or a device in its place would give
  // nothing useful or never end. The file is read in chunks to its end, so a good line
  // after any amount of junk still counts; a line longer than kMaxLine cannot be one of
  // the four settings and is skipped without being held in memory.
  constexpr size_t kMaxLine = 64 * 1024;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::string line;
  bool tooLong = false;
  const auto endLine = [&] {
    if (!tooLong) ParseConfigLine(line, selection);
    line.clear();
    tooLong = false;
  };
  std::array<char, 64 * 1024> chunk;
  while (file.read(chunk.data(), chunk.size()) || file.gcount() > 0) {
    const auto count = static_cast<size_t>(file.gcount());
    for (size_t i = 0; i < count; ++i) {
      const char c = chunk[i];
      // CR, LF and CR LF all end a line; the empty line between CR and LF has no "=".
      if (c == '\r' || c == '\n') {
        endLine();
      } else if (!tooLong) {
        if (line.size() == kMaxLine) {
          tooLong = true;
          line.clear();
        } else {
          line.push_back(c);
        }
      }
    }
  }
  if (file.bad()) return false;
  endLine();
  return true;
}

bool WriteConfigFile(const Selection& selection, const std::filesystem::path& path,
                     std::string* error) {
  return ReplaceFileAtomically(path, FormatConfigText(selection), error);
}

}  // namespace pemra
