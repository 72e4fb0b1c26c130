// The agent's folder "ondavelAgentInfo" and the Handhelds location stored on the agent message.
#pragma once

#include "mailbox/run_context.h"

namespace oa::mailbox {

inline constexpr const char* kAgentInfoFolderName = "ondavelAgentInfo";

// Finds or creates the agent-info folder, finds the agent message and loads HHEntryID and
// HHPath into the run context. True when the agent message was found.
bool GetAgentFolders(RunContext& run);

}  // namespace oa::mailbox
