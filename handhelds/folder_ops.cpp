#include "handhelds/folder_ops.h"

#include "base/mapi_error.h"
#include "base/text_fold.h"
#include "handhelds/guarded.h"
#include "mailbox/item_deleter.h"

namespace oa::handhelds {

using mailbox::PlannedChange;
using mailbox::RDOFolder;
using mailbox::RunContext;

namespace {

std::string CountCaption(int64_t count) {
  return "Count = " + std::to_string(count);
}

// Cancel was pressed or the window went away: the emptying ends unfinished.
bool Stopped(FolderEmptying& out) {
  out.stopped = true;
  return false;
}

}  // namespace

bool DeleteFolderItems(RunContext& run, const std::shared_ptr<RDOFolder>& folder,
                       FolderEmptying* outcome) {
  ErrScope scope;
  FolderEmptying local;
  FolderEmptying& out = outcome ? *outcome : local;
  out = FolderEmptying{};
  auto items = On(folder, [](auto& f) { return f.Items(); });
  if (!items) return false;
  mailbox::ItemDeleter deleter(items);
  if (!deleter.Start()) return false;
  const auto tell = [&] {
    out.deleted = deleter.deleted();
    out.skipped = deleter.skipped();
    out.remaining = deleter.left();
  };
  tell();
  run.host().SetProgress(CountCaption(deleter.left()));
  int64_t logged = 0;
  for (;;) {
    while (deleter.ItemsLeft()) {
      const mailbox::ItemDeleter::Step step = deleter.DeleteNext();
      tell();
      if (!step.tried) continue;  // refusals moved the position: no item was in hand
      run.host().DoEvents();
      run.host().DoEvents();
      if (run.StopRequested()) {
        // Whatever is held back goes out now, so the count told is the folder's.
        deleter.Stop(!run.Ended());
        tell();
        return Stopped(out);
      }
      // A delete refused later takes its count back: each line is written once all the same.
      if (step.gone && out.deleted % kProgressLineEvery == 0 && out.deleted > logged) {
        logged = out.deleted;
        run.WriteLog("Deleted " + std::to_string(out.deleted) + " items");
        if (run.Ended()) return Stopped(out);
      }
      run.host().SetProgress(CountCaption(deleter.left()));
    }
    // The folder looks empty: the held-back deletes go out before that is believed.
    if (!deleter.ItemsCameBack()) break;
    tell();
    run.host().SetProgress(CountCaption(deleter.left()));
  }
  tell();
  return deleter.Emptied();
}

std::string GetUniqueFolderName(RunContext&, const std::shared_ptr<RDOFolder>& folder) {
  ErrScope scope;
  auto parent = On(folder, [](auto& f) { return f.Parent(); });
  auto siblings = On(parent, [](auto& p) { return p.Folders(); });
  for (int n = 1; n <= kSetAsideNameLimit; ++n) {
    const std::string name = kSetAsideNamePrefix + std::to_string(n);
    if (!On(siblings, [&](auto& s) { return s.Item(name); })) return name;
  }
  return "";
}

std::shared_ptr<RDOFolder> CreateHandheldsFolder(RunContext& run) {
  ErrScope scope;
  auto stores = On(run.RDO, [](auto& s) { return s.Stores(); });
  auto store = On(stores, [](auto& s) { return s.DefaultStore(); });
  auto top = On(store, [](auto& s) { return s.IPMRootFolder(); });
  auto children = On(top, [](auto& f) { return f.Folders(); });
  auto folder = On(children, [](auto& c) { return c.Item(kHandheldsFolderName); });
  // The lookup ignores letter case; only the exact name is reused.
  if (folder && folder->Name() != kHandheldsFolderName) folder.reset();
  if (run.dryRun) {
    // By now the real run has deleted or renamed the old folder, which may be this one.
    if (folder && text::EqualIgnoringCase(folder->EntryID(), run.hhEntryID)) folder.reset();
    if (!folder) {
      run.Plan({.kind = PlannedChange::Kind::createHandhelds, .name = kHandheldsFolderName});
      return nullptr;
    }
    run.Plan({.kind = PlannedChange::Kind::reuseHandhelds,
              .name = kHandheldsFolderName,
              .entryID = folder->EntryID()});
    return folder;
  }
  if (!folder) folder = On(children, [](auto& c) { return c.Add(kHandheldsFolderName); });
  if (!folder) {
    run.WriteLog("CreateHandheldsFolder failed: unable to create Handhelds folder in mailbox");
    return nullptr;
  }
  run.WriteLog("Created new Handhelds folder in mailbox");
  return folder;
}

}  // namespace oa::handhelds
