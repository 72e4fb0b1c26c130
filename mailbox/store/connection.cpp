#include "mailbox/store/connection.h"

namespace oa::store {

using namespace mailbox::ConstMAPI;

StoreInfo LoadStoreInfo(Db& db, int64_t row) {
  CachedStmt s =
      db.Cached("SELECT guid, kind, display_name, root_id, subtree_id FROM stores WHERE id = ?1");
  s->Bind(1, row);
  if (!s->Step()) Fail(MAPI_E_NOT_FOUND, "The store no longer exists");
  StoreInfo info;
  info.row = row;
  info.guid = GuidFromBlob(s->Blob(0));
  info.isPublic = s->Text(1) == "public";
  info.displayName = s->Text(2);
  info.rootId = s->Int(3);
  info.subtreeId = s->Int(4);
  return info;
}

Connection::Connection(std::unique_ptr<Db> db, StoreInfo mailbox,
                       std::optional<StoreInfo> publicStore)
    : db_(std::move(db)), mailbox_(std::move(mailbox)), pub_(std::move(publicStore)) {}

Db& Connection::db() {
  if (!db_) Fail(MAPI_E_END_OF_SESSION, "The session has been logged off");
  return *db_;
}

const StoreInfo* Connection::StoreByGuid(const Guid& guid) const {
  if (mailbox_.guid == guid) return &mailbox_;
  if (pub_ && pub_->guid == guid) return &*pub_;
  return nullptr;
}

const StoreInfo* Connection::StoreByRow(int64_t row) const {
  if (mailbox_.row == row) return &mailbox_;
  if (pub_ && pub_->row == row) return &*pub_;
  return nullptr;
}

}  // namespace oa::store
