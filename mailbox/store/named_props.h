// Each store's named-property map: property-set GUID and name -> property ID from 0x8000 up.
// An ID once given out stays with its name for the life of the store.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "mailbox/store/sqlite_db.h"

namespace oa::store {

inline constexpr int32_t kFirstNamedPropId = 0x8000;
inline constexpr int32_t kLastNamedPropId = 0xFFFE;

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, from that form with or without
// braces in either case; nullopt for anything else.
std::optional<std::string> NormalizeGuidText(const std::string& text);

// The ID of a named property; 0 when it has none and `create` is false. With `create`, a new
// ID is given out (the caller holds a write transaction).
int32_t NamedPropId(Db& db, int64_t storeRow, const std::string& guid, const std::string& name,
                    bool create);

// The set and name that a property ID stands for.
std::optional<std::pair<std::string, std::string>> NameOfPropId(Db& db, int64_t storeRow,
                                                                int32_t propId);

}  // namespace oa::store
