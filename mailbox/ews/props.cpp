#include "mailbox/ews/props.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/date.h"
#include "base/mapi_error.h"
#include "base/platform.h"
#include "mailbox/ews/soap.h"
#include "mailbox/model/const_mapi.h"

namespace oa::ews {

using namespace oa::mailbox::ConstMAPI;

namespace {

constexpr int32_t kFirstNamedId = NamedPropMap::kFirstId;
const std::string kPublicStrings = "00020329-0000-0000-C000-000000000046";

}  // namespace

NamedPropMap& SharedNamedProps() {
  static NamedPropMap map;
  return map;
}

bool AppendPropertyPath(pugi::xml_node parent, int32_t tag, const NamedPropMap& named) {
  const uint32_t utag = static_cast<uint32_t>(tag);
  const int32_t id = static_cast<int32_t>(utag >> 16);
  const char* type = remote::PropTypeName(static_cast<int32_t>(utag & 0xFFFF));
  if (!type) return false;
  if (id >= kFirstNamedId) {
    auto prop = named.Find(id);
    if (!prop) return false;
    auto uri = parent.append_child("t:ExtendedFieldURI");
    if (prop->guid == kPublicStrings) {
      uri.append_attribute("DistinguishedPropertySetId") = "PublicStrings";
    } else {
      uri.append_attribute("PropertySetId") = prop->guid.c_str();
    }
    uri.append_attribute("PropertyName") = prop->name.c_str();
    uri.append_attribute("PropertyType") = type;
    return true;
  }
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(id));
  auto uri = parent.append_child("t:ExtendedFieldURI");
  uri.append_attribute("PropertyTag") = hex;
  uri.append_attribute("PropertyType") = type;
  return true;
}

std::optional<int32_t> TagOfPath(pugi::xml_node uri, const NamedPropMap& named) {
  auto type = remote::PropTypeOf(Attr(uri, "PropertyType"));
  if (!type) return std::nullopt;
  std::string propTag = Attr(uri, "PropertyTag");
  if (!propTag.empty()) {
    try {
      unsigned long id = std::stoul(propTag, nullptr, 0);
      if (id > 0xFFFF) return std::nullopt;
      return static_cast<int32_t>((id << 16) | static_cast<uint32_t>(*type));
    } catch (...) {
      return std::nullopt;
    }
  }
  std::string name = Attr(uri, "PropertyName");
  std::string set = Attr(uri, "DistinguishedPropertySetId");
  // A server may echo the property set by its GUID instead of its distinguished name.
  std::string guid =
      set == "PublicStrings" ? kPublicStrings : NormalizeGuid(Attr(uri, "PropertySetId"));
  if (name.empty() || guid.empty()) return std::nullopt;
  // Only names this session has given an ID to can be answers to its requests.
  for (int32_t t : named.AllStringTags()) {
    auto prop = named.Find(static_cast<int32_t>(static_cast<uint32_t>(t) >> 16));
    if (prop && prop->guid == guid && prop->name == name)
      return static_cast<int32_t>((static_cast<uint32_t>(t) & 0xFFFF0000u) |
                                  static_cast<uint32_t>(*type));
  }
  return std::nullopt;
}

std::map<int32_t, Variant> ReadExtendedProperties(pugi::xml_node element,
                                                  const NamedPropMap& named) {
  std::map<int32_t, Variant> out;
  for (auto prop : Children(element, "ExtendedProperty")) {
    auto tag = TagOfPath(Child(prop, "ExtendedFieldURI"), named);
    if (!tag) continue;
    out[*tag] = ValueFromText(ChildText(prop, "Value"), *tag);
  }
  return out;
}

std::optional<std::string> ValueText(const Variant& value, int32_t tag) {
  using T = Variant::Type;
  switch (static_cast<int32_t>(static_cast<uint32_t>(tag) & 0xFFFF)) {
    case PT_STRING8:
    case PT_UNICODE:
      if (value.type() == T::String) return value.AsString();
      if (value.type() == T::Empty) return std::string();
      return value.ToText();
    case PT_LONG:
    case PT_I2:
      if (value.type() == T::Long) return std::to_string(value.AsLong());
      if (value.type() == T::Integer) return std::to_string(value.AsInteger());
      if (value.type() == T::Byte) return std::to_string(value.AsByte());
      return std::nullopt;
    case PT_BOOLEAN:
      if (value.type() == T::Boolean) return std::string(value.AsBoolean() ? "true" : "false");
      return std::nullopt;
    case PT_SYSTIME:
      if (value.type() == T::Date) return DateTimeText(value.AsDate());
      return std::nullopt;
    case PT_BINARY: {
      if (value.type() != T::Array) return std::nullopt;
      std::vector<uint8_t> bytes;
      for (const Variant& b : value.AsArray()) {
        if (b.type() != T::Byte) return std::nullopt;
        bytes.push_back(b.AsByte());
      }
      return Base64Encode(bytes);
    }
    default:
      return std::nullopt;
  }
}

bool StageField(std::map<int32_t, Variant>& pending, int32_t tag, const Variant& value) {
  if (!ValueText(value, tag)) {
    oa::Err().Raise(MAPI_E_INVALID_PARAMETER, "The value does not fit the property's type.");
    return false;
  }
  pending[tag] = value;
  return true;
}

Variant ValueFromText(const std::string& text, int32_t tag) {
  switch (static_cast<int32_t>(static_cast<uint32_t>(tag) & 0xFFFF)) {
    case PT_STRING8:
    case PT_UNICODE:
      return Variant::String(text);
    case PT_LONG:
      try {
        return Variant::Long(static_cast<int32_t>(std::stol(text)));
      } catch (...) {
        return {};
      }
    case PT_I2:
      try {
        return Variant::Integer(static_cast<int16_t>(std::stoi(text)));
      } catch (...) {
        return {};
      }
    case PT_BOOLEAN:
      return Variant::Boolean(text == "true" || text == "1");
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

namespace {
constexpr char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}

std::string Base64Encode(const std::vector<uint8_t>& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
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

std::optional<std::vector<uint8_t>> Base64Decode(const std::string& text) {
  std::vector<uint8_t> out;
  uint32_t acc = 0;
  int bits = 0;
  bool padding = false;
  for (char c : text) {
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    const char* p = std::strchr(kB64, c);
    if (!p || !*p || padding) return std::nullopt;
    acc = (acc << 6) | static_cast<uint32_t>(p - kB64);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>((acc >> bits) & 0xFF));
    }
  }
  return out;
}

namespace {

constexpr size_t kTypeAt = 20;  // after the flags and the provider UID
constexpr size_t kFolderEntryIdBytes = kTypeAt + 2 + 24;
constexpr size_t kMessageEntryIdBytes = kFolderEntryIdBytes + 24;

}  // namespace

ExchangeEntryKind ExchangeEntryKindOf(const std::vector<uint8_t>& id) {
  if (id.size() != kFolderEntryIdBytes && id.size() != kMessageEntryIdBytes)
    return ExchangeEntryKind::Other;
  if (id[0] || id[1] || id[2] || id[3] || id[kTypeAt + 1]) return ExchangeEntryKind::Other;
  const bool message = id.size() == kMessageEntryIdBytes;
  switch (id[kTypeAt]) {
    case 0x01:
      return message ? ExchangeEntryKind::Other : ExchangeEntryKind::MailboxFolder;
    case 0x03:  // public folder
    case 0x05:  // a public folder mapped into a mailbox
      return message ? ExchangeEntryKind::Other : ExchangeEntryKind::PublicFolder;
    case 0x07:
      return message ? ExchangeEntryKind::MailboxMessage : ExchangeEntryKind::Other;
    case 0x09:
    case 0x0B:
      return message ? ExchangeEntryKind::PublicMessage : ExchangeEntryKind::Other;
    default:
      return ExchangeEntryKind::Other;
  }
}

std::vector<uint8_t> PublicFolderEntryIdOf(const std::vector<uint8_t>& id) {
  if (ExchangeEntryKindOf(id) != ExchangeEntryKind::PublicMessage) return {};
  std::vector<uint8_t> folder(id.begin(), id.begin() + kFolderEntryIdBytes);
  // A public message (0x09) lies in a public folder (0x03), a mapped one (0x0B) in a mapped one.
  folder[kTypeAt] = id[kTypeAt] == 0x09 ? 0x03 : 0x05;
  return folder;
}

std::optional<oa::Date> ParseDateTime(const std::string& text) {
  int y, mo, d, h, mi;
  double s;
  int consumed = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%lf%n", &y, &mo, &d, &h, &mi, &s, &consumed) <
      6)
    return std::nullopt;
  std::string zone = text.substr(static_cast<size_t>(consumed));
  int offsetMinutes = 0;
  if (!zone.empty() && zone != "Z") {
    int oh, om;
    if (std::sscanf(zone.c_str() + 1, "%2d:%2d", &oh, &om) != 2 ||
        (zone[0] != '+' && zone[0] != '-'))
      return std::nullopt;
    offsetMinutes = (zone[0] == '-' ? -1 : 1) * (oh * 60 + om);
  }
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  const int64_t whole = static_cast<int64_t>(s);
  tm.tm_sec = static_cast<int>(whole);
  int64_t millis = static_cast<int64_t>(oa::TimeFromUtc(&tm)) * 1000 +
                   static_cast<int64_t>((s - static_cast<double>(whole)) * 1000.0 + 0.5) -
                   static_cast<int64_t>(offsetMinutes) * 60000;
  return oa::DateFromUnixMillis(millis);
}

std::string DateTimeText(oa::Date date) {
  int64_t millis = oa::UnixMillisFromDate(date);
  int64_t secs = millis >= 0 ? millis / 1000 : (millis - 999) / 1000;
  int ms = static_cast<int>(millis - secs * 1000);
  std::time_t t = static_cast<std::time_t>(secs);
  std::tm tm{};
  oa::UtcTime(t, &tm);
  char buf[96];
  if (ms) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  } else {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  }
  return buf;
}

}  // namespace oa::ews
