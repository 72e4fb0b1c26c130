#include "mailbox/store/faults.h"

#include <memory>

#include "mailbox/store/store_error.h"

namespace oa::store {

void FaultOutcome::ThrowIfBlocks() const {
  if (effect == Effect::None) throw StoreError(error, description);
}

void FaultOutcome::ThrowIfApplied() const {
  if (effect == Effect::Applied) throw StoreError(error, description);
}

const std::set<std::string>& FaultOps() {
  static const std::set<std::string> ops = {"Session.LogonExchangeMailbox",
                                            "Session.Stores",
                                            "Session.GetDefaultFolder",
                                            "Session.GetFolderFromID",
                                            "Session.GetMessageFromID",
                                            "Stores.DefaultStore",
                                            "Stores.FindExchangePublicFoldersStore",
                                            "Store.RootFolder",
                                            "Store.IPMRootFolder",
                                            "Store.CompareEntryIDs",
                                            "Folder.Delete",
                                            "Folder.Save",
                                            "Folder.Name",
                                            "Folder.Fields",
                                            "Folder.GetIDsFromNames",
                                            "Folder.Folders",
                                            "Folder.Items",
                                            "Folder.Parent",
                                            "Folders.Count",
                                            "Folders.Item",
                                            "Folders.Add",
                                            "Items.Count",
                                            "Items.Item",
                                            "Items.GetFirst",
                                            "Items.MAPITable",
                                            "Mail.Delete",
                                            "Mail.Save",
                                            "Mail.Fields",
                                            "Mail.GetIDsFromNames",
                                            "Mail.CreationTime",
                                            "Mail.MessageClass",
                                            "Mail.Subject"};
  return ops;
}

void Faults::Load(Db& db) {
  ops_.clear();
  CachedStmt s = db.Cached("SELECT DISTINCT op FROM faults");
  while (s->Step()) ops_.insert(s->Text(0));
}

FaultOutcome Faults::Check(Db& db, const std::string& op, const std::vector<FaultTarget>& targets) {
  if (!ops_.count(op)) return {};
  std::unique_ptr<Txn> own;
  if (sqlite3_get_autocommit(db.handle())) own = std::make_unique<Txn>(db);
  FaultOutcome outcome;
  bool decided = false;
  {
    CachedStmt s = db.Cached(
        "SELECT id, target_kind, target_id, error, description, effect, result, after, times, "
        "seen FROM faults WHERE op = ?1 ORDER BY id");
    s->Bind(1, op);
    struct Hit {
      int64_t id;
      bool applies;
      FaultOutcome o;
    };
    std::vector<Hit> hits;
    while (s->Step()) {
      if (!s->IsNull(1)) {
        bool match = false;
        for (const FaultTarget& t : targets) {
          match |= static_cast<int64_t>(t.kind) == s->Int(1) && t.id == s->Int(2);
        }
        if (!match) continue;
      }
      const int64_t after = s->Int(7), seen = s->Int(9);
      const std::optional<int64_t> times = s->OptInt(8);
      if (times && seen >= after + *times) continue;  // spent
      Hit h{s->Int(0), seen >= after, {}};
      h.o.error = static_cast<int32_t>(s->IsNull(3) ? 0x80004005 : s->Int(3));
      h.o.description = s->IsNull(4) ? ErrorText(h.o.error) : s->Text(4);
      const std::string effect = s->Text(5);
      h.o.effect = effect == "applied"  ? FaultOutcome::Effect::Applied
                   : effect == "silent" ? FaultOutcome::Effect::Silent
                                        : FaultOutcome::Effect::None;
      if (!s->IsNull(6)) {
        h.o.result = s->Int(6) != 0;
        h.o.effect = FaultOutcome::Effect::Pass;
      }
      hits.push_back(std::move(h));
    }
    s->Reset();
    for (const Hit& h : hits) {
      CachedStmt u = db.Cached("UPDATE faults SET seen = seen + 1 WHERE id = ?1");
      u->Bind(1, h.id).Run();
      if (h.applies && !decided) {
        outcome = h.o;
        decided = true;
      }
    }
  }
  if (own) own->Commit();
  return outcome;
}

}  // namespace oa::store
