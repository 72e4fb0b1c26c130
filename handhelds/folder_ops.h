// Folder operations of the cleanup: emptying item by item, a set-aside name, the new folder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "mailbox/model/rdo.h"
#include "mailbox/run_context.h"

namespace oa::handhelds {

inline constexpr const char* kHandheldsFolderName = "Handhelds";
inline constexpr const char* kSetAsideNamePrefix = "Handhelds -";
inline constexpr int kSetAsideNameLimit = 100;
inline constexpr int64_t kProgressLineEvery = 5000;

// How an emptying ended.
struct FolderEmptying {
  // Cancel was pressed or the window was closed.
  bool stopped = false;
  // Items deleted in this call.
  int64_t deleted = 0;
  // The folder's item count as last read; -1 while it has not been read.
  int64_t remaining = -1;
  // Items the store would not delete; they were skipped.
  int64_t skipped = 0;
};

// Deletes the folder's items one at a time with progress in lblProgress; stops when Cancel is
// pressed. An item that cannot be deleted is left and the next one is tried. True when the
// folder is empty at the end, also when it was empty from the start.
bool DeleteFolderItems(mailbox::RunContext& run, const std::shared_ptr<mailbox::RDOFolder>& folder,
                       FolderEmptying* outcome = nullptr);

// "Handhelds -" and the first number from 1 to 100 that no sibling bears; empty when all are.
std::string GetUniqueFolderName(mailbox::RunContext& run,
                                const std::shared_ptr<mailbox::RDOFolder>& folder);

// The top-level "Handhelds" folder of the mailbox, reused when its name matches exactly. A dry
// run only notes whether it would create or reuse one, and returns the one it would reuse.
std::shared_ptr<mailbox::RDOFolder> CreateHandheldsFolder(mailbox::RunContext& run);

}  // namespace oa::handhelds
