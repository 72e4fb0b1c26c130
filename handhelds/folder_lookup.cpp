#include "handhelds/folder_lookup.h"

#include "console/form.h"

namespace oa {

// Placeholders until the folder lookup lands.
std::shared_ptr<mailbox::RDOFolder> GetHandheldsFolder(Form&) {
  return nullptr;
}
std::shared_ptr<mailbox::RDOFolder> GetFolder(Form&, const std::string&, const std::string&) {
  return nullptr;
}
std::shared_ptr<mailbox::RDOFolder> GetFolderFromPath(Form&, std::string) {
  return nullptr;
}

}  // namespace oa
