#include "handhelds/folder_ops.h"

#include "console/form.h"

namespace oa {

// Placeholders until the folder operations land.
bool DeleteFolderItems(Form&, const std::shared_ptr<mailbox::RDOFolder>&) {
  return false;
}
std::string GetUniqueFolderName(Form&, const std::shared_ptr<mailbox::RDOFolder>&) {
  return "";
}
std::shared_ptr<mailbox::RDOFolder> CreateHandheldsFolder(Form&) {
  return nullptr;
}

}  // namespace oa
