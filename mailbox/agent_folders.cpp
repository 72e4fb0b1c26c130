#include "mailbox/agent_folders.h"

#include "console/form.h"

namespace oa {

// Placeholder until the agent folders land.
bool GetAgentFolders(Form&) {
  return false;
}

}  // namespace oa
