// Named properties as the remote services name them: by property set and name, with the types
// both services spell the same way. The services have no IDs of their own for them, so the
// session hands out 0x8000 and up, per property set and name, as a store does.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace oa::remote {

struct NamedProp {
  std::string guid;  // upper case, without braces
  std::string name;
};

// Shared by the sessions of parallel jobs: every call takes the map's lock.
class NamedPropMap {
 public:
  // The first ID given out, and the last there is.
  static constexpr int32_t kFirstId = 0x8000;
  static constexpr int32_t kLastId = 0xFFFE;

  // The ID for a set and name, given out now if need be; 0 for an empty name, a bad GUID or a
  // full map.
  int32_t IdFor(const std::string& guid, const std::string& name);
  std::optional<NamedProp> Find(int32_t id) const;
  // Every named property given out so far, as tags of type PT_STRING8.
  std::vector<int32_t> AllStringTags() const;

 private:
  mutable std::mutex mu_;
  std::map<int32_t, NamedProp> byId_;
  std::map<std::pair<std::string, std::string>, int32_t> byName_;
};

// "{00020329-...}" or "00020329-..." in any case -> "00020329-...", upper case; empty if bad.
std::string NormalizeGuid(const std::string& guid);

// A property type as the services name it ("String", "Integer", "Short", "Boolean",
// "SystemTime", "Binary"); null for a type they do not take.
const char* PropTypeName(int32_t type);
// The type of such a name (strings as PT_STRING8); nullopt for any other.
std::optional<int32_t> PropTypeOf(const std::string& name);

}  // namespace oa::remote
