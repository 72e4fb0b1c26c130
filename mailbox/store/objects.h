// The object model on a store file. Objects are handles (connection, row id); every call reads
// or writes the file, so two processes see each other's changes.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mailbox/model/fault_ledger.h"
#include "mailbox/model/rdo.h"
#include "mailbox/store/connection.h"
#include "mailbox/store/file_options.h"
#include "mailbox/store/values.h"

namespace oa::store {

class EmbeddedStore : public mailbox::RDOStore {
 public:
  EmbeddedStore(ConnPtr conn, int64_t row) : conn_(std::move(conn)), row_(row) {}
  std::string EntryID() override;
  std::string Name() override;
  std::shared_ptr<mailbox::RDOFolder> RootFolder() override;
  std::shared_ptr<mailbox::RDOFolder> IPMRootFolder() override;
  bool CompareEntryIDs(const std::string& entryID1, const std::string& entryID2) override;

 private:
  const StoreInfo& Info();
  ConnPtr conn_;
  int64_t row_;
};

class EmbeddedStores : public mailbox::RDOStores {
 public:
  explicit EmbeddedStores(ConnPtr conn) : conn_(std::move(conn)) {}
  std::shared_ptr<mailbox::RDOStore> DefaultStore() override;
  std::shared_ptr<mailbox::RDOStore> FindExchangePublicFoldersStore() override;

 private:
  ConnPtr conn_;
};

// Pending property changes of a folder or message, written by Save().
using PendingProps = std::map<int32_t, SqlValue>;

class EmbeddedFolder : public mailbox::RDOFolder {
 public:
  EmbeddedFolder(ConnPtr conn, int64_t id, int64_t storeRow)
      : conn_(std::move(conn)), id_(id), storeRow_(storeRow) {}
  std::string EntryID() override;
  int32_t GetIDsFromNames(const std::string& guid, const std::string& name) override;
  int32_t LookupIDsFromNames(const std::string& guid, const std::string& name) override;
  Variant Fields(int32_t propTag) override;
  bool SetFields(int32_t propTag, const Variant& value) override;
  bool Save() override;
  std::string Name() override;
  bool SetName(const std::string& name) override;
  std::shared_ptr<mailbox::RDOFolder> Parent() override;
  std::shared_ptr<mailbox::RDOStore> Store() override;
  std::shared_ptr<mailbox::RDOItems> Items() override;
  std::shared_ptr<mailbox::RDOFolders> Folders() override;
  void Delete() override;

 private:
  ConnPtr conn_;
  int64_t id_;
  int64_t storeRow_;
  std::optional<std::string> pendingName_;
  PendingProps pending_;
};

class EmbeddedFolders : public mailbox::RDOFolders {
 public:
  EmbeddedFolders(ConnPtr conn, int64_t parentId, int64_t storeRow)
      : conn_(std::move(conn)), parentId_(parentId), storeRow_(storeRow) {}
  int32_t Count() override;
  std::shared_ptr<mailbox::RDOFolder> Item(int32_t index) override;
  std::shared_ptr<mailbox::RDOFolder> Item(const std::string& name) override;
  std::shared_ptr<mailbox::RDOFolder> Add(const std::string& name) override;

 private:
  ConnPtr conn_;
  int64_t parentId_;
  int64_t storeRow_;
};

class EmbeddedItems : public mailbox::RDOItems {
 public:
  EmbeddedItems(ConnPtr conn, int64_t folderId, int64_t storeRow)
      : conn_(std::move(conn)), folderId_(folderId), storeRow_(storeRow) {}
  int32_t Count() override;
  std::shared_ptr<mailbox::RDOMail> Item(int32_t index) override;
  std::shared_ptr<mailbox::RDOMail> GetFirst() override;
  std::shared_ptr<mailbox::MAPITable> MAPITable() override;
  // A delete takes effect at once.
  int32_t TakeRefusedDeletes(bool) override { return 0; }

 private:
  ConnPtr conn_;
  int64_t folderId_;
  int64_t storeRow_;
  // The last item given by position: while the file is unchanged, the next position is the
  // next message, found without counting the folder's messages from the start.
  struct Cursor {
    int32_t index = 0;
    int64_t id = 0;
    Db::Stamp stamp;
  };
  Cursor cursor_;
};

class EmbeddedMail : public mailbox::RDOMail {
 public:
  // folderId: the folder it was found in, when known (messages never change folders).
  EmbeddedMail(ConnPtr conn, int64_t id, int64_t storeRow, int64_t folderId = 0)
      : conn_(std::move(conn)), id_(id), storeRow_(storeRow), folderId_(folderId) {}
  std::string EntryID() override;
  int32_t GetIDsFromNames(const std::string& guid, const std::string& name) override;
  int32_t LookupIDsFromNames(const std::string& guid, const std::string& name) override;
  Variant Fields(int32_t propTag) override;
  bool SetFields(int32_t propTag, const Variant& value) override;
  bool Save() override;
  std::string MessageClass() override;
  std::string Subject() override;
  Variant CreationTime() override;
  std::shared_ptr<mailbox::RDOStore> Store() override;
  void Delete(int32_t flags) override;

 private:
  Variant Read(int32_t tag);
  ConnPtr conn_;
  int64_t id_;
  int64_t storeRow_;
  int64_t folderId_;
  PendingProps pending_;
};

class EmbeddedSession : public mailbox::RDOSession {
 public:
  // A bare server NAME is looked for as NAME.oastore in `storeDirectory` (none: never).
  explicit EmbeddedSession(std::string storeDirectory = {}, StoreFileOptions fileOptions = {})
      : storeDirectory_(std::move(storeDirectory)), fileOptions_(fileOptions) {}
  void LogonExchangeMailbox(const std::string& mailbox, const std::string& server) override;
  // Opens the store file for reading only: one the user may not write is fine.
  void LogonExchangeMailboxReadOnly(const std::string& mailbox, const std::string& server) override;
  bool LoggedOn() override;
  void Logoff() override;
  std::shared_ptr<mailbox::RDOStores> Stores() override;
  std::shared_ptr<mailbox::RDOFolder> GetDefaultFolder(int32_t folderType) override;
  std::shared_ptr<mailbox::RDOMail> GetMessageFromID(const std::string& entryID,
                                                     const std::string& storeID) override;
  std::shared_ptr<mailbox::RDOFolder> GetFolderFromID(const std::string& entryID,
                                                      const std::string& storeID) override;
  // A change takes effect at once.
  void SendHeldBack() override {}
  bool CheckRepointReads(const std::string& messageEntryID, mailbox::RDOFolder& folder) override {
    return mailbox::CheckRepointReadsThrough(*this, messageEntryID, folder);
  }

  // The declared faults of the file this session is logged on to; nullptr when it declares
  // none (or the session is not logged on).
  std::shared_ptr<mailbox::FaultLedger> FaultLedger();

 private:
  void Logon(const std::string& mailbox, const std::string& server, bool readOnly);
  Connection& Conn();
  // The session store an entry ID may be opened from: the mailbox store, or the one storeID
  // names.
  const StoreInfo& StoreFor(const std::string& storeID);
  const std::string storeDirectory_;
  const StoreFileOptions fileOptions_;
  ConnPtr conn_;
};

std::shared_ptr<mailbox::MAPITable> MakeContentsTable(ConnPtr conn, int64_t folderId);

// Shared by the objects.
std::string ObjectEntryId(const Connection& conn, int64_t storeRow, ObjectKind kind, int64_t id);
// The folder's store row, or throws MAPI_E_OBJECT_DELETED.
int64_t RequireFolder(Db& db, int64_t folderId);
void RequireMessage(Db& db, int64_t messageId);
// A property of the folder or message, from its columns or the props table; Empty if missing.
Variant ReadFolderProp(Connection& conn, int64_t folderId, int64_t storeRow, int32_t tag);
Variant ReadMessageProp(Connection& conn, int64_t messageId, int64_t storeRow, int32_t tag);
// One message with its properties, keeping its folder's count; false when it is not there.
// folderHint: its folder when the caller knows it (saves a look-up), 0 when not.
bool DeleteMessageRow(Db& db, int64_t messageId, int64_t folderHint = 0);
// The props table, by exact tag or the other string type of the same ID.
std::optional<SqlValue> ReadStoredProp(Db& db, int kind, int64_t owner, int32_t tag);
void WriteStoredProps(Db& db, int kind, int64_t owner, const PendingProps& props);
// The pending value of a tag (either string type), if any.
const SqlValue* FindPending(const PendingProps& pending, int32_t tag);
// With `create` false a name without an ID gives 0 and nothing is written.
int32_t GetIDsFromNamesOf(Connection& conn, int64_t storeRow, const std::string& guid,
                          const std::string& name, bool create = true);

}  // namespace oa::store
