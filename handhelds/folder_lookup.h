// Finding the current Handhelds folder: by entry ID, by path, in the mailbox or public folders.
#pragma once

#include <memory>
#include <string>

#include "mailbox/model/rdo.h"

namespace oa {

class Form;

// By the form's HHEntryID value first, by its HHPath value second; after a find by path the
// agent message's HHEntryID is set to the folder's entry ID.
std::shared_ptr<mailbox::RDOFolder> GetHandheldsFolder(Form& form);

// Opens a folder by entry ID, confirmed by its store; retries against the public folder store.
std::shared_ptr<mailbox::RDOFolder> GetFolder(Form& form, const std::string& EntryID,
                                              const std::string& StoreID);

// Resolves a backslash-separated folder path in the mailbox or under the public folders.
std::shared_ptr<mailbox::RDOFolder> GetFolderFromPath(Form& form, std::string strFolderPath);

}  // namespace oa
