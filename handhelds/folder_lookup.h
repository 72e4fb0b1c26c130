// Finding the current Handhelds folder: by entry ID, by path, in the mailbox or public folders.
#pragma once

#include <memory>
#include <string>

#include "mailbox/model/rdo.h"
#include "mailbox/run_context.h"

namespace oa::handhelds {

// By the run's HHEntryID value first, by its HHPath value second; after a find by path the
// agent message's HHEntryID is set to the folder's entry ID.
std::shared_ptr<mailbox::RDOFolder> GetHandheldsFolder(mailbox::RunContext& run);

// Opens a folder by entry ID, confirmed by its store; retries against the public folder store.
std::shared_ptr<mailbox::RDOFolder> GetFolder(mailbox::RunContext& run, const std::string& EntryID,
                                              const std::string& StoreID);

// Resolves a backslash-separated folder path in the mailbox or under the public folders.
std::shared_ptr<mailbox::RDOFolder> GetFolderFromPath(mailbox::RunContext& run,
                                                      std::string strFolderPath);

}  // namespace oa::handhelds
