#include "handhelds/cleanup_hh.h"

#include "base/mapi_error.h"
#include "console/form.h"
#include "handhelds/folder_lookup.h"
#include "handhelds/folder_ops.h"
#include "handhelds/guarded.h"
#include "mailbox/agent_message.h"
#include "mailbox/basRDO.h"
#include "mailbox/model/const_mapi.h"

namespace oa {

using handhelds::On;
using handhelds::Quietly;
using mailbox::Err;
using mailbox::ErrScope;
using mailbox::RDOFolder;
namespace ConstMAPI = mailbox::ConstMAPI;

namespace {

constexpr const char* kPrefix = "CleanupHH: ";

std::string PendingErrorText() {
  return mailbox::HexErrorNumber(Err().Number()) + " " + Err().Description();
}

int64_t ItemCount(const std::shared_ptr<RDOFolder>& folder) {
  auto items = On(folder, [](auto& f) { return f.Items(); });
  return On(items, [](auto& i) { return i.Count(); });
}

// Points the agent message's HHEntryID at the new folder. False when that could not be done.
bool PointAgentTo(Form& form, const std::shared_ptr<RDOFolder>& newFolder) {
  Err().Clear();
  auto message = Quietly([&] { return GetMessage(form, form.agentMessageEntryID, ""); });
  int32_t tag = ConstMAPI::PT_STRING8;
  if (message) {
    tag = Quietly([&] {
      return basRDO::GetNamedPropTag(message.get(), mailbox::Variant::String("HHEntryID"),
                                     ConstMAPI::PT_STRING8, "");
    });
  }
  const std::string newID = newFolder->EntryID();
  On(message, [&](auto& m) { return m.SetFields(tag, mailbox::Variant::String(newID)); });
  On(message, [](auto& m) { return m.Save(); });
  if (Err().Pending()) {
    form.WriteLog("error pointing agent to new Handhelds folder " + PendingErrorText());
    return false;
  }
  form.WriteLog("pointed agent to new Handhelds folder");
  return true;
}

// Empties the renamed folder and deletes it; a folder that cannot be emptied stays.
void EmptyRenamedFolder(Form& form, const std::shared_ptr<RDOFolder>& folder,
                        const std::string& name) {
  FolderEmptying emptying;
  bool emptied = false;
  try {
    emptied = DeleteFolderItems(form, folder, &emptying);
  } catch (const RunEnded&) {
    // The window went away during a progress line; the line below still reaches the log file
    // and ends the run.
    emptying.stopped = true;
  }
  if (emptied) {
    form.WriteLog("Deleted all items, attempting to delete folder");
    On(folder, [](auto& f) { f.Delete(); });
    return;
  }
  if (emptying.stopped) {
    // Once the window is gone the session is not asked again.
    const int64_t count = form.Unloaded() ? emptying.remaining : ItemCount(folder);
    form.WriteLog("Canceled delete of folder items before completion; count = " +
                  std::to_string(count));
    return;
  }
  form.WriteLog("Could not delete " + std::to_string(ItemCount(folder)) +
                " items; kept renamed folder " + name);
}

}  // namespace

void CleanupHH(Form& form) {
  ErrScope scope;
  form.bCancel = false;
  if (form.hhEntryID.empty() && form.hhPath.empty()) {
    form.WriteLog(std::string(kPrefix) +
                  "unable to retrieve folder - HHEntryID and HHPath properties are blank");
    return;
  }
  auto folder = GetHandheldsFolder(form);
  if (!folder) return;
  form.WriteLog(std::string(kPrefix) + "message count = " + std::to_string(ItemCount(folder)));
  form.WriteLog(std::string(kPrefix) + "attempting to delete folder");

  Err().Clear();
  folder->Delete();
  if (Err().Pending()) form.WriteLog("error deleting folder " + PendingErrorText());

  // The delete is judged by its effect: a deleted folder no longer opens.
  folder.reset();
  folder = GetFolder(form, form.hhEntryID, "");
  bool deleted = false;
  bool renamed = false;
  std::string newName;
  if (!folder) {
    deleted = true;
    form.WriteLog("successfully deleted existing folder");
  } else {
    form.WriteLog("failed to delete existing Handhelds folder; attempting rename");
    newName = GetUniqueFolderName(form, folder);
    // With every set-aside name taken there is nothing to rename to.
    if (!newName.empty()) {
      folder->SetName(newName);
      folder->Save();
    }
    folder = GetFolder(form, form.hhEntryID, "");
    Err().Clear();
    const std::string readBack = On(folder, [](auto& f) { return f.Name(); });
    if (folder && !Err().Pending() && !newName.empty() && readBack == newName) {
      form.WriteLog("successfully renamed existing folder as " + newName);
      renamed = true;
    } else {
      form.WriteLog("failed to rename existing folder");
    }
  }
  if (!deleted && !renamed) return;

  bool pointed = false;
  if (auto newFolder = CreateHandheldsFolder(form)) pointed = PointAgentTo(form, newFolder);

  if (!renamed) return;
  // The agent message still holds the renamed folder's entry ID: the agent keeps a working
  // folder until it points at a new one.
  if (!pointed) {
    form.WriteLog("Kept renamed folder " + newName + " with its items: the agent still uses it");
    return;
  }
  EmptyRenamedFolder(form, folder, newName);
}

}  // namespace oa
