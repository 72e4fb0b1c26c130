// The agent message: found in the agent-info folder, duplicates resolved, reopened by entry ID.
#pragma once

#include <memory>
#include <string>

#include "mailbox/model/rdo.h"
#include "mailbox/run_context.h"

namespace oa::mailbox {

inline constexpr const char* kAgentMessageClass = "ondavel.Agent";
inline constexpr const char* kAgentMessageSubject = "ondavelAgent";

// The agent message of the run's agent-info folder, or nullptr. Extra agent messages are
// deleted; the kept message's entry ID goes to run.agentMessageEntryID.
std::shared_ptr<mailbox::RDOMail> GetAgentMessage(RunContext& run);

// Opens a message by entry ID and accepts it only when its store confirms the ID; retries
// against the public folder store.
std::shared_ptr<mailbox::RDOMail> GetMessage(RunContext& run, const std::string& EntryID,
                                             const std::string& StoreID = "");

}  // namespace oa::mailbox
