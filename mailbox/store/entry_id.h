// Entry IDs of the embedded store: 4 zero flag bytes, the 16-byte store GUID, one byte for the
// kind of object and its 64-bit object ID (big-endian). Unique across stores, never reused.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/hex.h"

namespace oa::store {

using Guid = std::array<uint8_t, 16>;

enum class ObjectKind : uint8_t { Store = 1, Folder = 2, Message = 3 };

struct EntryId {
  Guid store{};
  ObjectKind kind = ObjectKind::Store;
  int64_t id = 0;
  friend bool operator==(const EntryId&, const EntryId&) = default;
};

inline constexpr size_t kEntryIdBytes = 4 + 16 + 1 + 8;

std::vector<uint8_t> EncodeEntryId(const EntryId& id);
std::optional<EntryId> DecodeEntryId(const std::vector<uint8_t>& bytes);

// Entry-ID text: upper-case hex, two digits a byte.
std::string EntryIdText(const EntryId& id);
// Accepts hex digits in either case; nullopt for anything that is not one of our entry IDs.
std::optional<EntryId> ParseEntryIdText(const std::string& text);

Guid NewGuid();
Guid GuidFromBlob(const std::vector<uint8_t>& blob);
std::vector<uint8_t> GuidBlob(const Guid& g);

}  // namespace oa::store
