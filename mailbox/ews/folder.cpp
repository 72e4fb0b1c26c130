// Folders: GetFolder, UpdateFolder, DeleteFolder; child folders: FindFolder and CreateFolder.
#include "base/mapi_error.h"
#include "base/text_fold.h"
#include "mailbox/ews/objects.h"
#include "mailbox/ews/read_cache.h"
#include "mailbox/model/const_mapi.h"

namespace oa::ews {

using namespace oa::mailbox::ConstMAPI;

namespace {

int32_t IdOfName(NamedPropMap& named, const std::string& guid, const std::string& name) {
  int32_t id = named.IdFor(guid.empty() ? PS_PUBLIC_STRINGS : guid, name);
  if (!id) {
    Err().Raise(MAPI_E_INVALID_PARAMETER, "The property set or name is not valid.");
    return 0;
  }
  return static_cast<int32_t>(static_cast<uint32_t>(id) << 16);
}

}  // namespace

EwsFolder::EwsFolder(std::shared_ptr<Core> core, FolderData data, bool readAlone)
    : core_(std::move(core)), data_(std::move(data)) {
  if (readAlone) countReadAt_ = core_->cache().changes();
}

bool EwsFolder::Load() {
  if (loaded_ || (!data_.ref.id.empty() && data_.name && data_.parent)) return true;
  auto fresh = core_->GetFolder(data_.ref);
  if (!fresh) return false;
  fresh->props.insert(data_.props.begin(), data_.props.end());
  data_ = std::move(*fresh);
  loaded_ = true;
  countReadAt_ = core_->cache().changes();
  return true;
}

std::string EwsFolder::EntryID() {
  if (!core_->Alive()) return "";
  if (data_.ref.id.empty() && !Load()) return "";
  return core_->HexFromEws(data_.ref.id, data_.ref.isPublic).value_or("");
}

int32_t EwsFolder::GetIDsFromNames(const std::string& guid, const std::string& name) {
  if (!core_->Alive()) return 0;
  return IdOfName(core_->named(), guid, name);
}

// The IDs are the session's own: giving one out writes nothing to the server.
int32_t EwsFolder::LookupIDsFromNames(const std::string& guid, const std::string& name) {
  return GetIDsFromNames(guid, name);
}

Variant EwsFolder::Fields(int32_t propTag) {
  if (!core_->Alive()) return {};
  if (auto it = pendingFields_.find(propTag); it != pendingFields_.end()) return it->second;
  if (propTag == PR_DISPLAY_NAME) return Variant::String(Name());
  if (auto it = data_.props.find(propTag); it != data_.props.end()) return it->second;
  auto fresh = core_->GetFolder(data_.ref, {propTag});
  if (!fresh) return {};
  data_.props[propTag] = fresh->props[propTag];
  return data_.props[propTag];
}

bool EwsFolder::SetFields(int32_t propTag, const Variant& value) {
  return core_->Alive() && StageField(pendingFields_, propTag, value);
}

bool EwsFolder::Save() {
  if (!core_->Alive()) return false;
  if (!pendingName_ && pendingFields_.empty()) return true;
  if (data_.ref.id.empty() && !Load()) return false;
  // Whatever the answer, the folder may have changed.
  core_->cache().Changed();
  auto req = core_->NewRequest("UpdateFolder");
  auto change = req->op().append_child("m:FolderChanges").append_child("t:FolderChange");
  core_->AppendFolderId(change, data_.ref);
  auto updates = change.append_child("t:Updates");
  if (pendingName_) {
    auto set = updates.append_child("t:SetFolderField");
    set.append_child("t:FieldURI").append_attribute("FieldURI") = "folder:DisplayName";
    AddText(set.append_child(data_.element.c_str()), "t:DisplayName", *pendingName_);
  }
  for (const auto& [tag, value] : pendingFields_) {
    auto set = updates.append_child("t:SetFolderField");
    if (!AppendPropertyPath(set, tag, core_->named())) continue;
    auto prop = set.append_child(data_.element.c_str()).append_child("t:ExtendedProperty");
    AppendPropertyPath(prop, tag, core_->named());
    AddText(prop, "t:Value", ValueText(value, tag).value_or(""));
  }
  auto r = core_->SendOne(*req);
  if (!r) return false;
  if (pendingName_) data_.name = *pendingName_;
  for (auto& [tag, value] : pendingFields_) data_.props[tag] = value;
  pendingName_.reset();
  pendingFields_.clear();
  return true;
}

std::string EwsFolder::Name() {
  if (!core_->Alive()) return "";
  if (!data_.name && !Load()) return "";
  return data_.name.value_or("");
}

bool EwsFolder::SetName(const std::string& name) {
  if (!core_->Alive()) return false;
  pendingName_ = name;
  return true;
}

std::shared_ptr<oa::mailbox::RDOFolder> EwsFolder::Parent() {
  if (!core_->Alive()) return nullptr;
  if (!data_.parent && !Load()) return nullptr;
  if (!data_.parent || (data_.parent->id.empty() && data_.parent->distinguished.empty())) {
    Err().Raise(MAPI_E_NOT_FOUND, "The folder has no parent folder.");
    return nullptr;
  }
  FolderData parent;
  parent.ref = *data_.parent;
  return std::make_shared<EwsFolder>(core_, parent);
}

std::shared_ptr<oa::mailbox::RDOStore> EwsFolder::Store() {
  if (!core_->Alive()) return nullptr;
  return core_->Store(data_.ref.isPublic);
}

std::shared_ptr<oa::mailbox::RDOItems> EwsFolder::Items() {
  if (!core_->Alive()) return nullptr;
  auto items = std::make_shared<EwsItems>(core_, data_.ref);
  if (data_.totalCount && countReadAt_ && *countReadAt_ == core_->cache().changes())
    items->KnowCount(*data_.totalCount);
  core_->AddListener(items);
  return items;
}

std::shared_ptr<oa::mailbox::RDOFolders> EwsFolder::Folders() {
  if (!core_->Alive()) return nullptr;
  return std::make_shared<EwsFolders>(core_, data_.ref);
}

void EwsFolder::Delete() {
  if (!core_->Alive()) return;
  auto req = core_->NewRequest("DeleteFolder");
  req->op().append_attribute("DeleteType") = "HardDelete";
  core_->AppendFolderId(req->op().append_child("m:FolderIds"), data_.ref);
  const bool deleted = core_->SendOne(*req).has_value();
  // A delete that failed may have gone part of the way.
  core_->cache().FolderDeleted(data_.ref.id, data_.ref.isPublic, deleted);
}

std::optional<std::vector<FolderData>> EwsFolders::Find(const std::string* name) {
  std::vector<FolderData> out;
  // Folder trees are small; the page size only bounds one answer.
  constexpr int kPage = 1000;
  for (int offset = 0, pages = 0; pages < 100; ++pages) {
    auto req = core_->NewRequest("FindFolder");
    req->op().append_attribute("Traversal") = "Shallow";
    core_->AppendFolderShape(req->op(), "m:FolderShape", {});
    auto view = req->op().append_child("m:IndexedPageFolderView");
    view.append_attribute("MaxEntriesReturned") = kPage;
    view.append_attribute("Offset") = offset;
    view.append_attribute("BasePoint") = "Beginning";
    if (name) {
      auto contains = req->op().append_child("m:Restriction").append_child("t:Contains");
      contains.append_attribute("ContainmentMode") = "FullString";
      contains.append_attribute("ContainmentComparison") = "IgnoreCase";
      contains.append_child("t:FieldURI").append_attribute("FieldURI") = "folder:DisplayName";
      contains.append_child("t:Constant").append_attribute("Value") = name->c_str();
    }
    core_->AppendFolderId(req->op().append_child("m:ParentFolderIds"), parent_);
    auto r = core_->SendOne(*req);
    if (!r) return std::nullopt;
    auto root = Child(r->messages.front().node, "RootFolder");
    int got = 0;
    for (auto f = Child(root, "Folders").first_child(); f; f = f.next_sibling()) {
      if (f.type() != pugi::node_element) continue;
      FolderData d = core_->ReadFolder(f, parent_.isPublic, {});
      if (!d.parent) d.parent = parent_;
      core_->cache().NoteFolder(d.ref.id, d.ref.isPublic, d.parent->id, false);
      // The parent named as a distinguished folder shows its ID in its children.
      if (!parent_.distinguished.empty())
        core_->cache().NoteFolder(d.parent->id, parent_.isPublic, "", true);
      out.push_back(std::move(d));
      ++got;
    }
    if (Attr(root, "IncludesLastItemInRange") != "false" || got == 0) break;
    offset += got;
  }
  return out;
}

bool EwsFolders::LoadAll() {
  if (all_) return true;
  all_ = Find(nullptr);
  return all_.has_value();
}

int32_t EwsFolders::Count() {
  if (!core_->Alive() || !LoadAll()) return 0;
  return static_cast<int32_t>(all_->size());
}

std::shared_ptr<oa::mailbox::RDOFolder> EwsFolders::Item(int32_t index) {
  if (!core_->Alive() || !LoadAll()) return nullptr;
  if (index < 1 || index > static_cast<int32_t>(all_->size())) {
    Err().Raise(MAPI_E_NOT_FOUND, "There is no folder at that position.");
    return nullptr;
  }
  return std::make_shared<EwsFolder>(core_, (*all_)[static_cast<size_t>(index - 1)]);
}

std::shared_ptr<oa::mailbox::RDOFolder> EwsFolders::Item(const std::string& name) {
  if (!core_->Alive()) return nullptr;
  auto found = Find(&name);
  if (!found) return nullptr;
  const std::string wanted = text::Fold(name);
  for (auto& d : *found) {
    if (d.name && text::Fold(*d.name) == wanted) return std::make_shared<EwsFolder>(core_, d);
  }
  return nullptr;
}

std::shared_ptr<oa::mailbox::RDOFolder> EwsFolders::Add(const std::string& name) {
  if (!core_->Alive()) return nullptr;
  core_->cache().Changed();
  auto req = core_->NewRequest("CreateFolder");
  core_->AppendFolderId(req->op().append_child("m:ParentFolderId"), parent_);
  AddText(req->op().append_child("m:Folders").append_child("t:Folder"), "t:DisplayName", name);
  auto r = core_->SendOne(*req);
  if (!r) return nullptr;
  all_.reset();
  auto element = Child(r->messages.front().node, "Folders").first_child();
  FolderData d = core_->ReadFolder(element, parent_.isPublic, {});
  if (d.ref.id.empty()) {
    Err().Raise(MAPI_E_CALL_FAILED, "The server did not give the new folder's ID.");
    return nullptr;
  }
  d.name = name;
  d.parent = parent_;
  core_->cache().NoteFolder(d.ref.id, d.ref.isPublic, parent_.id, false);
  return std::make_shared<EwsFolder>(core_, d);
}

}  // namespace oa::ews
