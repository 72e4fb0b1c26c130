#include "mailbox/confirmed_open.h"

namespace oa::mailbox {

std::string PublicStoreEntryID(RDOSession& session) {
  std::shared_ptr<RDOStores> stores = session.Stores();
  if (!stores) return "";
  std::shared_ptr<RDOStore> publicStore = stores->FindExchangePublicFoldersStore();
  if (!publicStore) return "";
  return publicStore->EntryID();
}

}  // namespace oa::mailbox
