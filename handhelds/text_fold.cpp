#include "handhelds/text_fold.h"

#include <vector>

namespace oa::handhelds {
namespace {

struct Decoded {
  char32_t code;
  std::string::size_type length;
};

// One UTF-8 character; a malformed sequence gives its first byte alone, kept apart from any
// real character.
Decoded DecodeAt(const std::string& s, std::string::size_type i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  auto stray = Decoded{0x110000u + b0, 1};
  if (b0 < 0x80) return {b0, 1};
  std::string::size_type n = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 0;
  if (n == 0 || b0 > 0xF4 || i + n > s.size()) return stray;
  char32_t code = b0 & (0x7F >> n);
  for (std::string::size_type k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return stray;
    code = (code << 6) | (b & 0x3F);
  }
  return {code, n};
}

char32_t Lower(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 0x20;
  if (c < 0xC0) return c;
  if (c <= 0xDE) return c == 0xD7 ? c : c + 0x20;
  if (c >= 0x100 && c <= 0x137) return c | 1;
  if (c >= 0x139 && c <= 0x148) return (c & 1) ? c + 1 : c;
  if (c >= 0x14A && c <= 0x177) return c | 1;
  if (c == 0x178) return 0xFF;
  if (c >= 0x179 && c <= 0x17E) return (c & 1) ? c + 1 : c;
  if (c >= 0x391 && c <= 0x3AB) return c == 0x3A2 ? c : c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  return c;
}

}  // namespace

std::string TrimBlanks(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::u32string LowerText(const std::string& utf8) {
  std::u32string out;
  for (std::string::size_type i = 0; i < utf8.size();) {
    const Decoded d = DecodeAt(utf8, i);
    out.push_back(Lower(d.code));
    i += d.length;
  }
  return out;
}

std::string::size_type FindEndIgnoringCase(const std::string& text, const std::string& needle) {
  std::u32string lowered;
  std::vector<std::string::size_type> ends;  // byte offset after each character
  for (std::string::size_type i = 0; i < text.size();) {
    const Decoded d = DecodeAt(text, i);
    lowered.push_back(Lower(d.code));
    i += d.length;
    ends.push_back(i);
  }
  const std::u32string wanted = LowerText(needle);
  const auto at = lowered.find(wanted);
  if (at == std::u32string::npos) return std::string::npos;
  return wanted.empty() ? (at == 0 ? 0 : ends[at - 1]) : ends[at + wanted.size() - 1];
}

std::string::size_type CharLength(const std::string& text, std::string::size_type offset) {
  return offset < text.size() ? DecodeAt(text, offset).length : 0;
}

}  // namespace oa::handhelds
