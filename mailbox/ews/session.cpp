// The session: logon through ResolveNames, the default folders, objects opened by entry ID.
#include "base/mapi_error.h"
#include "base/url_origin.h"
#include "mailbox/ews/ews_session.h"
#include "mailbox/ews/objects.h"
#include "mailbox/ews/read_cache.h"
#include "mailbox/ews/service_url.h"
#include "mailbox/model/const_mapi.h"

namespace oa::ews {

using namespace oa::mailbox::ConstMAPI;

namespace {

constexpr int32_t PR_STORE_ENTRYID = 0x0FFB0102;

std::string StoreEntryIDIn(const FolderData& folder) {
  auto it = folder.props.find(PR_STORE_ENTRYID);
  if (it == folder.props.end() || !it->second.IsArray()) return "";
  std::vector<uint8_t> bytes;
  for (const Variant& b : it->second.AsArray()) bytes.push_back(b.AsByte());
  return HexEncode(bytes);
}

// Proves access to the mailbox and learns both stores' entry IDs in one GetFolder: the top of
// the mailbox's folders and of the public folders. The public folders are a warning at most:
// a server without them (or without access to them) answers that folder alone with an error,
// which is kept as the reason the public folders' store cannot be found.
bool ReadStores(Core& core) {
  auto req = core.NewRequest("GetFolder");
  core.AppendFolderShape(req->op(), "m:FolderShape", {PR_STORE_ENTRYID});
  auto ids = req->op().append_child("m:FolderIds");
  FolderRef top;
  top.distinguished = "msgfolderroot";
  FolderRef publicTop;
  publicTop.distinguished = "publicfoldersroot";
  publicTop.isPublic = true;
  core.AppendFolderId(ids, top);
  core.AppendFolderId(ids, publicTop);
  auto r = core.SendOne(*req);
  if (!r) return false;
  std::string entryIDs[2];
  for (size_t k = 0; k < 2 && k < r->messages.size(); ++k) {
    const ResponseMessage& m = r->messages[k];
    const bool isPublic = k == 1;
    auto element = Child(m.node, "Folders").find_child([](pugi::xml_node n) {
      return n.type() == pugi::node_element;
    });
    if (!m.ok() || !element) continue;
    FolderData f = core.ReadFolder(element, isPublic, {PR_STORE_ENTRYID});
    core.cache().NoteFolder(f.ref.id, isPublic, f.parent ? f.parent->id : "", true);
    entryIDs[k] = StoreEntryIDIn(f);
  }
  if (!entryIDs[0].empty()) core.Store(false)->Remember(entryIDs[0]);
  if (!entryIDs[1].empty()) {
    core.Store(true)->Remember(entryIDs[1]);
  } else if (r->messages.size() > 1 && !r->messages[1].ok() &&
             !IsThrottlingCode(r->messages[1].code)) {
    // A busy answer is no answer: the public folders are asked again when they are needed.
    oa::ErrScope keep;
    RaiseMessage(r->messages[1]);
    core.NotePublicStoreMissing(Err());
  }
  return true;
}

const char* DistinguishedName(int32_t folderType) {
  switch (folderType) {
    case olPublicFoldersAllPublicFolders:
      return "publicfoldersroot";
    case olFolderInbox:
      return "inbox";
    case olFolderDeletedItems:
      return "deleteditems";
    default:
      return nullptr;
  }
}

}  // namespace

EwsSession::~EwsSession() {
  if (core_) core_->End();
}

long EwsSession::RequestsSent() const {
  return earlierRequests_ + (core_ ? core_->client().requestsSent() : 0);
}

void EwsSession::LogonExchangeMailbox(const std::string& mailbox, const std::string& server) {
  if (core_) {
    earlierRequests_ += core_->client().requestsSent();
    core_->End();
    core_.reset();
  }
  std::string error;
  auto url = ServiceUrl(server, &error);
  if (!url) {
    Err().Raise(MAPI_E_LOGON_FAILED, error);
    return;
  }
  const std::optional<UrlOrigin> origin = OriginOf(*url);
  const EwsOptions settings = settings_->ForLogon(origin ? origin->host : "");
  auto client = std::make_unique<Client>(ClientOptionsFor(*url, settings), waiter_);

  // The mailbox text as the service account sees it: its primary address and display name.
  auto req = client->NewRequest("ResolveNames");
  req->op().append_attribute("ReturnFullContactData") = "false";
  AddText(req->op(), "m:UnresolvedEntry", mailbox);
  auto r = client->Call(*req);
  if (!r) return;
  const ResponseMessage& m = r->messages.front();
  auto resolution = Child(Child(m.node, "ResolutionSet"), "Resolution");
  auto box = Child(resolution, "Mailbox");
  std::string smtp = ChildText(box, "EmailAddress");
  if (smtp.empty()) {
    if (!m.ok()) {
      RaiseMessage(m);
    } else {
      Err().Raise(MAPI_E_NOT_FOUND, "The mailbox could not be resolved to an address.");
    }
    return;
  }
  std::string name = ChildText(box, "Name");
  if (settings.impersonate) client->SetImpersonation(smtp);

  auto core = std::make_shared<Core>(std::move(client), smtp, name.empty() ? smtp : name);
  if (!ReadStores(*core)) {
    earlierRequests_ += core->client().requestsSent();
    return;
  }
  core->client().SetStopCheck([weak = std::weak_ptr<Core>(core)] {
    auto c = weak.lock();
    return !c || c->ended();
  });
  core_ = std::move(core);
}

bool EwsSession::LoggedOn() {
  return core_ && !core_->ended();
}

void EwsSession::Logoff() {
  if (core_) core_->End();
}

void EwsSession::SendHeldBack() {
  if (core_ && !core_->ended()) core_->SendQueuedDeletes();
}

bool EwsSession::Ready() {
  if (core_) return core_->Alive();
  Err().Raise(MAPI_E_NOT_INITIALIZED, "The session is not logged on.");
  return false;
}

std::shared_ptr<oa::mailbox::RDOStores> EwsSession::Stores() {
  if (!Ready()) return nullptr;
  return std::make_shared<EwsStores>(core_);
}

std::shared_ptr<oa::mailbox::RDOFolder> EwsSession::GetDefaultFolder(int32_t folderType) {
  if (!Ready()) return nullptr;
  const char* name = DistinguishedName(folderType);
  if (!name) {
    Err().Raise(MAPI_E_INVALID_PARAMETER, "That default folder is not known.");
    return nullptr;
  }
  FolderRef ref;
  ref.distinguished = name;
  ref.isPublic = folderType == olPublicFoldersAllPublicFolders;
  auto data = core_->GetFolder(ref);
  if (!data) return nullptr;
  return std::make_shared<EwsFolder>(core_, std::move(*data), true);
}

bool EwsSession::IsPublicStoreID(const std::string& storeID) {
  if (storeID.empty()) return false;
  auto hex = CheckedHex(storeID);
  if (!hex) return false;
  oa::ErrScope keep;
  if (core_->Store(false)->EntryID() == *hex) return false;
  return core_->Store(true)->EntryID() == *hex;
}

std::shared_ptr<oa::mailbox::RDOMail> EwsSession::GetMessageFromID(const std::string& entryID,
                                                                   const std::string& storeID) {
  if (!Ready()) return nullptr;
  if (!storeID.empty() && !CheckedHex(storeID)) return nullptr;
  if (IsPublicStoreID(storeID)) {
    auto data = core_->GetPublicItem(entryID);
    if (!data) return nullptr;
    return std::make_shared<EwsMail>(core_, std::move(*data));
  }
  auto ews = core_->EwsFromHex(entryID, false);
  if (!ews) return nullptr;
  // A message opened by entry ID is mostly opened for its named properties.
  auto data = core_->GetItem(*ews, false, core_->named().AllStringTags());
  if (!data) return nullptr;
  return std::make_shared<EwsMail>(core_, std::move(*data));
}

std::shared_ptr<oa::mailbox::RDOFolder> EwsSession::GetFolderFromID(const std::string& entryID,
                                                                    const std::string& storeID) {
  if (!Ready()) return nullptr;
  if (!storeID.empty() && !CheckedHex(storeID)) return nullptr;
  const bool isPublic = IsPublicStoreID(storeID);
  auto ews = core_->EwsFromHex(entryID, isPublic);
  if (!ews) return nullptr;
  FolderRef ref;
  ref.id = *ews;
  ref.isPublic = isPublic;
  auto data = core_->GetFolder(ref);
  if (!data) return nullptr;
  return std::make_shared<EwsFolder>(core_, std::move(*data), true);
}

std::shared_ptr<oa::mailbox::RDOSession> NewEwsSession(std::shared_ptr<LogonSettings> settings,
                                                       std::shared_ptr<remote::Waiter> waiter) {
  return std::make_shared<EwsSession>(std::move(settings), std::move(waiter));
}

}  // namespace oa::ews
