#include "mailbox/ews/read_cache.h"

namespace oa::ews {

namespace {
// Folder trees are shallow; a longer chain of parents is taken as unknown.
constexpr int kMaxDepth = 64;
}  // namespace

std::string CacheKey(const std::string& id, bool isPublic) {
  return (isPublic ? "P:" : "M:") + id;
}

void ReadCache::PutItem(const ItemData& d, const std::string& folderId) {
  if (d.id.empty()) return;
  Entry& e = items_[CacheKey(d.id, d.isPublic)];
  ItemData merged = d;
  for (const auto& [tag, value] : e.data.props) merged.props.insert({tag, value});
  if (!merged.itemClass) merged.itemClass = e.data.itemClass;
  if (!merged.subject) merged.subject = e.data.subject;
  if (!merged.created) merged.created = e.data.created;
  if (merged.folderId.empty()) merged.folderId = e.data.folderId;
  // The page belongs to the collection that listed it, not to the session.
  merged.page.reset();
  e.data = std::move(merged);
  if (!folderId.empty()) e.folderKey = CacheKey(folderId, d.isPublic);
}

std::optional<ItemData> ReadCache::Item(const std::string& ewsId, bool isPublic,
                                        const std::vector<int32_t>& tags) const {
  auto it = items_.find(CacheKey(ewsId, isPublic));
  if (it == items_.end()) return std::nullopt;
  const ItemData& d = it->second.data;
  if (!d.itemClass || !d.subject || !d.created) return std::nullopt;
  for (int32_t tag : tags)
    if (!d.props.count(tag)) return std::nullopt;
  return d;
}

void ReadCache::ItemChanged(const std::string& ewsId, bool isPublic) {
  items_.erase(CacheKey(ewsId, isPublic));
  Changed();
}

void ReadCache::NoteFolder(const std::string& id, bool isPublic, const std::string& parentId,
                           bool distinguished) {
  if (id.empty()) return;
  const std::string key = CacheKey(id, isPublic);
  if (!parentId.empty() && parentId != id) parents_[key] = CacheKey(parentId, isPublic);
  if (distinguished) distinguished_.insert(key);
}

bool ReadCache::KnownOutside(const std::string& folderKey, const std::string& deletedKey) const {
  std::string at = folderKey;
  for (int depth = 0; depth < kMaxDepth && !at.empty(); ++depth) {
    if (at == deletedKey) return false;
    if (distinguished_.count(at)) return true;
    auto up = parents_.find(at);
    if (up == parents_.end()) return false;
    at = up->second;
  }
  return false;
}

void ReadCache::FolderDeleted(const std::string& id, bool isPublic, bool confirmed) {
  Changed();
  if (id.empty()) return;
  const std::string key = CacheKey(id, isPublic);
  for (auto it = items_.begin(); it != items_.end();) {
    if (KnownOutside(it->second.folderKey, key)) {
      ++it;
    } else {
      it = items_.erase(it);
    }
  }
  if (confirmed) gone_.insert(key);
}

bool ReadCache::Gone(const std::string& id, bool isPublic) const {
  return !id.empty() && gone_.count(CacheKey(id, isPublic)) > 0;
}

}  // namespace oa::ews
