#include "base/utf8.h"

namespace oa {

size_t Utf8SequenceAt(std::string_view text, size_t i, char32_t* code) {
  if (i >= text.size()) return 0;
  const auto c = static_cast<unsigned char>(text[i]);
  size_t length = 0;
  char32_t value = 0;
  if (c < 0x80) {
    *code = c;
    return 1;
  } else if (c >= 0xC2 && c <= 0xDF) {
    length = 2, value = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3, value = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4, value = c & 0x07;
  } else {
    return 0;
  }
  if (length > text.size() - i) return 0;
  for (size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  if ((length == 3 && value < 0x800) || (length == 4 && value < 0x10000) || value > 0x10FFFF ||
      (value >= 0xD800 && value <= 0xDFFF))
    return 0;
  *code = value;
  return length;
}

bool ValidUtf8(std::string_view text) {
  char32_t code = 0;
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8SequenceAt(text, i, &code);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

}  // namespace oa
