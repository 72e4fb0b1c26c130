// Whole stores as JSON documents ("oa-store-dump/1"): import, export, and bulk operations the
// tools and benchmarks use beside the object model.
#pragma once

#include <ostream>
#include <string>

namespace oa::store {

// Folders below the root folder a store may nest. A dump is held to it as it is read, and every
// walk over a store's folders (export, the tree) recurses and stops with an error beyond it, so a
// store file made by other means cannot overflow the stack.
constexpr int kMaxFolderDepth = 1000;

inline constexpr const char* kDumpFormat = "oa-store-dump/1";
inline constexpr int kDefaultMaxMessages = 100;

// Creates or replaces the store file from a dump, atomically: a new file is written beside it
// and renamed over it. A malformed dump is refused whole with one message naming the place (a
// JSON pointer, or line and column) and the reason; the store file is then untouched.
bool ImportDump(const std::string& jsonText, const std::string& storePath, std::string* error);

// Writes the dump of a store file, streaming: each folder's first maxMessages messages
// (negative: all); "count" is always the folder's full number, and "items" the messages left
// out, so that importing the export gives folders of the same sizes.
bool ExportDump(const std::string& storePath, std::ostream& out, int maxMessages,
                std::string* error);

// Deletes all items of a folder in one call and one transaction.
bool BulkDeleteFolderItems(const std::string& storePath, const std::string& folderEntryID,
                           std::string* error);

}  // namespace oa::store
