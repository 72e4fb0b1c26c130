#include "mailbox/agent_folders.h"

#include <memory>
#include <string>

#include "base/mapi_error.h"
#include "mailbox/agent_message.h"
#include "mailbox/basRDO.h"
#include "mailbox/model/const_mapi.h"

namespace oa::mailbox {

namespace {

int32_t NamedStringTag(mailbox::RDOMail& mail, const char* name) {
  return mailbox::GetNamedPropTag(&mail, oa::Variant::String(name), mailbox::ConstMAPI::PT_STRING8,
                                  "");
}

std::shared_ptr<mailbox::RDOFolder> MailboxRootFolder(mailbox::RDOSession* session) {
  if (!session) return nullptr;
  std::shared_ptr<mailbox::RDOStores> stores = session->Stores();
  if (!stores) return nullptr;
  std::shared_ptr<mailbox::RDOStore> store = stores->DefaultStore();
  if (!store) return nullptr;
  return store->RootFolder();
}

}  // namespace

bool GetAgentFolders(RunContext& run) {
  oa::ErrScope scope;
  run.agentInfoFolder.reset();

  if (std::shared_ptr<mailbox::RDOFolder> root = MailboxRootFolder(run.RDO.get())) {
    std::shared_ptr<mailbox::RDOFolders> folders = root->Folders();
    if (folders) run.agentInfoFolder = folders->Item(std::string(kAgentInfoFolderName));
    // A dry run goes on without the folder: a new one would hold no agent message.
    const bool planned = !run.agentInfoFolder && folders && run.dryRun;
    if (planned) {
      run.Plan({.kind = PlannedChange::Kind::createAgentFolder, .name = kAgentInfoFolderName});
      if (run.Ended()) return false;
    } else if (!run.agentInfoFolder) {
      run.WriteLog("GetAgentFolders creating AgentInfo folder");
      if (run.Ended()) return false;
      if (folders) run.agentInfoFolder = folders->Add(kAgentInfoFolderName);
      run.outcome.agentFolderCreated = run.agentInfoFolder != nullptr;
    }
    if (!run.agentInfoFolder && !planned) {
      run.WriteLog("Unable to locate or create ondavelAgent folders!");
      return false;
    }
    run.outcome.agentFolderFound = run.agentInfoFolder != nullptr;
  }

  std::shared_ptr<mailbox::RDOMail> agentMessage = GetAgentMessage(run);
  if (!agentMessage || run.Ended()) return false;
  run.outcome.agentMessageFound = true;
  // Both tags first: a remote backend then reads both values in one request.
  const int32_t entryIDTag = NamedStringTag(*agentMessage, "HHEntryID");
  const int32_t pathTag = NamedStringTag(*agentMessage, "HHPath");
  run.hhEntryID = agentMessage->Fields(entryIDTag).ToText();
  run.hhPath = agentMessage->Fields(pathTag).ToText();
  return true;
}

}  // namespace oa::mailbox
