#include "mailbox/graph/jwt.h"

namespace oa::graph {

std::string Base64Url(const std::string& bytes) {
  static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  size_t i = 0;
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = (b[i] << 16) | (b[i + 1] << 8) | b[i + 2];
    for (int s = 18; s >= 0; s -= 6) out += kAlphabet[(v >> s) & 63];
  }
  if (i + 1 == bytes.size()) {
    const unsigned v = b[i] << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
  } else if (i + 2 == bytes.size()) {
    const unsigned v = (b[i] << 16) | (b[i + 1] << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
  }
  return out;
}

std::optional<std::string> FromBase64Url(const std::string& text) {
  std::string out;
  unsigned v = 0;
  int bits = 0;
  for (char c : text) {
    int d = c >= 'A' && c <= 'Z'   ? c - 'A'
            : c >= 'a' && c <= 'z' ? c - 'a' + 26
            : c >= '0' && c <= '9' ? c - '0' + 52
            : c == '-'             ? 62
            : c == '_'             ? 63
                                   : -1;
    if (d < 0) return std::nullopt;
    v = (v << 6) | static_cast<unsigned>(d);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((v >> bits) & 0xFF);
    }
  }
  if (bits >= 6) return std::nullopt;
  return out;
}

}  // namespace oa::graph
