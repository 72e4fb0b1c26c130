// The session class the program creates as "OAHelper.RDOSession": at each logon it picks the
// backend by the server text. A text that names a store file opens the embedded store; any
// other text is an Exchange server reached through Exchange Web Services.
#pragma once

#include <memory>

#include "mailbox/model/rdo.h"

namespace oa::mailbox {

// Registers the routing session class under "OAHelper.RDOSession" (and the embedded store's
// class behind it). Call once at start-up instead of oa::store::RegisterEmbeddedSessionClass().
void RegisterSessionClasses();

}  // namespace oa::mailbox
