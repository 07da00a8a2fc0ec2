#include "core/Selection.h"

#include "core/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>

namespace pemra {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

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

// Whether a device text reads back as written: one field of one line, no blanks to trim.
bool StorableDevice(std::string_view device) {
  if (device.empty() || device.size() > kMaxDeviceText) return false;
  if (IsBlank(device.front()) || IsBlank(device.back())) return false;
  return std::none_of(device.begin(), device.end(), [](char c) {
    return c == ',' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
}

// One line: the field ends at a comma, leading blanks are dropped; the key is the text
// before the blank that precedes the first "=", the value the text after "= ".
// Returns true when the line was one of the four settings with a good value.
bool ParseConfigLine(std::string_view line, Selection& selection) {
  line = line.substr(0, line.find(','));
  while (!line.empty() && IsBlank(line.front())) line.remove_prefix(1);
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return false;
  const std::string_view key = line.substr(0, equals == 0 ? 0 : equals - 1);
  const std::string_view valueText =
      equals + 2 <= line.size() ? line.substr(equals + 2) : std::string_view{};
  if (key == "Device") {
    const std::string_view device = Trim(valueText);
    if (!StorableDevice(device)) return false;
    selection.Device = std::string(device);
    return true;
  }
  int16_t* target = nullptr;
  if (key == "Interface")
    target = &selection.InterfaceType;
  else if (key == "Port Address")
    target = &selection.PortAddress;
  else if (key == "Factory")
    target = &selection.FactoryMode;
  else if (key == "Product")
    target = &selection.DeviceType;
  if (target == nullptr) return false;
  const auto value = ParseInt16(valueText);
  if (value) *target = *value;
  return value.has_value();
}

// A number as it follows a text item: a blank or a minus sign, the digits, a blank.
std::string NumberField(int16_t value) {
  const int32_t wide = value;
  return (wide < 0 ? "-" : " ") + std::to_string(wide < 0 ? -wide : wide) + " ";
}

std::string SystemReason(int error) { return std::strerror(error); }


}  // namespace

void ParseConfigText(std::string_view text, Selection& selection) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
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
  std::string text = "Interface = " + NumberField(selection.InterfaceType) + "\r\n" +
                     "Port Address = " + NumberField(selection.PortAddress) + "\r\n" +
                     "Factory = " + NumberField(selection.FactoryMode) + "\r\n" +
                     "Product = " + NumberField(selection.DeviceType) + "\r\n";
  const bool named = selection.InterfaceType == kInterfaceFtdi ||
                     selection.InterfaceType == kInterfaceSpidev;
  if (named && StorableDevice(selection.Device)) text += "Device = " + selection.Device + "\r\n";
  return text;
}

ConfigFileStatus LoadConfigFile(Selection& selection, const std::filesystem::path& path) {
  // Only a regular file is read: a directory, a FIFO or a device in its place would give
  // nothing useful or never end. The file is read in chunks to its end, so a good line
  // after any amount of junk still counts; a line longer than kMaxLine cannot be one of
  // the four settings and is skipped without being held in memory.
  constexpr size_t kMaxLine = 64 * 1024;
  ConfigFileStatus status;
  const auto unreadable = [&](const std::string& reason) {
    status.state = ConfigFileState::Unreadable;
    status.reason = "Cannot read " + path.string() + ": " + reason;
    return status;
  };
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return status;  // missing (or a link to nothing)
    return unreadable(SystemReason(errno));
  }
  if (!S_ISREG(st.st_mode)) {
    return unreadable(S_ISDIR(st.st_mode) ? SystemReason(EISDIR) : "it is not a regular file");
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return unreadable(SystemReason(errno));

  Selection found = selection;
  bool recognised = false;
  bool anyContent = false;
  bool atStart = true;
  std::string line;
  bool tooLong = false;
  const auto endLine = [&] {
    if (!tooLong) recognised = ParseConfigLine(line, found) || recognised;
    line.clear();
    tooLong = false;
  };
  std::array<char, 64 * 1024> chunk;
  for (;;) {
    const ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      const int code = errno;
      ::close(fd);
      return unreadable(SystemReason(code));
    }
    if (got == 0) break;
    auto count = static_cast<size_t>(got);
    anyContent = true;
    size_t i = 0;
    // A byte-order mark written by an editor is not part of the first key.
    if (atStart && count >= kByteOrderMark.size() &&
        std::string_view(chunk.data(), kByteOrderMark.size()) == kByteOrderMark) {
      i = kByteOrderMark.size();
    }
    atStart = false;
    for (; i < count; ++i) {
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
  ::close(fd);
  endLine();
  selection = found;
  status.state = (anyContent && !recognised) ? ConfigFileState::Unrecognised
                                             : ConfigFileState::Loaded;
  return status;
}

bool ReadConfigFile(Selection& selection, const std::filesystem::path& path) {
  const ConfigFileState state = LoadConfigFile(selection, path).state;
  return state == ConfigFileState::Loaded || state == ConfigFileState::Unrecognised;
}

bool WriteConfigFile(const Selection& selection, const std::filesystem::path& path,
                     std::string* error) {
  return ReplaceFileAtomically(path, FormatConfigText(selection), error);
}

bool SaveConfigFile(const Selection& selection, const std::filesystem::path& path,
                    const ConfigFileStatus& loaded, std::string* error) {
  if (loaded.state == ConfigFileState::Unreadable) return true;
  if (loaded.state == ConfigFileState::Unrecognised) {
    // The old file is kept under a second name before the new one replaces it: a hard
    // link where the file system has them, else a copy.
    const std::filesystem::path target = ReplacedFile(path);
    const std::filesystem::path backup = target.string() + ".bak";
    std::error_code ec;
    std::filesystem::remove(backup, ec);
    if (::link(target.c_str(), backup.c_str()) != 0 && errno != ENOENT) {
      std::filesystem::copy_file(target, backup, std::filesystem::copy_options::overwrite_existing,
                                 ec);
      if (ec) {
        if (error != nullptr) {
          *error = "Cannot keep " + target.string() + " as " + backup.string() + ": " +
                   ec.message() + "; the file was left as it is";
        }
        return false;
      }
    }
  }
  return WriteConfigFile(selection, path, error);
}

int RemoveStaleConfigTemporaries(const std::filesystem::path& path) {
  // The four lines (at most 96 bytes) and a device line.
  constexpr uintmax_t kMaxWholeFile = 128 + sizeof("Device = \r\n") + kMaxDeviceText;
  int removed = RemoveStaleTemporaries(path);
  // Earlier versions named their temporary files "<file>.XXXXXX". Such a name may be a
  // user's own file, so one is removed only when its whole text is the start of what this
  // program writes (a write cut short), and it is no larger than a whole file.
  const std::filesystem::path target = ReplacedFile(path);
  const std::string prefix = target.filename().string() + ".";
  const std::filesystem::path dir =
      target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
  std::error_code ec;
  std::filesystem::directory_iterator it(dir, ec);
  if (ec) return removed;
  for (const auto& entry : it) {
    const std::string name = entry.path().filename().string();
    if (name.size() != prefix.size() + 6 || !name.starts_with(prefix) ||
        !std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; })) {
      continue;
    }
    if (!entry.is_regular_file(ec) || entry.is_symlink(ec) || entry.file_size(ec) > kMaxWholeFile) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    Selection parsed;
    ParseConfigText(text, parsed);
    if (FormatConfigText(parsed).starts_with(text) && std::filesystem::remove(entry.path(), ec)) {
      ++removed;
    }
  }
  return removed;
}

}  // namespace pemra
