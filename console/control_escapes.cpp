#include "console/control_escapes.h"

#include <cstdio>

#include "base/utf8.h"

namespace oa::console {
namespace {

void AppendEscape(std::string& out, const char* format, unsigned value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, format, value);
  out += buf;
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
    const size_t length = Utf8SequenceAt(text, i, &code);
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

}  // namespace oa::console
