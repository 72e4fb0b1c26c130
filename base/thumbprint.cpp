#include "base/thumbprint.h"

#include <cctype>

namespace oa {

std::optional<std::string> ParseThumbprint(const std::string& text) {
  static const std::string kLeftToRightMark = "\xE2\x80\x8E";
  std::string digits;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == ':') continue;
    if (text.compare(i, kLeftToRightMark.size(), kLeftToRightMark) == 0) {
      i += kLeftToRightMark.size() - 1;
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    digits += c;
    if (digits.size() > 40) return std::nullopt;
  }
  if (digits.size() != 40) return std::nullopt;
  std::string bytes;
  for (size_t i = 0; i < digits.size(); i += 2)
    bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  return bytes;
}

}  // namespace oa
