// The layout of a store file and how one is opened or created.
#pragma once

#include <memory>
#include <string>

#include "mailbox/store/file_options.h"
#include "mailbox/store/sqlite_db.h"

namespace oa::store {

// PRAGMA application_id of store files: "OAST".
inline constexpr int32_t kApplicationId = 0x4F415354;
// PRAGMA user_version: the layout of the file; a newer one is refused.
inline constexpr int kFormatVersion = 1;

// Opens an existing store file for reading and writing without ever creating or changing it
// on failure. Throws StoreError: MAPI_E_NETWORK_ERROR (no such file), MAPI_E_NO_ACCESS
// (unreadable, read-only), MAPI_E_CORRUPT_DATA (empty, truncated, not a store),
// MAPI_E_VERSION (newer layout), MAPI_E_BUSY (locked).
// With readOnly, a file without write permission is fine and is opened read-only.
std::unique_ptr<Db> OpenStoreFile(const std::string& path, bool readOnly = false,
                                  const StoreFileOptions& options = {});

// Creates a new store file (mode 0600, must not exist) with an empty layout, set up for a bulk
// load: no journal until FinishBulkLoad().
std::unique_ptr<Db> CreateStoreFile(const std::string& path);
void FinishBulkLoad(Db& db);

// Object kinds in the props table.
inline constexpr int kPropsOfFolder = 2;
inline constexpr int kPropsOfMessage = 3;

}  // namespace oa::store
