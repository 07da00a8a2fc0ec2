#include "core/ShownText.h"

#include <cstdio>

namespace pemra {

namespace {

// Length of the valid UTF-8 sequence at the start of `text` that is not a control
// character, or 0.
size_t PrintableUtf8(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  size_t length = 0;
  char32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  if (code <= 0x9F) return 0;  // C1 controls
  return length;
}

}  // namespace

std::string ShownText(std::string_view text, size_t limit) {
  std::string shown;
  size_t width = 0;
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::string piece;
    size_t used = 1;
    if (c >= 0x20 && c < 0x7F) {
      piece = static_cast<char>(c);
    } else if (c == '\n') {
      piece = "\\n";
    } else if (c == '\r') {
      piece = "\\r";
    } else if (c == '\t') {
      piece = "\\t";
    } else if (const size_t n = c >= 0x80 ? PrintableUtf8(text.substr(i)) : 0; n > 0) {
      piece = std::string(text.substr(i, n));
      used = n;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      piece = hex;
    }
    const size_t pieceWidth = used > 1 ? 1 : piece.size();
    if (width + pieceWidth > limit) return shown + "...";
    shown += piece;
    width += pieceWidth;
    i += used;
  }
  return shown;
}

}  // namespace pemra
