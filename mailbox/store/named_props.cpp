#include "mailbox/store/named_props.h"

#include <cctype>

namespace oa::store {

using namespace mailbox::ConstMAPI;

std::optional<std::string> NormalizeGuidText(const std::string& text) {
  std::string s = text;
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36) return std::nullopt;
  for (size_t i = 0; i < s.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? s[i] != '-' : !std::isxdigit(static_cast<unsigned char>(s[i]))) {
      return std::nullopt;
    }
    s[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[i])));
  }
  return "{" + s + "}";
}

int32_t NamedPropId(Db& db, int64_t storeRow, const std::string& guid, const std::string& name,
                    bool create) {
  {
    CachedStmt s = db.Cached(
        "SELECT prop_id FROM named_props WHERE store_id = ?1 AND guid = ?2 AND name = ?3");
    s->Bind(1, storeRow).Bind(2, guid).Bind(3, name);
    if (s->Step()) return static_cast<int32_t>(s->Int(0));
  }
  if (!create) return 0;
  int64_t next = kFirstNamedPropId;
  {
    CachedStmt s = db.Cached("SELECT max(prop_id) FROM named_props WHERE store_id = ?1");
    s->Bind(1, storeRow);
    if (s->Step() && !s->IsNull(0)) next = s->Int(0) + 1;
  }
  if (next > kLastNamedPropId) Fail(MAPI_E_NOT_ENOUGH_MEMORY, "The named-property map is full");
  CachedStmt ins =
      db.Cached("INSERT INTO named_props(store_id, guid, name, prop_id) VALUES (?1, ?2, ?3, ?4)");
  ins->Bind(1, storeRow).Bind(2, guid).Bind(3, name).Bind(4, next).Run();
  return static_cast<int32_t>(next);
}

std::optional<std::pair<std::string, std::string>> NameOfPropId(Db& db, int64_t storeRow,
                                                                int32_t propId) {
  CachedStmt s =
      db.Cached("SELECT guid, name FROM named_props WHERE store_id = ?1 AND prop_id = ?2");
  s->Bind(1, storeRow).Bind(2, propId);
  if (!s->Step()) return std::nullopt;
  return std::make_pair(s->Text(0), s->Text(1));
}

}  // namespace oa::store
