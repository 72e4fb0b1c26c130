// Property values as they are kept in a store file, and times as a dump writes them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/variant.h"
#include "mailbox/store/sqlite_db.h"

namespace oa::store {

using SqlValue = std::variant<std::monostate, int64_t, std::string, std::vector<uint8_t>>;

inline int32_t PropType(int32_t tag) {
  return tag & 0xFFFF;
}
inline int32_t PropId(int32_t tag) {
  return static_cast<int32_t>(static_cast<uint32_t>(tag) >> 16);
}
bool IsSupportedPropType(int32_t type);

// The stored form of a value for a tag; nullopt when the value does not fit the tag's type.
std::optional<SqlValue> ToSql(int32_t tag, const oa::Variant& v);
oa::Variant FromSql(int32_t tag, const SqlValue& v);

void BindSql(Stmt& s, int index, const SqlValue& v);
SqlValue ColumnSql(const Stmt& s, int col);

// ISO 8601 in UTC with a final Z, whole seconds or with a fraction; milliseconds since 1970.
std::optional<int64_t> ParseIsoUtc(const std::string& text);
std::string IsoUtc(int64_t unixMillis);
int64_t NowUnixMillis();

}  // namespace oa::store
