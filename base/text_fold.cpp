#include "base/text_fold.h"

#include <algorithm>
#include <vector>

#include "base/text_fold_table.h"

namespace oa::text {
namespace {

// Stray bytes decode above the code space, so they never equal a character.
constexpr char32_t kStrayBase = 0x110000;

struct Decoded {
  char32_t code;
  std::size_t length;
};

// One UTF-8 character. A malformed, overlong or surrogate sequence gives its first byte alone:
// otherwise a second spelling of 'A' would match "a".
Decoded DecodeAt(std::string_view s, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  const Decoded stray{kStrayBase + b0, 1};
  if (b0 < 0x80) return {b0, 1};
  const std::size_t n = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 0;
  if (n == 0 || b0 > 0xF4 || i + n > s.size()) return stray;
  char32_t code = b0 & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return stray;
    code = (code << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kMin[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return stray;
  return {code, n};
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

char32_t FoldChar(char32_t code) {
  if (code < 0x80) return code >= U'A' && code <= U'Z' ? code + 0x20 : code;
  const FoldRange* end = kFoldRanges + kFoldRangeCount;
  const FoldRange* r = std::upper_bound(
      kFoldRanges, end, code, [](char32_t c, const FoldRange& range) { return c < range.first; });
  if (r == kFoldRanges) return code;
  --r;
  if (code > r->last || (code - r->first) % r->stride != 0) return code;
  return static_cast<char32_t>(static_cast<int32_t>(code) + r->delta);
}

std::string Fold(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const Decoded d = DecodeAt(utf8, i);
    const char32_t folded = d.code >= kStrayBase ? d.code : FoldChar(d.code);
    if (folded == d.code) {
      out.append(utf8.substr(i, d.length));
    } else {
      AppendUtf8(out, folded);
    }
    i += d.length;
  }
  return out;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a == b || Fold(a) == Fold(b);
}

std::string TrimBlanks(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string::size_type FindEndIgnoringCase(const std::string& text, const std::string& needle) {
  auto fold = [](const std::string& s, std::vector<std::size_t>* ends) {
    std::u32string out;
    for (std::size_t i = 0; i < s.size();) {
      const Decoded d = DecodeAt(s, i);
      out.push_back(d.code >= kStrayBase ? d.code : FoldChar(d.code));
      i += d.length;
      if (ends) ends->push_back(i);
    }
    return out;
  };
  std::vector<std::size_t> ends;  // byte offset after each character
  const std::u32string folded = fold(text, &ends);
  const std::u32string wanted = fold(needle, nullptr);
  const auto at = folded.find(wanted);
  if (at == std::u32string::npos) return std::string::npos;
  return wanted.empty() ? (at == 0 ? 0 : ends[at - 1]) : ends[at + wanted.size() - 1];
}

std::string::size_type CharLength(const std::string& text, std::string::size_type offset) {
  return offset < text.size() ? DecodeAt(text, offset).length : 0;
}

}  // namespace oa::text
