#include "mailbox/store/faults.h"

#include "mailbox/store/store_error.h"

namespace oa::store {

using mailbox::FaultOp;
using mailbox::FaultOutcome;

std::shared_ptr<StoreFaultLedger> StoreFaultLedger::Open(ConnPtr conn) {
  std::bitset<mailbox::kFaultOpCount> ops;
  try {
    CachedStmt s = conn->db().Cached("SELECT DISTINCT op FROM faults");
    while (s->Step()) {
      if (auto op = mailbox::FaultOpByName(s->Text(0))) ops.set(static_cast<size_t>(*op));
    }
  } catch (const StoreError&) {
    return nullptr;  // the calls themselves meet what went wrong
  }
  if (ops.none()) return nullptr;
  return std::shared_ptr<StoreFaultLedger>(new StoreFaultLedger(std::move(conn), ops));
}

std::vector<FaultTarget> StoreFaultLedger::Resolve(const std::vector<std::string>& ids) const {
  std::vector<FaultTarget> targets;
  for (const std::string& text : ids) {
    const auto id = ParseEntryIdText(text);
    if (!id) continue;
    if (id->kind != ObjectKind::Store) {
      targets.push_back({id->kind, id->id});
    } else if (const StoreInfo* s = conn_->StoreByGuid(id->store)) {
      targets.push_back({ObjectKind::Store, s->row});
    }
  }
  return targets;
}

FaultOutcome StoreFaultLedger::Check(FaultOp op, const std::vector<std::string>& entryIDs) {
  try {
    Db& db = conn_->db();
    const std::vector<FaultTarget> targets = Resolve(entryIDs);
    Txn txn(db);
    struct Hit {
      int64_t id;
      bool due;
      FaultOutcome o;
    };
    std::vector<Hit> hits;
    {
      CachedStmt s = db.Cached(
          "SELECT id, target_kind, target_id, error, description, effect, result, after, times, "
          "seen FROM faults WHERE op = ?1 ORDER BY id");
      s->Bind(1, std::string(mailbox::FaultOpName(op)));
      while (s->Step()) {
        if (!s->IsNull(1)) {
          bool match = false;
          for (const FaultTarget& t : targets) {
            match |= static_cast<int64_t>(t.kind) == s->Int(1) && t.id == s->Int(2);
          }
          if (!match) continue;
        }
        const int64_t after = s->Int(7), seen = s->Int(9);
        if (mailbox::FaultSpent(seen, after, s->OptInt(8))) continue;
        Hit h{s->Int(0), mailbox::FaultDue(seen, after), {}};
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
    }
    FaultOutcome outcome;
    bool decided = false;
    for (Hit& h : hits) {
      db.Cached("UPDATE faults SET seen = seen + 1 WHERE id = ?1")->Bind(1, h.id).Run();
      if (h.due && !decided) {
        outcome = std::move(h.o);
        decided = true;
      }
    }
    txn.Commit();
    return outcome;
  } catch (const StoreError&) {
    // Logged off, or the file cannot be written: the call goes on and meets that itself.
    return {};
  }
}

}  // namespace oa::store
