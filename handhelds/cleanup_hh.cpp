#include "handhelds/cleanup_hh.h"

#include "base/mapi_error.h"
#include "handhelds/folder_lookup.h"
#include "handhelds/folder_ops.h"
#include "handhelds/guarded.h"
#include "mailbox/agent_message.h"
#include "mailbox/basRDO.h"
#include "mailbox/model/const_mapi.h"

namespace oa::handhelds {

using mailbox::GetMessage;
using mailbox::PlannedChange;
using mailbox::RDOFolder;
using mailbox::RunContext;
using mailbox::RunOutcome;
namespace ConstMAPI = mailbox::ConstMAPI;

namespace {

constexpr const char* kPrefix = "CleanupHH: ";
constexpr const char* kRepointRefusedLine =
    "Nothing changed: the agent could not be pointed at a new Handhelds folder: ";

std::string PendingErrorText() {
  return oa::HexErrorNumber(Err().Number()) + " " + Err().Description();
}

int64_t ItemCount(const std::shared_ptr<RDOFolder>& folder) {
  auto items = On(folder, [](auto& f) { return f.Items(); });
  return On(items, [](auto& i) { return i.Count(); });
}

// The folder's count read again, or the emptying's last known count when it cannot be read (a
// service that asked for a wait beyond the budget is not asked again).
int64_t ItemsLeft(const std::shared_ptr<RDOFolder>& folder, const FolderEmptying& emptying) {
  ErrScope keep;
  Err().Clear();
  const int64_t count = ItemCount(folder);
  return Err().Pending() && emptying.remaining >= 0 ? emptying.remaining : count;
}

// Points the agent message's HHEntryID at the new folder. False when that could not be done.
bool PointAgentTo(RunContext& run, const std::shared_ptr<RDOFolder>& newFolder) {
  Err().Clear();
  auto message = Quietly([&] { return GetMessage(run, run.agentMessageEntryID, ""); });
  if (run.Ended()) return false;
  int32_t tag = ConstMAPI::PT_STRING8;
  if (message) {
    tag = Quietly([&] {
      return mailbox::GetNamedPropTag(message.get(), oa::Variant::String("HHEntryID"),
                                      ConstMAPI::PT_STRING8, "");
    });
  }
  const std::string newID = newFolder->EntryID();
  On(message, [&](auto& m) { return m.SetFields(tag, oa::Variant::String(newID)); });
  On(message, [](auto& m) { return m.Save(); });
  if (Err().Pending()) {
    run.WriteLog("error pointing agent to new Handhelds folder " + PendingErrorText());
    return false;
  }
  run.outcome.agentPointed = true;
  run.WriteLog("pointed agent to new Handhelds folder");
  return true;
}

// Empties the renamed folder and deletes it; a folder that cannot be emptied stays.
void EmptyRenamedFolder(RunContext& run, const std::shared_ptr<RDOFolder>& folder,
                        const std::string& name) {
  RunOutcome& outcome = run.outcome;
  outcome.emptyingStarted = true;
  FolderEmptying emptying;
  const bool emptied = DeleteFolderItems(run, folder, &emptying);
  outcome.itemsDeleted = emptying.deleted;
  outcome.itemsNotDeletable = emptying.skipped;
  outcome.emptyingStopped = emptying.stopped;
  if (emptied) {
    outcome.itemsLeft = 0;
    run.WriteLog("Deleted all items, attempting to delete folder");
    if (run.Ended()) return;
    Err().Clear();
    On(folder, [](auto& f) { f.Delete(); });
    outcome.renamedFolderDeleted = !Err().Pending();
    return;
  }
  if (emptying.stopped) {
    // Once the window is gone the session is not asked again; the line still reaches the log
    // file and ends the run.
    const int64_t count = run.Ended() ? emptying.remaining : ItemsLeft(folder, emptying);
    outcome.itemsLeft = count;
    run.WriteLog("Canceled delete of folder items before completion; count = " +
                 std::to_string(count));
    return;
  }
  const int64_t left = ItemsLeft(folder, emptying);
  outcome.itemsLeft = left;
  run.WriteLog("Could not delete " + std::to_string(left) + " items; kept renamed folder " + name);
}

// Once the old folder is deleted or renamed, only pointing the agent at the new one makes the
// mailbox whole again: the reads that pointing needs are tried first, and a run that could not
// do them ends here with nothing changed.
bool RepointReadsWork(RunContext& run, RDOFolder& folder) {
  auto session = run.RDO;
  Err().Clear();
  if (session && session->CheckRepointReads(run.agentMessageEntryID, folder)) return true;
  if (!Err().Pending()) handhelds::RaiseObjectNotSet();
  run.WriteLog(kRepointRefusedLine + Err().Description());
  return false;
}

// What the steps below would change, each noted where it would be decided; nothing is tried.
void PlanCleanup(RunContext& run, const std::shared_ptr<RDOFolder>& folder) {
  using Kind = PlannedChange::Kind;
  const int64_t items = run.outcome.oldItemCount;
  run.Plan({.kind = Kind::deleteFolder,
            .name = On(folder, [](auto& f) { return f.Name(); }),
            .entryID = run.hhEntryID,
            .items = items});
  if (run.Ended()) return;
  // The name a refused delete would set the folder aside under.
  run.Plan(
      {.kind = Kind::setAsideFolder, .name = GetUniqueFolderName(run, folder), .items = items});
  if (run.Ended()) return;
  auto reused = CreateHandheldsFolder(run);
  if (run.Ended()) return;
  run.Plan({.kind = Kind::pointAgent, .entryID = reused ? reused->EntryID() : ""});
}

}  // namespace

void CleanupHH(RunContext& run) {
  ErrScope scope;
  RunOutcome& outcome = run.outcome;
  run.bCancel = false;
  outcome.cleanupStarted = true;
  if (run.hhEntryID.empty() && run.hhPath.empty()) {
    run.WriteLog(std::string(kPrefix) +
                 "unable to retrieve folder - HHEntryID and HHPath properties are blank");
    return;
  }
  auto folder = GetHandheldsFolder(run);
  if (!folder || run.Ended()) return;
  outcome.oldFolderEntryID = run.hhEntryID;
  outcome.oldItemCount = ItemCount(folder);
  run.WriteLog(std::string(kPrefix) + "message count = " + std::to_string(outcome.oldItemCount));
  if (run.Ended()) return;
  if (!RepointReadsWork(run, *folder)) return;
  if (run.dryRun) {
    PlanCleanup(run, folder);
    return;
  }
  run.WriteLog(std::string(kPrefix) + "attempting to delete folder");
  if (run.Ended()) return;

  Err().Clear();
  folder->Delete();
  if (Err().Pending()) run.WriteLog("error deleting folder " + PendingErrorText());
  if (run.Ended()) return;

  // The delete is judged by its effect: a deleted folder no longer opens.
  folder.reset();
  folder = GetFolder(run, run.hhEntryID, "");
  std::string newName;
  if (!folder) {
    outcome.oldDeleted = true;
    run.WriteLog("successfully deleted existing folder");
  } else {
    run.WriteLog("failed to delete existing Handhelds folder; attempting rename");
    if (run.Ended()) return;
    newName = GetUniqueFolderName(run, folder);
    // With every set-aside name taken there is nothing to rename to.
    if (!newName.empty()) {
      folder->SetName(newName);
      folder->Save();
    }
    folder = GetFolder(run, run.hhEntryID, "");
    Err().Clear();
    const std::string readBack = On(folder, [](auto& f) { return f.Name(); });
    if (folder && !Err().Pending() && !newName.empty() && readBack == newName) {
      outcome.oldRenamed = true;
      outcome.setAsideName = newName;
      run.WriteLog("successfully renamed existing folder as " + newName);
    } else {
      run.WriteLog("failed to rename existing folder");
    }
  }
  if (run.Ended() || (!outcome.oldDeleted && !outcome.oldRenamed)) return;

  bool pointed = false;
  if (auto newFolder = CreateHandheldsFolder(run)) {
    outcome.newFolderReady = true;
    Err().Clear();
    const std::string newID = newFolder->EntryID();
    if (!Err().Pending()) outcome.newFolderEntryID = newID;
    if (run.Ended()) return;
    pointed = PointAgentTo(run, newFolder);
  }
  if (run.Ended() || !outcome.oldRenamed) return;
  // The agent message still holds the renamed folder's entry ID: the agent keeps a working
  // folder until it points at a new one.
  if (!pointed) {
    outcome.renamedFolderKept = true;
    run.WriteLog("Kept renamed folder " + newName + " with its items: the agent still uses it");
    return;
  }
  EmptyRenamedFolder(run, folder, newName);
}

}  // namespace oa::handhelds
