// The state one logged-on EWS session shares with every object it handed out: the client, the
// mailbox it acts on, the entry-ID conversions and named-property IDs it has learnt.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/mapi_error.h"
#include "mailbox/ews/client.h"
#include "mailbox/ews/props.h"
#include "mailbox/model/rdo.h"
#include "mailbox/remote/delete_queue.h"
#include "mailbox/remote/session_core.h"

namespace oa::ews {

// A folder as requests name it: by EWS ID, or by distinguished name when no ID is known yet.
struct FolderRef {
  std::string id;
  std::string changeKey;
  std::string distinguished;  // "root", "msgfolderroot", "publicfoldersroot", ...
  bool isPublic = false;
};

struct FolderData {
  FolderRef ref;
  std::string element = "t:Folder";
  std::optional<std::string> name;
  std::optional<FolderRef> parent;
  std::optional<int32_t> totalCount;
  std::map<int32_t, oa::Variant> props;
};

struct ListedPage;

struct ItemData {
  std::string id;
  std::string changeKey;
  std::string element = "t:Item";
  bool isPublic = false;
  std::optional<std::string> itemClass;
  std::optional<std::string> subject;
  std::optional<oa::Date> created;
  // The folder that holds a public folder item (EWS ID): the item's ID converts only with it.
  std::string folderId;
  // Extended properties asked for; a tag asked for but absent maps to Empty.
  std::map<int32_t, oa::Variant> props;
  // The page the item was listed in.
  std::shared_ptr<ListedPage> page;
};

// The items of one listed page share their IDs, converted together when one entry ID is needed,
// and their class, subject and creation time, read together when one item's are needed: a
// listing asks for no more than IDs, as most callers read nothing else.
struct ListedPage {
  std::vector<std::string> ids;
  // By EWS ID, once read; an item the server gave nothing for maps to its bare ID.
  std::map<std::string, ItemData> basics;
  bool basicsAsked = false;
};

using remote::DeletionListener;

// A public folder item as EWS names it: its own ID and its folder's.
struct PublicItemRef {
  std::string itemId;
  std::string folderId;
};

class EwsStore;
class ReadCache;

class Core : public remote::SessionCore, public std::enable_shared_from_this<Core> {
 public:
  Core(std::unique_ptr<Client> client, std::string smtp, std::string displayName);
  ~Core();

  Client& client() { return *client_; }
  const std::string& smtp() const { return smtp_; }
  const std::string& displayName() const { return displayName_; }
  // Named-property IDs are the same for every session of the process, as a store's are.
  NamedPropMap& named() { return SharedNamedProps(); }

  // Sends a request; the response or nullopt with the error raised.
  std::unique_ptr<Request> NewRequest(const std::string& operation);
  std::optional<Response> Send(const Request& request);
  // Sends a request of one message and returns that message's node when it succeeded.
  std::optional<Response> SendOne(const Request& request);

  void AppendFolderId(pugi::xml_node parent, const FolderRef& ref);

  // Entry-ID text <-> EWS ID through ConvertId, remembered both ways.
  std::optional<std::string> HexFromEws(const std::string& ewsId, bool isPublic);
  std::optional<std::string> EwsFromHex(const std::string& hex, bool isPublic);
  // The entry-ID text already learnt for an EWS ID, without asking the server.
  std::optional<std::string> KnownHex(const std::string& ewsId, bool isPublic) const;
  // A mailbox object's entry ID read with it (PR_ENTRYID), learnt both ways as ConvertId's are.
  void NoteEntryID(const std::string& ewsId, const std::vector<uint8_t>& entryId);
  // Many at once: one ConvertId for those not known yet; nullopt for those that failed. Public
  // folder items whose folder is known convert as items of that folder.
  std::vector<std::optional<std::string>> HexFromEws(const std::vector<std::string>& ewsIds,
                                                     bool isPublic);

  // A message in the public folders by its entry ID, converted together with its folder's.
  // The folder is read from the entry ID when it has Exchange's long-term layout, else the
  // public folders are searched for it. MAPI_E_INVALID_ENTRYID or MAPI_E_NOT_FOUND when none.
  std::optional<ItemData> GetPublicItem(const std::string& entryID);

  // GetFolder with the folder's name, parent, total count and the extended tags given.
  std::optional<FolderData> GetFolder(const FolderRef& ref, const std::vector<int32_t>& tags = {});
  // GetItem with class, subject, creation time and the extended tags given.
  std::optional<ItemData> GetItem(const std::string& ewsId, bool isPublic,
                                  const std::vector<int32_t>& tags = {});

  // The class, subject and creation time of a listed item, read for a group of the page's items
  // at once; nullopt when they could not be had so (the caller asks for the item alone).
  std::optional<ItemData> ListedBasics(ListedPage& page, const std::string& ewsId, bool isPublic);

  // The shapes of folders and items this backend reads. Items: the IDs; class, subject and
  // creation time with `basics`; the parent folder with `parent` (a public folder item's ID
  // converts only together with it); and the extended tags given.
  void AppendFolderShape(pugi::xml_node op, const char* shapeName,
                         const std::vector<int32_t>& tags);
  void AppendItemShape(pugi::xml_node op, const std::vector<int32_t>& tags, bool basics = true,
                       bool parent = true);
  FolderData ReadFolder(pugi::xml_node element, bool isPublic, const std::vector<int32_t>& tags);
  ItemData ReadItem(pugi::xml_node element, bool isPublic, const std::vector<int32_t>& tags);

  // What the session has read, and the changes it has made since (read_cache.h).
  ReadCache& cache() { return *cache_; }

  // The public folders' store as the logon found it: its absence, with the server's error.
  void NotePublicStoreMissing(const oa::ErrObject& why) { publicStoreMissing_ = why; }
  const std::optional<oa::ErrObject>& publicStoreMissing() const { return publicStoreMissing_; }

  // A new store object each time (stores hold the core, never the other way round).
  std::shared_ptr<EwsStore> Store(bool isPublic);
  // The store entry IDs learnt so far.
  std::string& StoreEntryID(bool isPublic) { return storeEntryIDs_[isPublic ? 1 : 0]; }

  void ItemDeleted(const std::string& ewsId);

  // Item deletes go out together, up to kDeleteGroup in one DeleteItem. A queued delete is told
  // to the listeners as done at once; it is sent when the group is full, before any other
  // request, when the program pauses and at logoff. An item already queued is not queued again.
  static constexpr size_t kDeleteGroup = 100;
  void QueueDelete(const std::string& ewsId, const std::string& deleteType);
  // 1 sends every delete at once, as one DeleteItem each (for measurements).
  void SetDeleteGroup(size_t items) { queue_.SetGroup(items); }
  // DeleteItem for one type; calendar items and tasks need the two attributes to be deleted.
  std::unique_ptr<Request> NewDeleteRequest(const std::string& deleteType);

 private:
  // Converts the message's entry ID together with each candidate folder's (entry IDs) and asks
  // for the items: the first one the server has. Raises the server's error when none;
  // *notThere tells an answer that none of these folders holds it from a failed request.
  std::optional<ItemData> PublicItemIn(const std::string& hex,
                                       const std::vector<std::string>& folderHexes, bool* notThere);
  // The public folders level by level, for an entry ID that does not name its folder.
  std::optional<ItemData> SearchPublicItem(const std::string& hex);
  void NotePublicItem(const std::string& itemId, const std::string& folderId);

  std::unique_ptr<Client> client_;
  std::string smtp_;
  std::string displayName_;
  std::map<std::string, std::string> hexByEws_;
  std::map<std::string, std::string> ewsByHex_;
  // Public folder items met: item EWS ID -> folder EWS ID, and entry ID -> both.
  std::map<std::string, std::string> publicItemFolders_;
  std::map<std::string, PublicItemRef> publicItemsByHex_;
  std::string storeEntryIDs_[2];
  std::optional<oa::ErrObject> publicStoreMissing_;
  std::unique_ptr<ReadCache> cache_;
  void Disconnect() override { client_->Disconnect(); }
  // One DeleteItem for the group of one delete type; gone[i] for the items the server no
  // longer holds.
  void SendDeleteGroup(const std::vector<std::string>& ids, const std::string& deleteType,
                       std::vector<bool>& gone);
};

using remote::MAPI_E_USER_CANCEL;

// Upper case of an entry-ID text; nullopt when it is no hexadecimal text (MAPI_E_INVALID_ENTRYID
// raised).
std::optional<std::string> CheckedHex(const std::string& entryID);

}  // namespace oa::ews
