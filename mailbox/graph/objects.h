// The object model over Microsoft Graph. The session's state (client, user, the entry IDs it has
// read) is in Core, which every object holds; objects keep what the service last told them.
#pragma once

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "mailbox/graph/client.h"
#include "mailbox/model/rdo.h"
#include "mailbox/remote/delete_queue.h"
#include "mailbox/remote/listed_mail.h"
#include "mailbox/remote/paged_items.h"
#include "mailbox/remote/session_core.h"

namespace oa::graph {

// Stages a value for Save(); false (error raised) when it does not fit the tag's type.
bool StageField(std::map<int32_t, Variant>& pending, int32_t tag, const Variant& value);

struct FolderData {
  std::string id;  // Graph ID or a well-known name ("root", "msgfolderroot")
  std::optional<std::string> name;
  std::optional<std::string> parentId;
  std::optional<int32_t> total;
  // Entry-ID text of PR_ENTRYID, when the answer held it.
  std::optional<std::string> entryID;
  std::map<int32_t, Variant> props;
  // The session's generation (Core::generation) when the service gave this.
  uint64_t readAt = 0;
};

struct MailData {
  std::string id;
  std::optional<std::string> subject;
  std::optional<std::string> itemClass;
  std::optional<oa::Date> created;
  std::optional<std::string> entryID;
  std::map<int32_t, Variant> props;
};

using remote::DeletionListener;

class Core : public remote::SessionCore, public std::enable_shared_from_this<Core> {
 public:
  Core(std::unique_ptr<Client> client, std::string userId, std::string displayName);

  Client& client() { return *client_; }
  const std::string& displayName() const { return name_; }
  // "/users/{id}" and below.
  std::string User(const std::string& rest = "") const;

  std::optional<json> Call(const std::string& method, const std::string& path,
                           const json* body = nullptr) {
    SendQueuedDeletes();
    if (method != "GET") Changed();
    return client_->Call(method, path, body);
  }
  // A change that touches no message (a new folder): the messages read stay good.
  std::optional<json> CallKeepingMessages(const std::string& method, const std::string& path,
                                          const json* body = nullptr) {
    SendQueuedDeletes();
    std::map<std::string, MailData> kept = readMails_;
    Changed();
    readMails_ = std::move(kept);
    return client_->Call(method, path, body);
  }

  // What the run has read stays good until the run changes something: every change (a request
  // that is no GET, a delete queued) starts a new generation, and a read is kept only for its
  // own.
  void Changed() {
    ++generation_;
    readFolders_.clear();
    readMails_.clear();
    folderNotFound_.clear();
    lookupFailed_.clear();
  }
  uint64_t generation() const { return generation_; }
  // A folder or message read in this generation with everything an open gives; nullopt if none.
  std::optional<FolderData> ReadFolderOf(const std::string& graphId) const;
  std::optional<MailData> ReadMailOf(const std::string& graphId) const;
  // A folder the service did not find in this generation, with its answer; null if none.
  void FolderNotFound(const std::string& graphId, const std::string& answer) {
    folderNotFound_[graphId] = answer;
  }
  const std::string* NotFoundAnswer(const std::string& graphId) const {
    auto it = folderNotFound_.find(graphId);
    return it == folderNotFound_.end() ? nullptr : &it->second;
  }

  // Entry IDs come from the objects themselves: every request that reads or lists a folder or a
  // message asks for its PR_ENTRYID, and the Graph ID of every entry ID read is kept for the
  // session (translateExchangeIds is refused to an application signed in on its own).
  enum class Kind { Folder, Message };
  // The Graph ID of an entry ID: one the session has read, or else looked up among the
  // mailbox's folders (and their messages) in at most kMaxLookupRequests requests.
  std::optional<std::string> GraphIdOf(const std::string& entryID, Kind kind);
  static constexpr int kMaxLookupRequests = 30;

  // A folder with its name, parent, item count, entry ID and the extended tags given.
  std::optional<FolderData> GetFolder(const std::string& idOrWellKnown,
                                      const std::vector<int32_t>& tags = {});
  std::optional<MailData> GetMail(const std::string& id, const std::vector<int32_t>& tags = {});
  // "$select=...&$expand=..." for messages with the message class, the entry ID and the tags.
  static std::string MailQuery(const std::vector<int32_t>& tags);
  // "&$expand=..." for the entry ID and the tags given.
  static std::string ExpandOf(const std::vector<int32_t>& tags);
  static FolderData ReadFolder(const json& j);
  static MailData ReadMail(const json& j);
  // As Read*, and the entry ID read is kept; a message listed from a folder keeps that folder as
  // its place.
  FolderData TakeFolder(const json& j);
  MailData TakeMail(const json& j, const std::string& listedFrom = "");
  // permanentDelete of a folder. What the run has read of messages known to lie outside the
  // folder stays good; the folder itself is known gone once the service has taken the delete.
  void DeleteFolder(const std::string& id);
  void Learn(const std::string& graphId, const std::optional<std::string>& entryID);
  // The Graph ID of the mailbox's top visible folder, once read.
  std::string& ipmRootId() { return ipmRootId_; }

  std::string& storeEntryID() { return storeEntryID_; }
  void ItemDeleted(const std::string& id);

  // Message deletes go out together, up to kDeleteGroup in one $batch (the most Graph takes). A
  // queued delete is told to the listeners as done at once; it is sent when the group is full,
  // before any other request, when the program pauses and at logoff. An item already queued is
  // not queued again.
  static constexpr size_t kDeleteGroup = 20;
  void QueueDelete(const std::string& id) { queue_.Queue(id); }
  // 1 sends every delete on its own (for measurements).
  void SetDeleteGroup(size_t items) { queue_.SetGroup(std::clamp<size_t>(items, 1, kDeleteGroup)); }

 private:
  // One $batch of permanentDelete requests, throttled ones sent again after the service's wait;
  // gone[i] tells which items the service no longer holds.
  void SendDeleteBatch(const std::vector<std::string>& ids, std::vector<bool>& gone);
  void Disconnect() override { client_->Disconnect(); }
  std::optional<std::string> FindInFolders(const std::string& hex, Kind kind);
  // Whether the message is known to lie outside the folder and everything below it: its folder
  // reaches, going up, one of the folder's own ancestors before the folder itself.
  bool KnownOutside(const std::string& mailId, const std::string& folderId) const;

  std::unique_ptr<Client> client_;
  std::string userId_;
  std::string name_;
  std::map<std::string, std::string> idByHex_;
  std::string ipmRootId_;
  uint64_t generation_ = 0;
  std::map<std::string, FolderData> readFolders_;
  std::map<std::string, MailData> readMails_;
  std::map<std::string, std::string> folderNotFound_;
  // Where folders and listed messages lie, as read; the run moves neither.
  std::map<std::string, std::string> folderParent_;
  std::map<std::string, std::string> mailParent_;
  // Entry IDs the lookup did not find in this generation, with its reason.
  std::map<std::string, std::string> lookupFailed_;
  std::string storeEntryID_;
};

class GraphStore : public oa::mailbox::RDOStore {
 public:
  explicit GraphStore(std::shared_ptr<Core> core) : core_(std::move(core)) {}
  std::string EntryID() override;
  std::string Name() override;
  std::shared_ptr<oa::mailbox::RDOFolder> RootFolder() override;
  std::shared_ptr<oa::mailbox::RDOFolder> IPMRootFolder() override;
  bool CompareEntryIDs(const std::string& entryID1, const std::string& entryID2) override;

 private:
  std::shared_ptr<Core> core_;
};

class GraphStores : public oa::mailbox::RDOStores {
 public:
  explicit GraphStores(std::shared_ptr<Core> core) : core_(std::move(core)) {}
  std::shared_ptr<oa::mailbox::RDOStore> DefaultStore() override;
  std::shared_ptr<oa::mailbox::RDOStore> FindExchangePublicFoldersStore() override;

 private:
  std::shared_ptr<Core> core_;
};

class GraphFolder : public oa::mailbox::RDOFolder {
 public:
  GraphFolder(std::shared_ptr<Core> core, FolderData data)
      : core_(std::move(core)), data_(std::move(data)) {}
  std::string EntryID() override;
  int32_t GetIDsFromNames(const std::string& guid, const std::string& name) override;
  // Graph names extended properties by name: nothing is given out in the mailbox either way.
  int32_t LookupIDsFromNames(const std::string& guid, const std::string& name) override {
    return GetIDsFromNames(guid, name);
  }
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

 private:
  // Makes sure the folder's Graph ID, name and parent are known.
  bool Load();

  std::shared_ptr<Core> core_;
  FolderData data_;
  bool loaded_ = false;
  std::optional<std::string> pendingName_;
  std::map<int32_t, Variant> pendingFields_;
};

class GraphFolders : public oa::mailbox::RDOFolders {
 public:
  GraphFolders(std::shared_ptr<Core> core, std::string parentId)
      : core_(std::move(core)), parentId_(std::move(parentId)) {}
  int32_t Count() override;
  std::shared_ptr<oa::mailbox::RDOFolder> Item(int32_t index) override;
  std::shared_ptr<oa::mailbox::RDOFolder> Item(const std::string& name) override;
  std::shared_ptr<oa::mailbox::RDOFolder> Add(const std::string& name) override;

 private:
  std::optional<std::vector<FolderData>> List(const std::string* name);

  std::shared_ptr<Core> core_;
  std::string parentId_;
  std::optional<std::vector<FolderData>> all_;
};

// Message IDs are read a page at a time and kept (remote/paged_items.h).
class GraphItems : public oa::mailbox::RDOItems, public remote::PagedItems<MailData> {
 public:
  // Graph gives up to 1000 messages a page; half of that keeps a page of IDs and two extended
  // properties well inside the gateway's time limit.
  static constexpr int kPageSize = 500;
  // total: the folder's item count, when read in the session's current generation.
  GraphItems(std::shared_ptr<Core> core, std::string folderId,
             std::optional<int32_t> total = std::nullopt)
      : PagedItems(total), core_(std::move(core)), folderId_(std::move(folderId)) {}
  int32_t Count() override { return CountItems(); }
  std::shared_ptr<oa::mailbox::RDOMail> Item(int32_t index) override;
  std::shared_ptr<oa::mailbox::RDOMail> GetFirst() override { return Item(1); }
  std::shared_ptr<oa::mailbox::MAPITable> MAPITable() override;
  int32_t TakeRefusedDeletes(bool settle) override { return TakeRefused(settle); }

 private:
  bool Alive() override { return core_->Alive(); }
  std::optional<int32_t> ReadCount() override;
  bool ReadPage(int32_t offset, std::deque<MailData>& rows) override;
  void SettleDeletes() override {
    if (!core_->ended()) core_->SendQueuedDeletes();
  }

  std::shared_ptr<Core> core_;
  std::string folderId_;
};

class GraphMail : public remote::ListedMail<MailData> {
 public:
  // queueDelete: fetched through a folder's items, so its delete may wait for its group.
  GraphMail(std::shared_ptr<Core> core, MailData data, bool queueDelete = false)
      : ListedMail(std::move(data)), core_(std::move(core)), queueDelete_(queueDelete) {}
  std::string EntryID() override;
  int32_t GetIDsFromNames(const std::string& guid, const std::string& name) override;
  // Graph names extended properties by name: nothing is given out in the mailbox either way.
  int32_t LookupIDsFromNames(const std::string& guid, const std::string& name) override {
    return GetIDsFromNames(guid, name);
  }
  std::shared_ptr<oa::mailbox::RDOStore> Store() override;
  void Delete(int32_t flags) override;

 private:
  bool Alive() override { return core_->Alive(); }
  bool LoadBasics() override;
  bool Stage(int32_t propTag, const Variant& value) override {
    return StageField(pendingFields_, propTag, value);
  }
  bool SavePending() override;
  std::vector<int32_t> KnownNamedTags() override;
  bool ReadProps(const std::vector<int32_t>& tags) override;
  std::string Who() const override { return "The service"; }

  std::shared_ptr<Core> core_;
  bool queueDelete_ = false;
};

class GraphSession : public oa::mailbox::RDOSession {
 public:
  explicit GraphSession(GraphOptions options, std::shared_ptr<remote::Waiter> waiter = nullptr)
      : options_(std::move(options)), waiter_(std::move(waiter)) {}
  ~GraphSession() override;
  void LogonExchangeMailbox(const std::string& mailbox, const std::string& server) override;
  // The service has no read-only logon: a dry run's guard keeps the mailbox as it is.
  void LogonExchangeMailboxReadOnly(const std::string& mailbox,
                                    const std::string& server) override {
    LogonExchangeMailbox(mailbox, server);
  }
  bool LoggedOn() override { return core_ && !core_->ended(); }
  void Logoff() override {
    if (core_) core_->End();
  }
  std::shared_ptr<oa::mailbox::RDOStores> Stores() override;
  std::shared_ptr<oa::mailbox::RDOFolder> GetDefaultFolder(int32_t folderType) override;
  std::shared_ptr<oa::mailbox::RDOMail> GetMessageFromID(const std::string& entryID,
                                                         const std::string& storeID) override;
  std::shared_ptr<oa::mailbox::RDOFolder> GetFolderFromID(const std::string& entryID,
                                                          const std::string& storeID) override;
  void SendHeldBack() override;
  bool CheckRepointReads(const std::string& messageEntryID,
                         oa::mailbox::RDOFolder& folder) override;
  // Requests sent so far, retries and token requests included (for measurements).
  long RequestsSent() const { return earlier_ + (core_ ? core_->client().requestsSent() : 0); }
  // Deletes sent in groups of this many (for measurements; see Core::SetDeleteGroup).
  void SetDeleteGroup(size_t items) {
    if (core_) core_->SetDeleteGroup(items);
  }

 private:
  bool Ready();
  // False (MAPI_E_NOT_FOUND) when the store ID names another store than the mailbox.
  bool MailboxStoreID(const std::string& storeID);

  const GraphOptions options_;
  std::shared_ptr<remote::Waiter> waiter_;
  std::shared_ptr<Core> core_;
  long earlier_ = 0;
};

// Named property IDs, as GetIDsFromNames gives them (type bits 0); 0 with the error raised.
int32_t IdsFromNames(const std::string& guid, const std::string& name);
// Upper-case entry-ID text; nullopt (MAPI_E_INVALID_ENTRYID raised) when it is no hex text.
std::optional<std::string> CheckedHex(const std::string& entryID);

}  // namespace oa::graph
