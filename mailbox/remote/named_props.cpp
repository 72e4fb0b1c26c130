#include "mailbox/remote/named_props.h"

#include <cctype>

#include "mailbox/model/const_mapi.h"

namespace oa::remote {

using namespace oa::mailbox::ConstMAPI;

int32_t NamedPropMap::IdFor(const std::string& guid, const std::string& name) {
  const std::string g = NormalizeGuid(guid);
  if (g.empty() || name.empty()) return 0;
  std::lock_guard lock(mu_);
  auto key = std::make_pair(g, name);
  if (auto it = byName_.find(key); it != byName_.end()) return it->second;
  const int32_t id = kFirstId + static_cast<int32_t>(byId_.size());
  if (id > kLastId) return 0;
  byName_[key] = id;
  byId_[id] = NamedProp{g, name};
  return id;
}

std::optional<NamedProp> NamedPropMap::Find(int32_t id) const {
  std::lock_guard lock(mu_);
  auto it = byId_.find(id);
  if (it == byId_.end()) return std::nullopt;
  return it->second;
}

std::vector<int32_t> NamedPropMap::AllStringTags() const {
  std::lock_guard lock(mu_);
  std::vector<int32_t> tags;
  for (const auto& [id, prop] : byId_)
    tags.push_back(static_cast<int32_t>((static_cast<uint32_t>(id) << 16) | PT_STRING8));
  return tags;
}

std::string NormalizeGuid(const std::string& guid) {
  std::string g = guid;
  if (g.size() == 38 && g.front() == '{' && g.back() == '}') g = g.substr(1, 36);
  if (g.size() != 36) return "";
  for (size_t i = 0; i < g.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? g[i] != '-' : !std::isxdigit(static_cast<unsigned char>(g[i]))) return "";
    g[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(g[i])));
  }
  return g;
}

const char* PropTypeName(int32_t type) {
  switch (type) {
    case PT_STRING8:
    case PT_UNICODE:
      return "String";
    case PT_LONG:
      return "Integer";
    case PT_I2:
      return "Short";
    case PT_BOOLEAN:
      return "Boolean";
    case PT_SYSTIME:
      return "SystemTime";
    case PT_BINARY:
      return "Binary";
    default:
      return nullptr;
  }
}

std::optional<int32_t> PropTypeOf(const std::string& name) {
  for (int32_t type : {PT_STRING8, PT_LONG, PT_I2, PT_BOOLEAN, PT_SYSTIME, PT_BINARY})
    if (name == PropTypeName(type)) return type;
  return std::nullopt;
}

}  // namespace oa::remote
