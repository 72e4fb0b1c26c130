// Stores and folders: well-known folders, child folders by name, create, rename, permanentDelete.
#include "base/mapi_error.h"
#include "base/text_fold.h"
#include "mailbox/graph/codec.h"
#include "mailbox/graph/objects.h"
#include "mailbox/model/const_mapi.h"

namespace oa::graph {

using namespace oa::mailbox::ConstMAPI;

namespace {

constexpr int32_t PR_STORE_ENTRYID = 0x0FFB0102;
const char* kFolderSelect = "$select=id,displayName,parentFolderId,totalItemCount";

std::string Literal(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

FolderData FolderAt(const std::string& id) {
  FolderData d;
  d.id = id;
  return d;
}

// The extended properties of a PATCH body.
json PropertiesBody(const std::map<int32_t, Variant>& fields) {
  json list = json::array();
  for (const auto& [tag, value] : fields)
    list.push_back(
        {{"id", ExtendedPropertyId(tag)}, {"value", ValueText(value, tag).value_or("")}});
  return list;
}

}  // namespace

std::string GraphStore::EntryID() {
  if (!core_->Alive()) return "";
  std::string& known = core_->storeEntryID();
  if (!known.empty()) return known;
  auto folder = core_->GetFolder("msgfolderroot", {PR_STORE_ENTRYID});
  if (!folder) return "";
  const std::vector<uint8_t> bytes = remote::BytesOf(folder->props[PR_STORE_ENTRYID]);
  if (bytes.empty()) {
    Err().Raise(MAPI_E_NOT_FOUND, "The service did not give the store's entry ID.");
    return "";
  }
  known = HexEncode(bytes);
  return known;
}

std::string GraphStore::Name() {
  return core_->Alive() ? core_->displayName() : "";
}

std::shared_ptr<oa::mailbox::RDOFolder> GraphStore::RootFolder() {
  if (!core_->Alive()) return nullptr;
  return std::make_shared<GraphFolder>(core_, FolderAt("root"));
}

std::shared_ptr<oa::mailbox::RDOFolder> GraphStore::IPMRootFolder() {
  if (!core_->Alive()) return nullptr;
  return std::make_shared<GraphFolder>(core_, FolderAt("msgfolderroot"));
}

// The entry IDs are the objects' own PR_ENTRYID: the same object has the same bytes.
bool GraphStore::CompareEntryIDs(const std::string& entryID1, const std::string& entryID2) {
  if (!core_->Alive()) return false;
  auto a = CheckedHex(entryID1);
  if (!a) return false;
  auto b = CheckedHex(entryID2);
  return b && *a == *b;
}

std::shared_ptr<oa::mailbox::RDOStore> GraphStores::DefaultStore() {
  if (!core_->Alive()) return nullptr;
  return std::make_shared<GraphStore>(core_);
}

std::shared_ptr<oa::mailbox::RDOStore> GraphStores::FindExchangePublicFoldersStore() {
  if (!core_->Alive()) return nullptr;
  Err().Raise(MAPI_E_NOT_FOUND, "Exchange Online has no public folders through Microsoft Graph.");
  return nullptr;
}

bool GraphFolder::Load() {
  // A folder listed or read by ID knows its name and parent; a well-known name knows neither.
  if (loaded_ || (data_.name && data_.parentId)) return true;
  auto fresh = core_->GetFolder(data_.id);
  if (!fresh) return false;
  fresh->props.insert(data_.props.begin(), data_.props.end());
  data_ = std::move(*fresh);
  loaded_ = true;
  return true;
}

std::string GraphFolder::EntryID() {
  if (!core_->Alive()) return "";
  if (data_.entryID) return *data_.entryID;
  auto fresh = core_->GetFolder(data_.id);
  if (!fresh) return "";
  if (!fresh->entryID) {
    Err().Raise(MAPI_E_NOT_FOUND,
                "Microsoft Graph gave no entry ID (PR_ENTRYID) for the folder; reading it needs "
                "the Mail.ReadWrite permission (Mail.ReadBasic reads no extended properties).");
    return "";
  }
  fresh->props.insert(data_.props.begin(), data_.props.end());
  data_ = std::move(*fresh);
  loaded_ = true;
  return *data_.entryID;
}

int32_t GraphFolder::GetIDsFromNames(const std::string& guid, const std::string& name) {
  return core_->Alive() ? IdsFromNames(guid, name) : 0;
}

Variant GraphFolder::Fields(int32_t propTag) {
  if (!core_->Alive()) return {};
  if (auto it = pendingFields_.find(propTag); it != pendingFields_.end()) return it->second;
  if (propTag == PR_DISPLAY_NAME) return Variant::String(Name());
  if (auto it = data_.props.find(propTag); it != data_.props.end()) return it->second;
  auto fresh = core_->GetFolder(data_.id, {propTag});
  if (!fresh) return {};
  data_.props[propTag] = fresh->props[propTag];
  return data_.props[propTag];
}

bool GraphFolder::SetFields(int32_t propTag, const Variant& value) {
  return core_->Alive() && StageField(pendingFields_, propTag, value);
}

bool GraphFolder::Save() {
  if (!core_->Alive()) return false;
  if (!pendingName_ && pendingFields_.empty()) return true;
  if (!Load()) return false;
  json body = json::object();
  if (pendingName_) body["displayName"] = *pendingName_;
  if (!pendingFields_.empty())
    body["singleValueExtendedProperties"] = PropertiesBody(pendingFields_);
  if (!core_->Call("PATCH", core_->User("/mailFolders/" + UrlEncode(data_.id)), &body))
    return false;
  if (pendingName_) data_.name = *pendingName_;
  for (auto& [tag, value] : pendingFields_) data_.props[tag] = value;
  pendingName_.reset();
  pendingFields_.clear();
  return true;
}

std::string GraphFolder::Name() {
  if (!core_->Alive()) return "";
  if (!data_.name && !Load()) return "";
  return data_.name.value_or("");
}

bool GraphFolder::SetName(const std::string& name) {
  if (!core_->Alive()) return false;
  pendingName_ = name;
  return true;
}

std::shared_ptr<oa::mailbox::RDOFolder> GraphFolder::Parent() {
  if (!core_->Alive()) return nullptr;
  if (!data_.parentId && !Load()) return nullptr;
  if (!data_.parentId || data_.parentId->empty()) {
    Err().Raise(MAPI_E_NOT_FOUND, "The folder has no parent folder.");
    return nullptr;
  }
  return std::make_shared<GraphFolder>(core_, FolderAt(*data_.parentId));
}

std::shared_ptr<oa::mailbox::RDOStore> GraphFolder::Store() {
  if (!core_->Alive()) return nullptr;
  return std::make_shared<GraphStore>(core_);
}

std::shared_ptr<oa::mailbox::RDOItems> GraphFolder::Items() {
  if (!core_->Alive()) return nullptr;
  const bool fresh = data_.readAt == core_->generation() && data_.entryID;
  auto items =
      std::make_shared<GraphItems>(core_, data_.id, fresh ? data_.total : std::optional<int32_t>());
  core_->AddListener(items);
  return items;
}

std::shared_ptr<oa::mailbox::RDOFolders> GraphFolder::Folders() {
  if (!core_->Alive()) return nullptr;
  return std::make_shared<GraphFolders>(core_, data_.id);
}

// permanentDelete, never DELETE: a plain DELETE moves the folder and all it holds into the
// user's Deleted Items.
void GraphFolder::Delete() {
  if (!core_->Alive() || !Load()) return;
  core_->DeleteFolder(data_.id);
}

std::optional<std::vector<FolderData>> GraphFolders::List(const std::string* name) {
  std::vector<FolderData> out;
  // Hidden folders too: the agent's folder below the root is one.
  std::string url = core_->User("/mailFolders/" + UrlEncode(parentId_) +
                                "/childFolders?includeHiddenFolders=true&$top=100&" +
                                kFolderSelect + Core::ExpandOf({}));
  if (name) url += "&$filter=" + UrlEncode("displayName eq " + Literal(*name));
  for (int pages = 0; pages < 1000 && !url.empty(); ++pages) {
    auto r = core_->Call("GET", url);
    if (!r) return std::nullopt;
    for (const json& f : r->value("value", json::array())) {
      if (!f.is_object()) continue;
      FolderData d = core_->TakeFolder(f);
      if (!d.parentId) d.parentId = parentId_;
      out.push_back(std::move(d));
    }
    url = r->value("@odata.nextLink", "");
  }
  return out;
}

int32_t GraphFolders::Count() {
  if (!core_->Alive()) return 0;
  if (!all_) all_ = List(nullptr);
  return all_ ? static_cast<int32_t>(all_->size()) : 0;
}

std::shared_ptr<oa::mailbox::RDOFolder> GraphFolders::Item(int32_t index) {
  if (!core_->Alive()) return nullptr;
  if (!all_) all_ = List(nullptr);
  if (!all_) return nullptr;
  if (index < 1 || index > static_cast<int32_t>(all_->size())) {
    Err().Raise(MAPI_E_NOT_FOUND, "There is no folder at that position.");
    return nullptr;
  }
  return std::make_shared<GraphFolder>(core_, (*all_)[static_cast<size_t>(index - 1)]);
}

std::shared_ptr<oa::mailbox::RDOFolder> GraphFolders::Item(const std::string& name) {
  if (!core_->Alive()) return nullptr;
  auto found = List(&name);
  if (!found) return nullptr;
  const std::string wanted = text::Fold(name);
  for (auto& d : *found)
    if (d.name && text::Fold(*d.name) == wanted) return std::make_shared<GraphFolder>(core_, d);
  return nullptr;
}

std::shared_ptr<oa::mailbox::RDOFolder> GraphFolders::Add(const std::string& name) {
  if (!core_->Alive()) return nullptr;
  json body = {{"displayName", name}};
  // A new, empty folder changes no message the run has read.
  auto r = core_->CallKeepingMessages(
      "POST", core_->User("/mailFolders/" + UrlEncode(parentId_) + "/childFolders"), &body);
  if (!r) return nullptr;
  all_.reset();
  FolderData d = core_->TakeFolder(*r);
  if (d.id.empty()) {
    Err().Raise(MAPI_E_CALL_FAILED, "The service did not give the new folder's ID.");
    return nullptr;
  }
  d.name = name;
  if (!d.parentId) d.parentId = parentId_;
  return std::make_shared<GraphFolder>(core_, d);
}

}  // namespace oa::graph
