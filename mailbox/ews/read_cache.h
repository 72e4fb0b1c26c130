// What one session has read of the mailbox, kept so that a later step does not ask the server
// again, and dropped by every change the session makes to what it describes:
//  - items as last read (class, subject, creation time, the extended properties asked for),
//    with the folder that holds them; an update or delete of the item drops it, and so does the
//    delete of a folder that holds it or might (its place is not known to lie outside);
//  - where folders lie (folder -> parent), which only moves would change and none are made;
//  - folders this session deleted: the server said so, and they do not come back;
//  - a count of the session's changes, by which a folder's item count read with the folder is
//    known to be still the folder's.
// Nothing here is shared between sessions: another session's changes are its own.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "mailbox/ews/core.h"

namespace oa::ews {

class ReadCache {
 public:
  // An item as read from a folder (its EWS ID), merged with what was known of it: the newer
  // answer wins for what it holds. `folderId` may be empty when the folder is not known.
  void PutItem(const ItemData& d, const std::string& folderId);
  // The item with its class, subject and creation time and every tag in `tags` known; nullopt
  // when any of them would have to be asked for.
  std::optional<ItemData> Item(const std::string& ewsId, bool isPublic,
                               const std::vector<int32_t>& tags) const;
  // The item is changed or deleted by this session.
  void ItemChanged(const std::string& ewsId, bool isPublic);

  // A folder as read: where it lies. `distinguished`: it is a distinguished folder, which no
  // delete can reach, and so every folder below it that no deleted folder lies between.
  void NoteFolder(const std::string& id, bool isPublic, const std::string& parentId,
                  bool distinguished);
  // The folder was deleted: `confirmed` when the server said it is gone, else it may be. Items
  // that lie in it, or whose place is not known, are dropped either way.
  void FolderDeleted(const std::string& id, bool isPublic, bool confirmed);
  bool Gone(const std::string& id, bool isPublic) const;

  // Every change the session makes counts here, whatever it changed.
  void Changed() { ++changes_; }
  uint64_t changes() const { return changes_; }

 private:
  struct Entry {
    ItemData data;
    std::string folderKey;
  };
  // Whether the folder is known to lie outside the one deleted (and is not it).
  bool KnownOutside(const std::string& folderKey, const std::string& deletedKey) const;

  std::map<std::string, Entry> items_;
  std::map<std::string, std::string> parents_;
  std::set<std::string> distinguished_;
  std::set<std::string> gone_;
  uint64_t changes_ = 0;
};

// The key of an EWS ID in the mailbox ("M:") or the public folders ("P:").
std::string CacheKey(const std::string& id, bool isPublic);

}  // namespace oa::ews
