// The Handhelds cleanup: replaces the mailbox's Handhelds folder and points the agent at it.
#pragma once

#include "mailbox/run_context.h"

namespace oa::handhelds {

// Fills run.outcome with what it did.
void CleanupHH(mailbox::RunContext& run);

}  // namespace oa::handhelds
