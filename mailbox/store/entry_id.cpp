#include "mailbox/store/entry_id.h"

#include <random>

namespace oa::store {

std::vector<uint8_t> EncodeEntryId(const EntryId& id) {
  std::vector<uint8_t> b(kEntryIdBytes, 0);
  std::copy(id.store.begin(), id.store.end(), b.begin() + 4);
  b[20] = static_cast<uint8_t>(id.kind);
  const auto v = static_cast<uint64_t>(id.id);
  for (int i = 0; i < 8; ++i) b[21 + i] = static_cast<uint8_t>(v >> (56 - 8 * i));
  return b;
}

std::optional<EntryId> DecodeEntryId(const std::vector<uint8_t>& b) {
  if (b.size() != kEntryIdBytes || b[0] || b[1] || b[2] || b[3]) return std::nullopt;
  EntryId id;
  std::copy(b.begin() + 4, b.begin() + 20, id.store.begin());
  if (b[20] < 1 || b[20] > 3) return std::nullopt;
  id.kind = static_cast<ObjectKind>(b[20]);
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | b[21 + i];
  id.id = static_cast<int64_t>(v);
  if (id.id < 0 || (id.kind != ObjectKind::Store && id.id == 0)) return std::nullopt;
  if (id.kind == ObjectKind::Store && id.id != 0) return std::nullopt;
  return id;
}

std::string EntryIdText(const EntryId& id) {
  return HexEncode(EncodeEntryId(id));
}

std::optional<EntryId> ParseEntryIdText(const std::string& text) {
  auto bytes = HexDecode(text);
  if (!bytes) return std::nullopt;
  return DecodeEntryId(*bytes);
}

Guid NewGuid() {
  std::random_device rd;
  Guid g;
  for (size_t i = 0; i < g.size(); i += 4) {
    const uint32_t r = rd();
    for (size_t j = 0; j < 4; ++j) g[i + j] = static_cast<uint8_t>(r >> (8 * j));
  }
  return g;
}

Guid GuidFromBlob(const std::vector<uint8_t>& blob) {
  Guid g{};
  if (blob.size() == g.size()) std::copy(blob.begin(), blob.end(), g.begin());
  return g;
}

std::vector<uint8_t> GuidBlob(const Guid& g) {
  return std::vector<uint8_t>(g.begin(), g.end());
}

}  // namespace oa::store
