#pragma once
// Text that came from outside (a file's contents or name, a device's words, an argument)
// made safe to show: every byte that is not printable is escaped (\n, \r, \t, \xNN; valid
// UTF-8 passes, C1 controls excepted), and the text is cut to about `limit` characters with
// "..." after it. Both programs show such text only through this.

#include <cstddef>
#include <string>
#include <string_view>

namespace pemra {

// Longest echo of one name or value in a message.
inline constexpr size_t kShownName = 60;
// Longest whole message line built around such texts.
inline constexpr size_t kShownMessage = 4 * kShownName;

std::string ShownText(std::string_view text, size_t limit = kShownName);

}  // namespace pemra
