// Hex and number text against any bytes: the hex conversions stay in range and round-trip,
// the CLI's checks accept exactly what they promise, and number formatting never fails.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "cli/CommandLine.h"
#include "core/NumberText.h"
#include "core/Timing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const int32_t value = pemra::HexToNumber(text);
  FUZZ_CHECK(value >= 0 && value <= 0xFFFF);
  const int16_t folded = pemra::HexToInt16(text);
  FUZZ_CHECK(static_cast<uint16_t>(folded) == static_cast<uint16_t>(value));
  const std::string hex = pemra::NumberToHex(value);
  FUZZ_CHECK(hex.size() == 4);
  FUZZ_CHECK(pemra::HexToNumber(hex) == value);

  if (const auto word = pemra::cli::ParseRegisterValue(text)) {
    FUZZ_CHECK(!text.empty() && text.size() <= 4);
    FUZZ_CHECK(*word == value);
  }
  if (const auto port = pemra::cli::ParsePortAddress(text)) {
    FUZZ_CHECK(static_cast<uint16_t>(*port) <= 0xFFFF);
  }
  pemra::cli::ParseModelCode(text);
  if (const auto ms = pemra::cli::ParseMilliseconds(text, ',')) {
    FUZZ_CHECK(std::isfinite(*ms) && *ms >= 0 && *ms <= 86400000.0);
  }

  // The bytes as a number to format, in every pattern the windows use.
  if (size >= sizeof(double)) {
    double number = 0;
    std::memcpy(&number, data, sizeof number);
    for (const char* pattern : {"0.00", "##0.0##", "0.0######", "#0.000", "0.0####"}) {
      const std::string shown = pemra::FormatNumber(number, pattern, ',');
      FUZZ_CHECK(!shown.empty());
    }
  }
  return 0;
}
