// One logon's open store file, shared by every object the session hands out. Logoff closes it;
// objects that outlive it then fail with MAPI_E_END_OF_SESSION.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mailbox/store/entry_id.h"
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

  Db& db();
  bool open() const { return db_ != nullptr; }
  void Close() { db_.reset(); }

  const StoreInfo& mailbox() const { return mailbox_; }
  const StoreInfo* publicStore() const { return pub_ ? &*pub_ : nullptr; }
  // The session's store with that GUID or row, or nullptr.
  const StoreInfo* StoreByGuid(const Guid& guid) const;
  const StoreInfo* StoreByRow(int64_t row) const;

 private:
  std::unique_ptr<Db> db_;
  StoreInfo mailbox_;
  std::optional<StoreInfo> pub_;
};

using ConnPtr = std::shared_ptr<Connection>;

}  // namespace oa::store
