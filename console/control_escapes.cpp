#include "console/control_escapes.h"

#include <cstdio>

namespace oa {
namespace {

void AppendEscape(std::string& out, const char* format, unsigned value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, format, value);
  out += buf;
}

// The length of the well-formed UTF-8 sequence at `i` of at least two bytes (0: none) and its
// code point.
size_t Utf8Sequence(const std::string& text, size_t i, char32_t& code) {
  const auto c = static_cast<unsigned char>(text[i]);
  size_t length = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2, code = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3, code = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4, code = c & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF ||
      (code >= 0xD800 && code <= 0xDFFF))
    return 0;
  return length;
}

}  // namespace

std::string EscapeControls(const std::string& text, LineBreaks lineBreaks) {
  std::string safe;
  safe.reserve(text.size());
  const bool keepBreaks = lineBreaks == LineBreaks::Keep;
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool kept =
        c == '\t' ||
        (keepBreaks && (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')));
    if ((c < 0x20 && !kept) || c == 0x7F) {
      AppendEscape(safe, "\\x%02x", c);
      ++i;
      continue;
    }
    if (c < 0x80) {
      safe += static_cast<char>(c);
      ++i;
      continue;
    }
    char32_t code = 0;
    const size_t length = Utf8Sequence(text, i, code);
    if (length == 0) {
      AppendEscape(safe, "\\x%02x", c);
      ++i;
    } else if (code <= 0x9F) {
      AppendEscape(safe, "\\u%04x", static_cast<unsigned>(code));
      i += length;
    } else {
      safe.append(text, i, length);
      i += length;
    }
  }
  return safe;
}

}  // namespace oa
