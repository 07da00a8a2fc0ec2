// The configuration file's parser against any bytes: it never fails, what it yields is
// written back as four lines (and the device line of interfaces 3 and 4) that read back to
// the same settings, and reading is idempotent on its own output.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "core/Selection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  pemra::Selection selection{7, 7, 7, 7};
  pemra::ParseConfigText(text, selection);

  const std::string written = pemra::FormatConfigText(selection);
  pemra::Selection back{1, 2, 3, 4};
  pemra::ParseConfigText(written, back);
  // A device read for another interface is not written, so it does not come back.
  pemra::Selection expected = selection;
  if (written.find("\r\nDevice = ") == std::string::npos) expected.Device.clear();
  FUZZ_CHECK(back == expected);
  FUZZ_CHECK(pemra::FormatConfigText(back) == written);

  // The text followed by a good line: that line always wins for its key.
  std::string extended(text);
  extended += "\r\nProduct =  21450 \r\n";
  pemra::Selection last{};
  pemra::ParseConfigText(extended, last);
  FUZZ_CHECK(last.DeviceType == 21450);
  return 0;
}
