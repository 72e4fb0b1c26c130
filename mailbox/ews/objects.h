// The object model over EWS. Each object keeps what the server last told it and asks again
// only when it has to; every call checks first that the session is still logged on.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "mailbox/ews/core.h"
#include "mailbox/ews/logon_settings.h"
#include "mailbox/model/rdo.h"
#include "mailbox/model/restriction_tree.h"
#include "mailbox/remote/listed_mail.h"
#include "mailbox/remote/paged_items.h"
#include "mailbox/remote/row_cursor.h"

namespace oa::ews {

class EwsStore : public oa::mailbox::RDOStore {
 public:
  EwsStore(std::shared_ptr<Core> core, bool isPublic) : core_(std::move(core)), public_(isPublic) {}
  std::string EntryID() override;
  std::string Name() override;
  std::shared_ptr<oa::mailbox::RDOFolder> RootFolder() override;
  std::shared_ptr<oa::mailbox::RDOFolder> IPMRootFolder() override;
  bool CompareEntryIDs(const std::string& entryID1, const std::string& entryID2) override;

  // The entry ID when the session learnt it by the way.
  void Remember(const std::string& entryID) { core_->StoreEntryID(public_) = entryID; }

 private:
  std::shared_ptr<Core> core_;
  bool public_;
};

class EwsStores : public oa::mailbox::RDOStores {
 public:
  explicit EwsStores(std::shared_ptr<Core> core) : core_(std::move(core)) {}
  std::shared_ptr<oa::mailbox::RDOStore> DefaultStore() override;
  std::shared_ptr<oa::mailbox::RDOStore> FindExchangePublicFoldersStore() override;

 private:
  std::shared_ptr<Core> core_;
};

class EwsFolder : public oa::mailbox::RDOFolder {
 public:
  // readAlone: the data is a GetFolder answer for this folder, whose item count the folder's
  // first item collection may take while the session has changed nothing since.
  EwsFolder(std::shared_ptr<Core> core, FolderData data, bool readAlone = false);
  std::string EntryID() override;
  int32_t GetIDsFromNames(const std::string& guid, const std::string& name) override;
  int32_t LookupIDsFromNames(const std::string& guid, const std::string& name) override;
  Variant Fields(int32_t propTag) override;
  bool SetFields(int32_t propTag, const Variant& value) override;
  bool Save() override;
  std::string Name() override;
  bool SetName(const std::string& name) override;
  std::shared_ptr<oa::mailbox::RDOFolder> Parent() override;
  std::shared_ptr<oa::mailbox::RDOStore> Store() override;
  std::shared_ptr<oa::mailbox::RDOItems> Items() override;
  std::shared_ptr<oa::mailbox::RDOFolders> Folders() override;
  void Delete() override;

  const FolderRef& ref() const { return data_.ref; }

 private:
  // Makes sure the folder's EWS ID, name and parent are known.
  bool Load();

  std::shared_ptr<Core> core_;
  FolderData data_;
  bool loaded_ = false;
  // The session's change count when the data was read alone.
  std::optional<uint64_t> countReadAt_;
  std::optional<std::string> pendingName_;
  std::map<int32_t, Variant> pendingFields_;
};

class EwsFolders : public oa::mailbox::RDOFolders {
 public:
  EwsFolders(std::shared_ptr<Core> core, FolderRef parent)
      : core_(std::move(core)), parent_(std::move(parent)) {}
  int32_t Count() override;
  std::shared_ptr<oa::mailbox::RDOFolder> Item(int32_t index) override;
  std::shared_ptr<oa::mailbox::RDOFolder> Item(const std::string& name) override;
  std::shared_ptr<oa::mailbox::RDOFolder> Add(const std::string& name) override;

 private:
  // FindFolder below the parent, with a DisplayName restriction when name is given.
  std::optional<std::vector<FolderData>> Find(const std::string* name);
  bool LoadAll();

  std::shared_ptr<Core> core_;
  FolderRef parent_;
  std::optional<std::vector<FolderData>> all_;
};

// Item IDs of a folder are read a page (1000, as many as Exchange gives by default) at a time
// and kept (remote/paged_items.h).
class EwsItems : public oa::mailbox::RDOItems,
                 public remote::PagedItems<ItemData>,
                 public std::enable_shared_from_this<EwsItems> {
 public:
  static constexpr int kPageSize = 1000;
  EwsItems(std::shared_ptr<Core> core, FolderRef folder)
      : core_(std::move(core)), folder_(std::move(folder)) {}
  int32_t Count() override { return CountItems(); }
  std::shared_ptr<oa::mailbox::RDOMail> Item(int32_t index) override;
  std::shared_ptr<oa::mailbox::RDOMail> GetFirst() override;
  std::shared_ptr<oa::mailbox::MAPITable> MAPITable() override;
  int32_t TakeRefusedDeletes(bool settle) override { return TakeRefused(settle); }
  // The folder's item count as just read with the folder.
  using PagedItems::KnowCount;

 private:
  bool Alive() override { return core_->Alive(); }
  std::optional<int32_t> ReadCount() override;
  bool ReadPage(int32_t offset, std::deque<ItemData>& rows) override;
  void SettleDeletes() override {
    if (!core_->ended()) core_->SendQueuedDeletes();
  }

  std::shared_ptr<Core> core_;
  FolderRef folder_;
  // The page as listed; whether the pages are listed with the items' class, subject and time.
  std::shared_ptr<ListedPage> listed_;
  bool listBasics_ = false;
};

class EwsMail : public remote::ListedMail<ItemData> {
 public:
  // queueDelete: Delete() joins the session's group of deletes (items handed out by a
  // collection, which keeps its count in step) instead of going out at once.
  EwsMail(std::shared_ptr<Core> core, ItemData data, bool queueDelete = false)
      : ListedMail(std::move(data)), core_(std::move(core)), queueDelete_(queueDelete) {}
  std::string EntryID() override;
  int32_t GetIDsFromNames(const std::string& guid, const std::string& name) override;
  int32_t LookupIDsFromNames(const std::string& guid, const std::string& name) override;
  std::shared_ptr<oa::mailbox::RDOStore> Store() override;
  void Delete(int32_t flags) override;

 private:
  bool Alive() override { return core_->Alive(); }
  bool LoadBasics() override;
  bool Stage(int32_t propTag, const Variant& value) override {
    return StageField(pendingFields_, propTag, value);
  }
  bool SavePending() override;
  std::vector<int32_t> KnownNamedTags() override { return core_->named().AllStringTags(); }
  bool ReadProps(const std::vector<int32_t>& tags) override;
  std::string Who() const override { return "The server"; }

  std::shared_ptr<Core> core_;
  bool queueDelete_;
};

// The folder's contents table as FindItem: columns as item properties, the restriction as a
// FindItem restriction, rows read a page at a time.
class EwsTable : public remote::RowCursor<ItemData>, public std::enable_shared_from_this<EwsTable> {
 public:
  EwsTable(std::shared_ptr<Core> core, FolderRef folder)
      : core_(std::move(core)), folder_(std::move(folder)) {}
  std::shared_ptr<oa::mailbox::RDOTableFilter> Filter() override;

 private:
  bool Alive() override { return core_->Alive(); }
  bool ReadFirst(const std::shared_ptr<oa::mailbox::RestrictionNode>& restriction,
                 std::vector<ItemData>& rows) override;
  bool MorePages() const override { return morePages_; }
  bool ReadNext(std::vector<ItemData>& rows) override;
  void ForgetPages() override;
  Variant EntryIdOf(size_t index) override;
  bool LoadPage(int32_t offset, std::vector<ItemData>& rows);

  std::shared_ptr<Core> core_;
  FolderRef folder_;
  std::shared_ptr<oa::mailbox::RestrictionNode> restriction_;
  std::vector<std::optional<std::string>> rowEntryIDs_;
  int32_t pageOffset_ = 0;
  bool morePages_ = false;
};

class EwsSession : public oa::mailbox::RDOSession {
 public:
  // Logs on with `settings`, shared with the other sessions of its registration.
  explicit EwsSession(std::shared_ptr<LogonSettings> settings,
                      std::shared_ptr<remote::Waiter> waiter = nullptr)
      : settings_(settings ? std::move(settings) : std::make_shared<LogonSettings>(EwsOptions())),
        waiter_(std::move(waiter)) {}
  // Logs on with settings of its own.
  explicit EwsSession(EwsOptions options, std::shared_ptr<remote::Waiter> waiter = nullptr)
      : EwsSession(std::make_shared<LogonSettings>(std::move(options)), std::move(waiter)) {}
  ~EwsSession() override;
  void LogonExchangeMailbox(const std::string& mailbox, const std::string& server) override;
  // The service has no read-only logon: a dry run's guard keeps the mailbox as it is.
  void LogonExchangeMailboxReadOnly(const std::string& mailbox,
                                    const std::string& server) override {
    LogonExchangeMailbox(mailbox, server);
  }
  bool LoggedOn() override;
  void Logoff() override;
  std::shared_ptr<oa::mailbox::RDOStores> Stores() override;
  std::shared_ptr<oa::mailbox::RDOFolder> GetDefaultFolder(int32_t folderType) override;
  std::shared_ptr<oa::mailbox::RDOMail> GetMessageFromID(const std::string& entryID,
                                                         const std::string& storeID) override;
  std::shared_ptr<oa::mailbox::RDOFolder> GetFolderFromID(const std::string& entryID,
                                                          const std::string& storeID) override;
  void SendHeldBack() override;
  bool CheckRepointReads(const std::string& messageEntryID,
                         oa::mailbox::RDOFolder& folder) override {
    return oa::mailbox::CheckRepointReadsThrough(*this, messageEntryID, folder);
  }

  // Requests sent by this session so far, retries included (for measurements).
  long RequestsSent() const;
  // Item deletes a DeleteItem carries at most (for measurements; 100 unless set).
  void SetDeleteGroup(size_t items) {
    if (core_) core_->SetDeleteGroup(items);
  }
  // Connections opened by the current logon (1 while it is kept alive).
  long ConnectsMade() const { return core_ ? core_->client().connectsMade() : 0; }

 private:
  bool Ready();
  // Whether a store ID names the public folders store (which needs its own ID conversion).
  bool IsPublicStoreID(const std::string& storeID);

  const std::shared_ptr<LogonSettings> settings_;
  std::shared_ptr<remote::Waiter> waiter_;
  std::shared_ptr<Core> core_;
  long earlierRequests_ = 0;
};

}  // namespace oa::ews
