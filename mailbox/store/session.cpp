// The session, its store collection and stores.
#include "base/text_fold.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/store/faults.h"
#include "mailbox/store/objects.h"
#include "mailbox/store/schema.h"
#include "mailbox/store/store_location.h"

namespace oa::store {

using namespace mailbox::ConstMAPI;

std::string ObjectEntryId(const Connection& conn, int64_t storeRow, ObjectKind kind, int64_t id) {
  const StoreInfo* st = conn.StoreByRow(storeRow);
  if (!st) Fail(MAPI_E_NOT_FOUND, "The store is not open in this session");
  return EntryIdText({st->guid, kind, kind == ObjectKind::Store ? 0 : id});
}

// --- session ---

namespace {

int64_t FindMailbox(Db& db, const std::string& mailbox) {
  const std::string wanted = text::Fold(mailbox);
  CachedStmt s =
      db.Cached("SELECT id, alias, address FROM stores WHERE kind = 'mailbox' ORDER BY seq");
  int64_t byAddress = 0;
  while (s->Step()) {
    if (text::Fold(s->Text(1)) == wanted) return s->Int(0);
    if (!byAddress && text::Fold(s->Text(2)) == wanted) byAddress = s->Int(0);
  }
  return byAddress;
}

}  // namespace

void EmbeddedSession::LogonExchangeMailbox(const std::string& mailbox, const std::string& server) {
  Logon(mailbox, server, false);
}

void EmbeddedSession::LogonExchangeMailboxReadOnly(const std::string& mailbox,
                                                   const std::string& server) {
  Logon(mailbox, server, true);
}

void EmbeddedSession::Logon(const std::string& mailbox, const std::string& server, bool readOnly) {
  GuardedVoid([&] {
    if (conn_) {
      conn_->Close();
      conn_.reset();
    }
    if (server.empty()) Fail(MAPI_E_NETWORK_ERROR, "Logon failed: no server was given");
    const StoreLocation loc = LocateStore(server, storeDirectory_);
    if (!loc.isStore) {
      Fail(MAPI_E_NETWORK_ERROR,
           "The server " + server + " could not be reached: there is no store file " + loc.path);
    }
    std::unique_ptr<Db> db;
    try {
      db = OpenStoreFile(loc.path, readOnly, fileOptions_);
    } catch (const StoreError& e) {
      Fail(e.hr(), "Logon to server " + server + " failed: " + e.what());
    }
    if (mailbox.empty()) {
      Fail(MAPI_E_LOGON_FAILED, "Logon to server " + server + " failed: no mailbox was given");
    }
    const int64_t row = FindMailbox(*db, mailbox);
    if (!row) {
      Fail(MAPI_E_LOGON_FAILED,
           "Logon to server " + server + " failed: there is no mailbox " + mailbox);
    }
    StoreInfo mailboxInfo = LoadStoreInfo(*db, row);
    std::optional<StoreInfo> pub;
    if (const int64_t p = db->QueryInt("SELECT id FROM stores WHERE kind = 'public'")) {
      pub = LoadStoreInfo(*db, p);
    }
    conn_ = std::make_shared<Connection>(std::move(db), std::move(mailboxInfo), pub);
  });
}

std::shared_ptr<mailbox::FaultLedger> EmbeddedSession::FaultLedger() {
  return conn_ && conn_->open() ? StoreFaultLedger::Open(conn_) : nullptr;
}

bool EmbeddedSession::LoggedOn() {
  return conn_ && conn_->open();
}

void EmbeddedSession::Logoff() {
  if (conn_) conn_->Close();
  conn_.reset();
}

Connection& EmbeddedSession::Conn() {
  if (!conn_) Fail(MAPI_E_NOT_INITIALIZED, "The session is not logged on");
  conn_->db();
  return *conn_;
}

std::shared_ptr<mailbox::RDOStores> EmbeddedSession::Stores() {
  return Guarded<std::shared_ptr<mailbox::RDOStores>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDOStores> {
        Conn();
        return std::make_shared<EmbeddedStores>(conn_);
      });
}

std::shared_ptr<mailbox::RDOFolder> EmbeddedSession::GetDefaultFolder(int32_t folderType) {
  return Guarded<std::shared_ptr<mailbox::RDOFolder>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDOFolder> {
        Connection& c = Conn();
        const StoreInfo* pub = c.publicStore();
        if (folderType != olPublicFoldersAllPublicFolders) {
          Fail(MAPI_E_NOT_FOUND, "The store has no default folder " + std::to_string(folderType));
        }
        if (!pub) Fail(MAPI_E_NOT_FOUND, "The server has no public folders");
        return std::make_shared<EmbeddedFolder>(conn_, pub->subtreeId, pub->row);
      });
}

const StoreInfo& EmbeddedSession::StoreFor(const std::string& storeID) {
  Connection& c = Conn();
  if (storeID.empty()) return c.mailbox();
  const auto sid = ParseEntryIdText(storeID);
  if (!sid || sid->kind != ObjectKind::Store) {
    Fail(MAPI_E_INVALID_ENTRYID, "Invalid store entry ID " + storeID);
  }
  const StoreInfo* st = c.StoreByGuid(sid->store);
  if (!st) Fail(MAPI_E_NOT_FOUND, "The store " + storeID + " is not open in this session");
  return *st;
}

std::shared_ptr<mailbox::RDOMail> EmbeddedSession::GetMessageFromID(const std::string& entryID,
                                                                    const std::string& storeID) {
  return Guarded<std::shared_ptr<mailbox::RDOMail>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDOMail> {
        const StoreInfo& st = StoreFor(storeID);
        const auto id = ParseEntryIdText(entryID);
        if (!id || id->kind != ObjectKind::Message) {
          Fail(MAPI_E_INVALID_ENTRYID, "Invalid message entry ID " + entryID);
        }
        Connection& c = Conn();
        bool found = false;
        if (id->store == st.guid) {
          CachedStmt s = c.db().Cached(
              "SELECT f.store_id FROM messages m JOIN folders f ON f.id = m.folder_id "
              "WHERE m.id = ?1");
          s->Bind(1, id->id);
          found = s->Step() && s->Int(0) == st.row;
        }
        if (!found) {
          Fail(MAPI_E_NOT_FOUND, "There is no message " + entryID + " in " + st.displayName);
        }
        return std::make_shared<EmbeddedMail>(conn_, id->id, st.row);
      });
}

std::shared_ptr<mailbox::RDOFolder> EmbeddedSession::GetFolderFromID(const std::string& entryID,
                                                                     const std::string& storeID) {
  return Guarded<std::shared_ptr<mailbox::RDOFolder>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDOFolder> {
        const StoreInfo& st = StoreFor(storeID);
        const auto id = ParseEntryIdText(entryID);
        if (!id || id->kind != ObjectKind::Folder) {
          Fail(MAPI_E_INVALID_ENTRYID, "Invalid folder entry ID " + entryID);
        }
        Connection& c = Conn();
        bool found = false;
        if (id->store == st.guid) {
          CachedStmt s = c.db().Cached("SELECT store_id FROM folders WHERE id = ?1");
          s->Bind(1, id->id);
          found = s->Step() && s->Int(0) == st.row;
        }
        if (!found)
          Fail(MAPI_E_NOT_FOUND, "There is no folder " + entryID + " in " + st.displayName);
        return std::make_shared<EmbeddedFolder>(conn_, id->id, st.row);
      });
}

// --- stores ---

std::shared_ptr<mailbox::RDOStore> EmbeddedStores::DefaultStore() {
  return Guarded<std::shared_ptr<mailbox::RDOStore>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDOStore> {
        conn_->db();
        return std::make_shared<EmbeddedStore>(conn_, conn_->mailbox().row);
      });
}

std::shared_ptr<mailbox::RDOStore> EmbeddedStores::FindExchangePublicFoldersStore() {
  return Guarded<std::shared_ptr<mailbox::RDOStore>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDOStore> {
        conn_->db();
        const StoreInfo* pub = conn_->publicStore();
        if (!pub) Fail(MAPI_E_NOT_FOUND, "The server has no public folders store");
        return std::make_shared<EmbeddedStore>(conn_, pub->row);
      });
}

// --- store ---

const StoreInfo& EmbeddedStore::Info() {
  conn_->db();
  const StoreInfo* st = conn_->StoreByRow(row_);
  if (!st) Fail(MAPI_E_NOT_FOUND, "The store is not open in this session");
  return *st;
}

std::string EmbeddedStore::EntryID() {
  return Guarded<std::string>("", [&] { return EntryIdText({Info().guid, ObjectKind::Store, 0}); });
}

std::string EmbeddedStore::Name() {
  return Guarded<std::string>("", [&] { return Info().displayName; });
}

std::shared_ptr<mailbox::RDOFolder> EmbeddedStore::RootFolder() {
  return Guarded<std::shared_ptr<mailbox::RDOFolder>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDOFolder> {
        const StoreInfo& st = Info();
        return std::make_shared<EmbeddedFolder>(conn_, st.rootId, row_);
      });
}

std::shared_ptr<mailbox::RDOFolder> EmbeddedStore::IPMRootFolder() {
  return Guarded<std::shared_ptr<mailbox::RDOFolder>>(
      nullptr, [&]() -> std::shared_ptr<mailbox::RDOFolder> {
        const StoreInfo& st = Info();
        return std::make_shared<EmbeddedFolder>(conn_, st.subtreeId, row_);
      });
}

bool EmbeddedStore::CompareEntryIDs(const std::string& entryID1, const std::string& entryID2) {
  return Guarded(false, [&] {
    const StoreInfo& st = Info();
    const auto a = ParseEntryIdText(entryID1);
    const auto b = ParseEntryIdText(entryID2);
    if (!a) Fail(MAPI_E_INVALID_ENTRYID, "Invalid entry ID " + entryID1);
    if (!b) Fail(MAPI_E_INVALID_ENTRYID, "Invalid entry ID " + entryID2);
    return *a == *b && a->store == st.guid;
  });
}

}  // namespace oa::store
