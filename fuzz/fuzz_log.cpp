// `pemra-cli log` end to end on the simulated rig, its options any words (NUL, control bytes
// and line ends included; words are separated by the byte 0xFF): it logs into the folder it
// is given or refuses with a short, printable message; nothing appears outside that folder,
// and no file it leaves ends inside a row.

#include <stdlib.h>

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "cli/Cli.h"
#include "datalog/TimeOfDay.h"
#include "sim/Rig.h"

namespace {

namespace fs = std::filesystem;

constexpr int64_t kMostSamples = 20;  // more only make a case slower
constexpr size_t kMostMessage = 8 * 1024;

std::vector<std::string> Words(std::string_view input) {
  std::vector<std::string> words;
  while (!input.empty()) {
    const size_t end = input.find('\xFF');
    words.emplace_back(input.substr(0, end));
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
  }
  return words;
}

bool TooMany(std::string_view value) {
  int64_t n = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
  return error == std::errc{} && end == value.data() + value.size() && n > kMostSamples;
}

// Words that would reach outside the scratch folder (another folder, another command that
// writes files) or make a case needlessly long. True when the case is to be skipped.
bool Unwanted(const std::vector<std::string>& words, bool& hasSamples) {
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string_view w = words[i];
    if (w.starts_with("--dir") || w.starts_with("--file") || w == "dump" || w == "script") {
      return true;
    }
    for (std::string_view count : {"--samples", "--files"}) {
      if (!w.starts_with(count)) continue;
      if (count == "--samples") hasSamples = true;
      if (w.size() > count.size() + 1 && w[count.size()] == '=' &&
          TooMany(w.substr(count.size() + 1))) {
        return true;
      }
      if (w == count && i + 1 < words.size() && TooMany(words[i + 1])) return true;
    }
  }
  return false;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> words =
      Words(std::string_view(reinterpret_cast<const char*>(data), size));
  bool hasSamples = false;
  if (Unwanted(words, hasSamples)) return 0;

  std::string pattern = (fs::temp_directory_path() / "pemra-fuzz-log-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 0;
  const fs::path scratch = pattern;
  const fs::path dir = scratch / "d";
  fs::create_directory(dir);

  pemra::TestClock clock;
  pemra::sim::RigOptions options;
  options.noise = false;
  options.testPattern = true;
  pemra::sim::Rig rig(clock, options);
  pemra::ClockTimeOfDay day(clock, 36000.0, "12/7/2026", "10:00:01");
  pemra::cli::Environment env;
  env.clock = &clock;
  env.rig = &rig;
  env.configPath = scratch / "CommPort.cfg";  // absent
  env.decimalSeparator = '.';
  env.timeOfDay = &day;

  std::vector<std::string> args = {"--simulate", "log", "--dir", dir.string()};
  if (!hasSamples) args.insert(args.end(), {"--samples", "3"});
  args.insert(args.end(), words.begin(), words.end());
  std::istringstream in;
  std::ostringstream out, err;
  const int status = pemra::cli::Run(args, in, out, err, env);

  FUZZ_CHECK(status == 0 || status == 1 || status == 2);
  const std::string message = err.str();
  FUZZ_CHECK(message.size() <= kMostMessage);
  for (const char c : message) {
    const auto byte = static_cast<unsigned char>(c);
    FUZZ_CHECK(byte >= 0x20 || c == '\n');
  }
  // Only the folder given was written to.
  size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(scratch)) {
    FUZZ_CHECK(entry.path() == dir);
    ++entries;
  }
  FUZZ_CHECK(entries == 1);
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    FUZZ_CHECK(entry.is_regular_file());
    FUZZ_CHECK(name.find(".tmp-") == std::string::npos);
    if (status == 0) FUZZ_CHECK(name.find(".spool") == std::string::npos);
    const std::string text = ReadAll(entry.path());
    FUZZ_CHECK(text.empty() || text.ends_with("\r\n"));
  }
  fs::remove_all(scratch);
  return 0;
}
