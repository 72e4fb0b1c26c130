// The agent's folder "ondavelAgentInfo" and the Handhelds location stored on the agent message.
#pragma once

namespace oa {

class Form;

inline constexpr const char* kAgentInfoFolderName = "ondavelAgentInfo";

// Finds or creates the agent-info folder, finds the agent message and loads HHEntryID and
// HHPath into the form. True when the agent message was found.
bool GetAgentFolders(Form& form);

}  // namespace oa
