// Reading a dump's JSON: each field checked as it is read, a refusal naming the field by its
// JSON pointer and saying what it must be.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "mailbox/store/entry_id.h"

namespace oa::store::dump {

using json = nlohmann::json;

struct Refusal {
  std::string place, reason;
};

[[noreturn]] inline void Refuse(const std::string& place, const std::string& reason) {
  throw Refusal{place, reason};
}

inline std::string PointerPart(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (c == '~') {
      out += "~0";
    } else if (c == '/') {
      out += "~1";
    } else {
      out += c;
    }
  }
  return "/" + out;
}

inline const json* Member(const json& o, const char* name) {
  auto it = o.find(name);
  return it == o.end() ? nullptr : &*it;
}

inline std::optional<std::string> OptString(const json& o, const char* name,
                                            const std::string& place) {
  const json* v = Member(o, name);
  if (!v) return std::nullopt;
  if (!v->is_string()) Refuse(place + "/" + name, "must be a string");
  return v->get<std::string>();
}

inline bool OptBool(const json& o, const char* name, const std::string& place) {
  const json* v = Member(o, name);
  if (!v) return false;
  if (!v->is_boolean()) Refuse(place + "/" + name, "must be true or false");
  return v->get<bool>();
}

inline std::optional<int64_t> OptCount(const json& o, const char* name, const std::string& place,
                                       int64_t max) {
  const json* v = Member(o, name);
  if (!v) return std::nullopt;
  if (!v->is_number_integer() || v->get<int64_t>() < 0 || v->get<int64_t>() > max) {
    Refuse(place + "/" + name, "must be a whole number from 0 to " + std::to_string(max));
  }
  return v->get<int64_t>();
}

inline std::optional<std::string> OptKey(const json& o, const std::string& place) {
  auto key = OptString(o, "key", place);
  if (key && key->empty()) Refuse(place + "/key", "must not be empty");
  return key;
}

inline std::optional<EntryId> OptEntryId(const json& o, const std::string& place, ObjectKind kind) {
  auto text = OptString(o, "entryId", place);
  if (!text) return std::nullopt;
  auto id = ParseEntryIdText(*text);
  if (!id) Refuse(place + "/entryId", "not an entry ID of this store format");
  if (id->kind != kind) {
    Refuse(place + "/entryId",
           std::string("not the entry ID of a ") + (kind == ObjectKind::Store    ? "store"
                                                    : kind == ObjectKind::Folder ? "folder"
                                                                                 : "message"));
  }
  return id;
}

inline std::string LineAndColumn(const std::string& text, size_t byte) {
  size_t line = 1, col = 1;
  for (size_t i = 0; i + 1 < byte && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      col = 1;
    } else {
      ++col;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(col);
}

}  // namespace oa::store::dump
