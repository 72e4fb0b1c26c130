// The session: sign-in, the mailbox text resolved to its user, objects opened by entry ID.
#include "base/mapi_error.h"
#include "mailbox/graph/codec.h"
#include "mailbox/graph/graph_options.h"
#include "mailbox/graph/graph_session.h"
#include "mailbox/graph/objects.h"
#include "mailbox/model/const_mapi.h"

namespace oa::graph {

using namespace oa::mailbox::ConstMAPI;

namespace {

constexpr int32_t PR_STORE_ENTRYID = 0x0FFB0102;

std::string HostOf(const std::string& url) {
  size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  std::string host = url.substr(start, url.find_first_of(":/", start) - start);
  for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return host;
}

// The national clouds' Graph hosts: they lack permanentDelete, without which a delete would move
// every item into Deleted Items instead of removing it.
bool NationalCloud(const std::string& host) {
  return host == "graph.microsoft.us" || host == "dod-graph.microsoft.us" ||
         host == "microsoftgraph.chinacloudapi.cn" || host == "graph.microsoft.de";
}

// An OData string literal: quotes doubled.
std::string Literal(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

bool Refuse(const std::string& why) {
  Err().Raise(MAPI_E_LOGON_FAILED, why);
  return false;
}

bool CheckSettings(const GraphOptions& o, const std::string& tenant) {
  if (tenant.empty())
    return Refuse(
        "Microsoft Graph needs the tenant: give the server as graph:TENANT, or set it with "
        "--graph-tenant, tenant in [graph] or OA_GRAPH_TENANT.");
  if (o.clientId.empty())
    return Refuse(
        "Microsoft Graph needs the application (client) ID: set it with --graph-client-id, "
        "client-id in [graph] or OA_GRAPH_CLIENT_ID.");
  if (o.certFile.empty() && o.certThumbprint.empty() && o.clientSecret.empty())
    return Refuse(
        "Microsoft Graph needs a credential: a certificate (--graph-certificate, certificate in "
        "[graph] or OA_GRAPH_CERTIFICATE) or a client secret file (--graph-secret-file, "
        "secret-file in [graph] or OA_GRAPH_SECRET_FILE).");
  const std::string host = HostOf(o.graphUrl);
  if (NationalCloud(host))
    return Refuse("Microsoft Graph at " + host +
                  " is a national cloud, which has no permanentDelete for messages and folders; "
                  "this program deletes only through permanentDelete, so it works only with the "
                  "global service (graph.microsoft.com).");
  return true;
}

}  // namespace

void GraphSession::SendHeldBack() {
  if (core_ && !core_->ended()) core_->SendQueuedDeletes();
}

GraphSession::~GraphSession() {
  if (core_) core_->End();
}

void GraphSession::LogonExchangeMailbox(const std::string& mailbox, const std::string& server) {
  if (core_) {
    earlier_ += core_->client().requestsSent();
    core_->End();
    core_.reset();
  }
  const GraphOptions& o = options_;
  std::string tenant = GraphServerTenant(server).value_or("");
  if (tenant.empty()) tenant = o.tenant;
  if (!CheckSettings(o, tenant)) return;
  if (mailbox.empty()) {
    Err().Raise(MAPI_E_NOT_FOUND, "No mailbox was given.");
    return;
  }
  auto client = std::make_unique<Client>(o, tenant, waiter_);
  auto count = [&] { earlier_ += client->requestsSent(); };
  if (!client->SignIn()) return count();

  // The mailbox text as the tenant knows it: a user principal name, an SMTP address or an alias.
  const std::string select = "$select=id,displayName,mail,userPrincipalName";
  std::optional<json> user;
  if (mailbox.find('@') != std::string::npos) {
    user = client->Call("GET", "/users/" + UrlEncode(mailbox) + "?" + select);
    if (!user && Err().Number() == MAPI_E_NO_ACCESS) {
      // Without User.Read.All the directory stays shut, but the mailbox is reached by its
      // address all the same; the address stands in for the owner's display name.
      user = json{{"id", mailbox}, {"mail", mailbox}};
      Err().Clear();
    } else if (!user && Err().Number() == MAPI_E_NOT_FOUND) {
      auto list = client->Call(
          "GET", "/users?$filter=" + UrlEncode("mail eq " + Literal(mailbox)) + "&" + select);
      if (list && (*list)["value"].is_array() && !(*list)["value"].empty())
        user = (*list)["value"][0];
      else if (list)
        Err().Raise(MAPI_E_NOT_FOUND, "No user has the address " + mailbox + ".");
    }
  } else {
    auto list = client->Call(
        "GET", "/users?$filter=" + UrlEncode("mailNickname eq " + Literal(mailbox)) + "&" + select);
    if (list && (*list)["value"].is_array() && !(*list)["value"].empty())
      user = (*list)["value"][0];
    else if (list)
      Err().Raise(MAPI_E_NOT_FOUND, "No user has the alias " + mailbox + ".");
  }
  if (!user || !user->is_object() || !(*user)["id"].is_string()) {
    if (user) Err().Raise(MAPI_E_CALL_FAILED, "The service did not give the user's ID.");
    return count();
  }
  std::string name = user->value("displayName", "");
  if (name.empty()) name = user->value("mail", mailbox);
  const std::string id = (*user)["id"].get<std::string>();
  client->SetMailbox(id);
  auto core = std::make_shared<Core>(std::move(client), id, name);
  // Proves access to the mailbox and learns the store's entry ID on the way.
  auto top = core->GetFolder("msgfolderroot", {PR_STORE_ENTRYID});
  if (!top) {
    earlier_ += core->client().requestsSent();
    return;
  }
  core->ipmRootId() = top->id;
  const Variant& sid = top->props[PR_STORE_ENTRYID];
  if (sid.IsArray()) {
    std::vector<uint8_t> bytes;
    for (const Variant& b : sid.AsArray()) bytes.push_back(b.AsByte());
    core->storeEntryID() = HexEncode(bytes);
  }
  core->client().SetStopCheck([weak = std::weak_ptr<Core>(core)] {
    auto c = weak.lock();
    return !c || c->ended();
  });
  core_ = std::move(core);
}

bool GraphSession::Ready() {
  if (core_) return core_->Alive();
  Err().Raise(MAPI_E_NOT_INITIALIZED, "The session is not logged on.");
  return false;
}

std::shared_ptr<oa::mailbox::RDOStores> GraphSession::Stores() {
  if (!Ready()) return nullptr;
  return std::make_shared<GraphStores>(core_);
}

std::shared_ptr<oa::mailbox::RDOFolder> GraphSession::GetDefaultFolder(int32_t folderType) {
  if (!Ready()) return nullptr;
  const char* name = folderType == olFolderInbox          ? "inbox"
                     : folderType == olFolderDeletedItems ? "deleteditems"
                                                          : nullptr;
  if (folderType == olPublicFoldersAllPublicFolders) {
    Err().Raise(MAPI_E_NOT_FOUND, "Exchange Online has no public folders through Microsoft Graph.");
    return nullptr;
  }
  if (!name) {
    Err().Raise(MAPI_E_INVALID_PARAMETER, "That default folder is not known.");
    return nullptr;
  }
  auto data = core_->GetFolder(name);
  if (!data) return nullptr;
  return std::make_shared<GraphFolder>(core_, std::move(*data));
}

bool GraphSession::MailboxStoreID(const std::string& storeID) {
  if (storeID.empty()) return true;
  auto hex = CheckedHex(storeID);
  if (!hex) return false;
  std::string mine;
  {
    oa::ErrScope keep;
    mine = GraphStore(core_).EntryID();
  }
  if (mine == *hex) return true;
  Err().Raise(MAPI_E_NOT_FOUND, "The store ID names no store of this mailbox.");
  return false;
}

std::shared_ptr<oa::mailbox::RDOMail> GraphSession::GetMessageFromID(const std::string& entryID,
                                                                     const std::string& storeID) {
  if (!Ready()) return nullptr;
  if (!MailboxStoreID(storeID)) return nullptr;
  auto id = core_->GraphIdOf(entryID, Core::Kind::Message);
  if (!id) return nullptr;
  if (auto known = core_->ReadMailOf(*id)) return std::make_shared<GraphMail>(core_, *known);
  auto data = core_->GetMail(*id);
  if (!data) return nullptr;
  return std::make_shared<GraphMail>(core_, std::move(*data));
}

std::shared_ptr<oa::mailbox::RDOFolder> GraphSession::GetFolderFromID(const std::string& entryID,
                                                                      const std::string& storeID) {
  if (!Ready()) return nullptr;
  if (!MailboxStoreID(storeID)) return nullptr;
  auto id = core_->GraphIdOf(entryID, Core::Kind::Folder);
  if (!id) return nullptr;
  if (auto known = core_->ReadFolderOf(*id)) return std::make_shared<GraphFolder>(core_, *known);
  if (const std::string* answer = core_->NotFoundAnswer(*id)) {
    Err().Raise(MAPI_E_NOT_FOUND, *answer);
    return nullptr;
  }
  auto data = core_->GetFolder(*id);
  if (!data) {
    if (Err().Number() == MAPI_E_NOT_FOUND) core_->FolderNotFound(*id, Err().Description());
    return nullptr;
  }
  return std::make_shared<GraphFolder>(core_, std::move(*data));
}

// The message is read from the service, not from what the session keeps, as pointing the agent
// will read it once the run has changed the mailbox; the folder's entry ID as the service gave
// it in this generation, or read now. A refusal names the permission.
bool GraphSession::CheckRepointReads(const std::string& messageEntryID,
                                     oa::mailbox::RDOFolder& folder) {
  if (!Ready()) return false;
  const oa::ErrObject before = Err();
  Err().Clear();
  auto fail = [&](const std::string& what) {
    const std::string said = Err().Description();
    if (Err().Number() == MAPI_E_NO_ACCESS)
      Err().Raise(MAPI_E_NO_ACCESS, "Microsoft Graph refused to read " + what +
                                        ": the application needs the Mail.ReadWrite "
                                        "permission for this mailbox (" +
                                        said + ")");
    else if (!Err().Pending())
      Err().Raise(MAPI_E_NOT_FOUND, "Microsoft Graph gave no entry ID for " + what +
                                        ": the application needs the Mail.ReadWrite "
                                        "permission for this mailbox.");
    return false;
  };
  auto mailId = core_->GraphIdOf(messageEntryID, Core::Kind::Message);
  if (!mailId) return fail("the agent message");
  auto mail = core_->GetMail(*mailId);
  auto wanted = CheckedHex(messageEntryID);
  if (!mail || !mail->entryID || mail->entryID != wanted) return fail("the agent message");
  const std::string folderEntryID = folder.EntryID();
  if (folderEntryID.empty()) return fail("the folder");
  auto folderId = core_->GraphIdOf(folderEntryID, Core::Kind::Folder);
  if (!folderId) return fail("the folder");
  // A folder the service has just given with its entry ID proves the read as a fresh one would.
  auto data = core_->ReadFolderOf(*folderId);
  if (!data) data = core_->GetFolder(*folderId);
  if (!data || data->entryID != folderEntryID) return fail("the folder");
  Err() = before;
  return true;
}

std::shared_ptr<oa::mailbox::RDOSession> NewGraphSession(GraphOptions options,
                                                         std::shared_ptr<remote::Waiter> waiter) {
  return std::make_shared<GraphSession>(std::move(options), std::move(waiter));
}

}  // namespace oa::graph
