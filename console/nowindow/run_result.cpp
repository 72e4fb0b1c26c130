#include "console/nowindow/run_result.h"

#include <cctype>
#include <memory>

#include "base/mapi_error.h"
#include "base/text_fold.h"
#include "console/form.h"
#include "handhelds/folder_lookup.h"
#include "mailbox/basRDO.h"
#include "mailbox/model/const_mapi.h"

namespace oa::nowindow {

using console::Form;
using handhelds::GetFolder;
using mailbox::RunContext;
using mailbox::RunOutcome;

namespace {

// The HHEntryID the agent message holds now, read back from the store.
std::string AgentHHEntryID(RunContext& run) {
  if (!run.RDO || run.agentMessageEntryID.empty()) return "";
  std::shared_ptr<mailbox::RDOMail> message = run.RDO->GetMessageFromID(run.agentMessageEntryID);
  if (!message) return "";
  const int32_t tag = mailbox::GetNamedPropTag(message.get(), oa::Variant::String("HHEntryID"),
                                               mailbox::ConstMAPI::PT_STRING8, "");
  return message->Fields(tag).ToText();
}

}  // namespace

int ExitStatus(Outcome outcome) {
  switch (outcome) {
    case Outcome::completed:
    case Outcome::planned:
    case Outcome::duplicate:
      return 0;
    case Outcome::incomplete:
      return 1;
    case Outcome::input:
      return 2;
    case Outcome::logon:
      return 3;
    case Outcome::cancelled:
      return 130;
  }
  return 1;
}

const char* OutcomeWord(Outcome outcome) {
  switch (outcome) {
    case Outcome::completed:
      return "completed";
    case Outcome::incomplete:
      return "incomplete";
    case Outcome::input:
      return "input";
    case Outcome::logon:
      return "logon";
    case Outcome::cancelled:
      return "cancelled";
    case Outcome::planned:
      return "planned";
    case Outcome::duplicate:
      return "duplicate";
  }
  return "incomplete";
}

RunResult DuplicateResult(size_t firstIndex, const std::string& firstMailbox) {
  RunResult result;
  result.outcome = Outcome::duplicate;
  result.lastLine = "the same mailbox as list entry " + std::to_string(firstIndex + 1) + " (" +
                    firstMailbox + "), which is run once";
  return result;
}

RunResult JudgeRun(const RunOutcome& record, const std::string& lastLine, Form& form,
                   bool signalled) {
  RunResult result;
  if (record.oldItemCount >= 0) result.itemCount = record.oldItemCount;
  result.lastLine = lastLine;
  if (signalled) {
    result.outcome = Outcome::cancelled;
  } else if (!record.started) {
    result.outcome = Outcome::input;
  } else if (!record.connected) {
    result.outcome = Outcome::logon;
  } else if (record.dryRun) {
    result.outcome =
        record.folderFound != RunOutcome::Found::none ? Outcome::planned : Outcome::incomplete;
  } else if (!record.agentPointed || form.Unloaded() || !form.run().RDO) {
    result.outcome = Outcome::incomplete;
  } else {
    oa::ErrScope scope;
    RunContext& run = form.run();
    const std::string newID = AgentHHEntryID(run);
    const bool newFolderOpens = !newID.empty() && run.RDO->GetFolderFromID(newID) != nullptr;
    // Opened the way the cleanup itself decides that the old folder is gone.
    const bool oldFolderGone =
        run.hhEntryID.empty() || GetFolder(run, run.hhEntryID, "") == nullptr;
    if (newFolderOpens) result.newFolderEntryID = newID;
    result.outcome =
        newFolderOpens && !text::EqualIgnoringCase(newID, run.hhEntryID) && oldFolderGone
            ? Outcome::completed
            : Outcome::incomplete;
  }
  return result;
}

}  // namespace oa::nowindow
