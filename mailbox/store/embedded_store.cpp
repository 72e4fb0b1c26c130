#include "mailbox/store/embedded_store.h"

namespace oa::store {

// Placeholder until the embedded store lands.
void RegisterEmbeddedSessionClass() {}

}  // namespace oa::store
