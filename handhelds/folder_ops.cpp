#include "handhelds/folder_ops.h"

#include <algorithm>

#include "base/mapi_error.h"
#include "base/text_fold.h"
#include "handhelds/guarded.h"

namespace oa {

using handhelds::On;
using mailbox::Err;
using mailbox::ErrScope;
using mailbox::RDOFolder;

namespace {

std::string CountCaption(int64_t count) {
  return "Count = " + std::to_string(count);
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
  Err().Clear();
  int64_t count = items->Count();
  if (Err().Pending()) return false;
  out.remaining = count;
  run.host().SetProgress(CountCaption(count));

  // Items before `position` could not be deleted; they stay where they are in the collection.
  int64_t position = 1;
  auto fetch = [&] {
    return position == 1 ? items->GetFirst() : items->Item(static_cast<int32_t>(position));
  };
  // Deletes the backend held back and the server refused later: those items are back, ahead of
  // the rest, and are skipped instead of deleted.
  auto refusedLater = [&](int32_t refused) {
    out.deleted -= refused;
    out.skipped += refused;
    position += refused;
  };
  bool countRead = true;
  int64_t logged = 0;
  // A count that cannot be read stays as last known, with the items refused since (`back`)
  // added to it.
  auto readCount = [&](int32_t back) {
    Err().Clear();
    const int64_t n = items->Count();
    countRead = !Err().Pending();
    count = countRead ? n : count + back;
    out.remaining = count;
  };
  while (countRead) {
    while (countRead && count >= position) {
      auto item = fetch();
      if (const int32_t refused = items->TakeRefusedDeletes(false); refused > 0) {
        // Fetching sent the held-back deletes: the position now names another item.
        refusedLater(refused);
        readCount(refused);
        continue;
      }
      const std::string itemID = item ? item->EntryID() : "";
      if (item) item->Delete();
      // Judged by the count, whatever the delete reported: a delete may fail silently.
      Err().Clear();
      const int64_t after = items->Count();
      countRead = !Err().Pending();
      // Taken also when the count could not be read: the items are back all the same.
      const int32_t refused = items->TakeRefusedDeletes(false);
      // When deletes came back refused, this one went out with them or waits in the next group.
      bool gone = (countRead && after < count) || (refused > 0 && item);
      if (countRead && !gone && item) {
        // Items added meanwhile keep the count up; whether this one is still there decides.
        auto again = fetch();
        gone = !again || again->EntryID() != itemID;
      }
      if (countRead)
        count = after;
      else
        // The count as last known: this item gone, the refused ones back.
        count += refused - (gone ? 1 : 0);
      if (gone) {
        ++out.deleted;
      } else {
        ++position;
        ++out.skipped;
      }
      if (refused > 0) refusedLater(refused);
      out.remaining = count;

      run.host().DoEvents();
      run.host().DoEvents();
      if (run.StopRequested()) {
        // Whatever is held back goes out now, so the count told is the folder's.
        if (!run.Ended()) {
          const int32_t late = std::max(items->TakeRefusedDeletes(true), 0);
          if (late > 0) refusedLater(late);
          readCount(late);
        } else if (const int32_t late = items->TakeRefusedDeletes(false); late > 0) {
          refusedLater(late);
          count += late;
          out.remaining = count;
        }
        out.stopped = true;
        return false;
      }
      // A delete refused later takes its count back: each line is written once all the same.
      if (gone && out.deleted % kProgressLineEvery == 0 && out.deleted > logged) {
        logged = out.deleted;
        run.WriteLog("Deleted " + std::to_string(out.deleted) + " items");
        if (run.Ended()) {
          out.stopped = true;
          return false;
        }
      }
      run.host().SetProgress(CountCaption(count));
    }
    // The folder looks empty: the held-back deletes go out before that is believed.
    const int32_t late = items->TakeRefusedDeletes(countRead);
    if (!countRead && late > 0) {
      refusedLater(late);
      count += late;
      out.remaining = count;
    }
    if (late <= 0 || !countRead) break;
    refusedLater(late);
    readCount(late);
    if (countRead) run.host().SetProgress(CountCaption(count));
  }
  return countRead && count == 0;
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

}  // namespace oa
