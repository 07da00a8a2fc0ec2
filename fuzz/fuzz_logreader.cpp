// The log reader and the sample-rate detection against any bytes: the input is split at each
// byte 0xFF into up to three files of one session (FZ_1.csv ...), read with the default
// columns, with and without joining. A read either fails with a message naming a file, or
// gives one value per row in every column, finite and within the magnitude the analysis
// takes, a rate within the bounds, and gaps only when joining was asked for.

#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "analysis/LogInput.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kMostFiles = 3;

const fs::path& Scratch() {
  static const fs::path dir = [] {
    std::string name = (fs::temp_directory_path() / "pemra-fuzz-logreader-XXXXXX").string();
    const char* made = ::mkdtemp(name.data());
    if (made == nullptr) std::abort();
    return fs::path(made);
  }();
  return dir;
}

void Check(const pemra::LogInput& input, bool join) {
  const int64_t rows = input.series.Rows();
  FUZZ_CHECK(rows >= 1);
  FUZZ_CHECK(input.series.files.size() == input.layout.files.size());
  FUZZ_CHECK(input.series.values.size() == input.columns.size());
  for (const std::vector<double>& column : input.series.values) {
    FUZZ_CHECK(static_cast<int64_t>(column.size()) == rows);
    for (double v : column) FUZZ_CHECK(std::isfinite(v) && std::fabs(v) <= pemra::kMaxValueMagnitude);
  }
  for (int c : input.columns) {
    const pemra::ColumnKind kind = input.layout.columns[static_cast<size_t>(c)].kind;
    FUZZ_CHECK(kind != pemra::ColumnKind::SampleNumber && kind != pemra::ColumnKind::Time &&
               kind != pemra::ColumnKind::NewData);
  }
  const double rate = input.rate.samplesPerSecond;
  FUZZ_CHECK(rate >= pemra::kMinSampleRate && rate <= pemra::kMaxSampleRate);
  FUZZ_CHECK(join || input.gaps.empty());
  for (const pemra::SessionGap& gap : input.gaps) {
    FUZZ_CHECK(gap.file >= 1 && gap.file < input.layout.files.size());
    FUZZ_CHECK(gap.firstRow >= 1 && gap.firstRow < rows);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<fs::path> files;
  while (files.size() < kMostFiles) {
    const size_t end = files.size() + 1 == kMostFiles ? std::string_view::npos : text.find('\xFF');
    const fs::path path = Scratch() / ("FZ_" + std::to_string(files.size() + 1) + ".csv");
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(text.data(), static_cast<std::streamsize>(std::min(end, text.size())));
    files.push_back(path);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  for (bool join : {false, true}) {
    pemra::LogInputOptions options;
    options.files = files;
    options.join = join;
    pemra::LogInput input;
    if (const auto error = pemra::ReadLogInput(options, input)) {
      FUZZ_CHECK(!error->reason.empty());
      FUZZ_CHECK(!error->session || !join);
      bool named = false;
      for (const fs::path& f : files) named = named || error->file == f.string();
      FUZZ_CHECK(named);
    } else {
      Check(input, join);
    }
  }
  for (const fs::path& f : files) fs::remove(f);
  return 0;
}
