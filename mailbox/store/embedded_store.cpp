#include "mailbox/store/embedded_store.h"

#include "mailbox/model/session_registry.h"
#include "mailbox/store/objects.h"

namespace oa::store {

std::shared_ptr<mailbox::RDOSession> NewEmbeddedSession() {
  return std::make_shared<EmbeddedSession>();
}

void RegisterEmbeddedSessionClass() {
  mailbox::RegisterSessionClass(mailbox::kSessionProgID, [] { return NewEmbeddedSession(); });
}

}  // namespace oa::store
