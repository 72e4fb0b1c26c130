#include "settings/utf16.h"

#include <cstdint>

namespace oa::settings {

namespace {

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string Utf16leToUtf8(std::string_view bytes) {
  const std::size_t units = bytes.size() / 2;
  auto unit = [&](std::size_t i) -> std::uint32_t {
    return static_cast<unsigned char>(bytes[2 * i]) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i + 1])) << 8);
  };
  std::string out;
  out.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint32_t u = unit(i);
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
      const std::uint32_t low = unit(i + 1);
      if (low >= 0xDC00 && low < 0xE000) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u < 0xE000) ? 0xFFFD : u);
  }
  return out;
}

}  // namespace oa::settings
