#include "mailbox/store/embedded_store.h"

#include "mailbox/model/fault_session.h"
#include "mailbox/model/session_registry.h"
#include "mailbox/store/objects.h"

namespace oa::store {

std::shared_ptr<mailbox::RDOSession> NewEmbeddedSession(const std::string& storeDirectory,
                                                        const StoreFileOptions& fileOptions) {
  auto plain = std::make_shared<EmbeddedSession>(storeDirectory, fileOptions);
  return mailbox::NewFaultSession(plain, [plain] { return plain->FaultLedger(); });
}

std::shared_ptr<mailbox::RDOSession> NewPlainEmbeddedSession(const std::string& storeDirectory) {
  return std::make_shared<EmbeddedSession>(storeDirectory);
}

void RegisterEmbeddedSessionClass(const std::string& storeDirectory) {
  mailbox::RegisterSessionClass(mailbox::kSessionProgID,
                                [storeDirectory] { return NewEmbeddedSession(storeDirectory); });
}

}  // namespace oa::store
