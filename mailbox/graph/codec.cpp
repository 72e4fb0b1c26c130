#include "mailbox/graph/codec.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>

#include "base/date.h"
#include "base/platform.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/remote/named_props.h"

namespace oa::graph {

using namespace oa::mailbox::ConstMAPI;

namespace {

constexpr char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int B64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+' || c == '-') return 62;
  if (c == '/' || c == '_') return 63;
  return -1;
}

// The named properties of every session of the process.
remote::NamedPropMap& NamedMap() {
  static remote::NamedPropMap map;
  return map;
}

}  // namespace

std::string Base64Encode(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t n = static_cast<uint32_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) n |= static_cast<uint32_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) n |= bytes[i + 2];
    out += kB64[(n >> 18) & 63];
    out += kB64[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kB64[(n >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kB64[n & 63] : '=';
  }
  return out;
}

std::string UrlTokenEncode(const std::vector<uint8_t>& bytes) {
  std::string b = Base64Encode(bytes);
  const size_t pad = static_cast<size_t>(std::count(b.begin(), b.end(), '='));
  b.resize(b.size() - pad);
  for (char& c : b) c = c == '+' ? '-' : c == '/' ? '_' : c;
  return b + std::to_string(pad);
}

std::optional<std::vector<uint8_t>> Base64Decode(const std::string& text, bool urlToken) {
  std::string t = text;
  if (urlToken) {
    if (t.empty() || t.back() < '0' || t.back() > '2') return std::nullopt;
    t.pop_back();
  }
  while (!t.empty() && t.back() == '=') t.pop_back();
  if (t.size() % 4 == 1) return std::nullopt;
  std::vector<uint8_t> out;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : t) {
    const int v = B64Value(c);
    if (v < 0) return std::nullopt;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>((acc >> bits) & 0xFF));
    }
  }
  return out;
}

std::optional<oa::Date> ParseDateTime(const std::string& text) {
  int y, mo, d, h, mi;
  double s;
  int consumed = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%lf%n", &y, &mo, &d, &h, &mi, &s, &consumed) <
      6)
    return std::nullopt;
  const std::string zone = text.substr(static_cast<size_t>(consumed));
  int offsetMinutes = 0;
  if (!zone.empty() && zone != "Z") {
    int oh, om;
    if ((zone[0] != '+' && zone[0] != '-') ||
        std::sscanf(zone.c_str() + 1, "%2d:%2d", &oh, &om) != 2)
      return std::nullopt;
    offsetMinutes = (zone[0] == '-' ? -1 : 1) * (oh * 60 + om);
  }
  const int64_t days = oa::DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
  const int64_t millis =
      ((days * 24 + h) * 60 + mi - offsetMinutes) * 60000 + static_cast<int64_t>(s * 1000 + 0.5);
  return oa::DateFromUnixMillis(millis);
}

std::string OneLineSignInRefusal(const std::string& description) {
  const size_t lineEnd = description.find_first_of("\r\n");
  if (description.rfind("AADSTS", 0) != 0 || lineEnd == std::string::npos) return description;
  std::string first = description.substr(0, lineEnd);
  // The code's own colon and blank come first; the first sentence ends at ". " after them.
  const size_t text = first.find(": ");
  const size_t stop = first.find(". ", text == std::string::npos ? 0 : text + 2);
  if (stop != std::string::npos) first.resize(stop + 1);
  while (!first.empty() && first.back() == ' ') first.pop_back();
  const std::string key = "Correlation ID:";
  const size_t at = description.find(key);
  if (at == std::string::npos) return first;
  size_t from = at + key.size();
  while (from < description.size() && description[from] == ' ') ++from;
  const size_t to = description.find_first_of("\r\n ", from);
  const std::string id = description.substr(from, to == std::string::npos ? to : to - from);
  return id.empty() ? first : first + " Correlation ID: " + id;
}

int32_t NamedPropId(const std::string& guid, const std::string& name) {
  return NamedMap().IdFor(guid, name);
}

std::string ExtendedPropertyId(int32_t tag) {
  const uint32_t u = static_cast<uint32_t>(tag);
  const char* type = remote::PropTypeName(static_cast<int32_t>(u & 0xFFFF));
  if (!type) return "";
  const int32_t id = static_cast<int32_t>(u >> 16);
  if (id < 0x8000) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04X", static_cast<unsigned>(id));
    return std::string(type) + " " + buf;
  }
  auto named = NamedMap().Find(id);
  if (!named) return "";
  return std::string(type) + " {" + named->guid + "} Name " + named->name;
}

std::vector<int32_t> NamedStringTags() {
  return NamedMap().AllStringTags();
}

std::optional<std::string> ValueText(const Variant& value, int32_t tag) {
  switch (tag & 0xFFFF) {
    case PT_STRING8:
    case PT_UNICODE:
      if (value.type() != Variant::Type::String) return std::nullopt;
      return value.AsString();
    case PT_LONG:
      if (value.type() == Variant::Type::Long) return std::to_string(value.AsLong());
      if (value.type() == Variant::Type::Integer) return std::to_string(value.AsInteger());
      return std::nullopt;
    case PT_BOOLEAN:
      if (value.type() != Variant::Type::Boolean) return std::nullopt;
      return value.AsBoolean() ? "true" : "false";
    case PT_BINARY: {
      if (!value.IsArray()) return std::nullopt;
      std::vector<uint8_t> bytes;
      for (const Variant& b : value.AsArray()) {
        if (b.type() != Variant::Type::Byte) return std::nullopt;
        bytes.push_back(b.AsByte());
      }
      return Base64Encode(bytes);
    }
    default:
      return std::nullopt;
  }
}

Variant ValueFromText(const std::string& text, int32_t tag) {
  switch (tag & 0xFFFF) {
    case PT_STRING8:
    case PT_UNICODE:
      return Variant::String(text);
    case PT_LONG:
      return Variant::Long(static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10)));
    case PT_I2:
      return Variant::Integer(static_cast<int16_t>(std::strtol(text.c_str(), nullptr, 10)));
    case PT_BOOLEAN:
      return Variant::Boolean(text == "true" || text == "True");
    case PT_SYSTIME: {
      auto d = ParseDateTime(text);
      return d ? Variant::FromDate(*d) : Variant();
    }
    case PT_BINARY: {
      auto bytes = Base64Decode(text);
      return bytes ? Variant::Binary(*bytes) : Variant();
    }
    default:
      return {};
  }
}

}  // namespace oa::graph
