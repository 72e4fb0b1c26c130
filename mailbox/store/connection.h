// One logon's open store file, shared by every object the session hands out. Logoff closes it;
// objects that outlive it then fail with MAPI_E_END_OF_SESSION.
#pragma once

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mailbox/store/delete_group.h"
#include "mailbox/store/entry_id.h"
#include "mailbox/store/faults.h"
#include "mailbox/store/sqlite_db.h"

namespace oa::store {

struct StoreInfo {
  int64_t row = 0;
  Guid guid{};
  bool isPublic = false;
  std::string displayName;
  int64_t rootId = 0;
  // The IPM root of a mailbox store, the all-public-folders folder of the public store.
  int64_t subtreeId = 0;
};

StoreInfo LoadStoreInfo(Db& db, int64_t row);

class Connection {
 public:
  Connection(std::unique_ptr<Db> db, StoreInfo mailbox, std::optional<StoreInfo> publicStore);
  ~Connection();

  Db& db();
  bool open() const { return db_ != nullptr; }
  // Commits grouped deletes, then closes the file.
  void Close();
  // Where message deletes go when they may share a transaction; nullptr when each must
  // commit on its own (declared faults count every call, full sync wants a sync per call).
  DeleteGroup* Deletes();

  const StoreInfo& mailbox() const { return mailbox_; }
  const StoreInfo* publicStore() const { return pub_ ? &*pub_ : nullptr; }
  // The session's store with that GUID or row, or nullptr.
  const StoreInfo* StoreByGuid(const Guid& guid) const;
  const StoreInfo* StoreByRow(int64_t row) const;

  FaultOutcome Check(const std::string& op, const std::vector<FaultTarget>& targets) {
    return faults_.empty() ? FaultOutcome{} : faults_.Check(db(), op, targets);
  }
  // The common case, without building a list when the store declares no faults.
  FaultOutcome Check(const std::string& op, std::initializer_list<FaultTarget> targets) {
    return faults_.empty() ? FaultOutcome{} : faults_.Check(db(), op, targets);
  }

 private:
  std::unique_ptr<Db> db_;
  StoreInfo mailbox_;
  std::optional<StoreInfo> pub_;
  Faults faults_;
  bool groupTried_ = false;
  std::unique_ptr<DeleteGroup> group_;  // after db_: goes first
};

using ConnPtr = std::shared_ptr<Connection>;

}  // namespace oa::store
