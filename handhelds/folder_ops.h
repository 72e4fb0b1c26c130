// Folder operations of the cleanup: emptying item by item, a set-aside name, the new folder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "mailbox/rdo.h"

namespace oa {

class Form;

inline constexpr const char* kHandheldsFolderName = "Handhelds";

// Deletes the folder's items one at a time with progress in lblProgress; stops when Cancel is
// pressed. True when the folder is empty at the end.
bool DeleteFolderItems(Form& form, const std::shared_ptr<mailbox::RDOFolder>& folder);

// "Handhelds -" and the first number from 1 to 100 that no sibling bears; empty when all are.
std::string GetUniqueFolderName(Form& form, const std::shared_ptr<mailbox::RDOFolder>& folder);

// The top-level "Handhelds" folder of the mailbox, reused when its name matches exactly.
std::shared_ptr<mailbox::RDOFolder> CreateHandheldsFolder(Form& form);

}  // namespace oa
