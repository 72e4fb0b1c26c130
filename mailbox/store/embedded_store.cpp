#include "mailbox/store/embedded_store.h"

#include "mailbox/model/fault_session.h"
#include "mailbox/model/session_registry.h"
#include "mailbox/store/objects.h"

namespace oa::store {

std::shared_ptr<mailbox::RDOSession> NewEmbeddedSession() {
  auto plain = std::make_shared<EmbeddedSession>();
  return mailbox::NewFaultSession(plain, [plain] { return plain->FaultLedger(); });
}

std::shared_ptr<mailbox::RDOSession> NewPlainEmbeddedSession() {
  return std::make_shared<EmbeddedSession>();
}

void RegisterEmbeddedSessionClass() {
  mailbox::RegisterSessionClass(mailbox::kSessionProgID, [] { return NewEmbeddedSession(); });
}

}  // namespace oa::store
