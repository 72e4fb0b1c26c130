// Logon of the shared session to the mailbox named in the window.
#pragma once

#include "mailbox/run_context.h"

namespace oa::mailbox {

// Creates the shared session if needed, logs it on and locates the agent's folders. True when
// the session is logged on and the agent's folder and message were found.
bool ConnectMailbox(RunContext& run);

}  // namespace oa::mailbox
