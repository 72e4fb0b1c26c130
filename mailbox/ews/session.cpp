// The session: logon through ResolveNames, the default folders, objects opened by entry ID.
#include <unistd.h>

#include <mutex>

#include "base/mapi_error.h"
#include "mailbox/ews/ews_options.h"
#include "mailbox/ews/ews_session.h"
#include "mailbox/ews/objects.h"
#include "mailbox/ews/service_url.h"
#include "mailbox/model/const_mapi.h"

namespace oa::ews {

using namespace oa::mailbox::ConstMAPI;
using oa::mailbox::Err;

namespace {

constexpr int32_t PR_STORE_ENTRYID = 0x0FFB0102;

// The settings for one logon. A user set without a password and without a netrc file to find
// it in is asked for it once; the answer is kept for the logons that follow.
EwsOptions SettingsForLogon() {
  // Parallel jobs log on at once; the password is asked for once.
  static std::mutex mu;
  std::lock_guard lock(mu);
  EwsOptions o = CurrentEwsOptions();
  if (o.user.empty() || !o.password.empty() || !o.askPassword) return o;
  if (!o.netrcFile.empty() && access(o.netrcFile.c_str(), R_OK) == 0) return o;
  auto ask = std::move(o.askPassword);
  o.askPassword = nullptr;
  if (auto password = ask(o.user)) o.password = std::move(*password);
  SetEwsOptions(o);
  return o;
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
  const EwsOptions settings = SettingsForLogon();
  auto client = std::make_unique<Client>(ClientOptionsFor(*url, settings));

  // The mailbox text as the service account sees it: its primary address and display name.
  auto req = client->NewRequest("ResolveNames");
  req->op().append_attribute("ReturnFullContactData") = "false";
  AddText(req->op(), "m:UnresolvedEntry", mailbox);
  auto r = CallServer(*client, *req);
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
  // Proves access to the mailbox and learns the store's entry ID on the way.
  FolderRef top;
  top.distinguished = "msgfolderroot";
  auto folder = core->GetFolder(top, {PR_STORE_ENTRYID});
  if (!folder) {
    earlierRequests_ += core->client().requestsSent();
    return;
  }
  const Variant& id = folder->props[PR_STORE_ENTRYID];
  if (id.IsArray()) {
    std::vector<uint8_t> bytes;
    for (const Variant& b : id.AsArray()) bytes.push_back(b.AsByte());
    core->Store(false)->Remember(HexEncode(bytes));
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
  return std::make_shared<EwsFolder>(core_, std::move(*data));
}

bool EwsSession::IsPublicStoreID(const std::string& storeID) {
  if (storeID.empty()) return false;
  auto hex = CheckedHex(storeID);
  if (!hex) return false;
  oa::mailbox::ErrScope keep;
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
  auto data = core_->GetItem(*ews, false);
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
  return std::make_shared<EwsFolder>(core_, std::move(*data));
}

std::shared_ptr<oa::mailbox::RDOSession> NewEwsSession() {
  return std::make_shared<EwsSession>();
}

}  // namespace oa::ews
