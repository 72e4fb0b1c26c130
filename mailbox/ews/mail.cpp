// Messages: GetItem, UpdateItem (SetItemField, AlwaysOverwrite, SaveOnly), DeleteItem.
#include <set>

#include "base/mapi_error.h"
#include "mailbox/ews/objects.h"
#include "mailbox/ews/read_cache.h"
#include "mailbox/model/const_mapi.h"

namespace oa::ews {

using namespace oa::mailbox::ConstMAPI;

bool EwsMail::LoadBasics() {
  auto complete = [](const ItemData& d) { return d.itemClass && d.subject && d.created; };
  if (complete(data_)) return true;
  if (data_.page) {
    auto listed = core_->ListedBasics(*data_.page, data_.id, data_.isPublic);
    if (listed && complete(*listed)) {
      data_.itemClass = listed->itemClass;
      data_.subject = listed->subject;
      data_.created = listed->created;
      data_.element = listed->element;
      return true;
    }
  }
  auto fresh = core_->GetItem(data_.id, data_.isPublic);
  if (!fresh) return false;
  fresh->props.insert(data_.props.begin(), data_.props.end());
  fresh->page = data_.page;
  if (fresh->folderId.empty()) fresh->folderId = data_.folderId;
  data_ = std::move(*fresh);
  return true;
}

std::string EwsMail::EntryID() {
  if (!core_->Alive()) return "";
  // Known once its page has been converted: one lookup, not the page's.
  if (auto known = core_->KnownHex(data_.id, data_.isPublic)) return *known;
  if (data_.page) {
    // One ConvertId for the whole page: emptying a folder asks every item for its entry ID.
    const auto& ids = data_.page->ids;
    auto all = core_->HexFromEws(ids, data_.isPublic);
    for (size_t i = 0; i < ids.size(); ++i) {
      if (ids[i] == data_.id && all[i]) return *all[i];
    }
  }
  return core_->HexFromEws(data_.id, data_.isPublic).value_or("");
}

int32_t EwsMail::GetIDsFromNames(const std::string& guid, const std::string& name) {
  if (!core_->Alive()) return 0;
  int32_t id = core_->named().IdFor(guid.empty() ? PS_PUBLIC_STRINGS : guid, name);
  if (!id) {
    Err().Raise(MAPI_E_INVALID_PARAMETER, "The property set or name is not valid.");
    return 0;
  }
  return static_cast<int32_t>(static_cast<uint32_t>(id) << 16);
}

// The IDs are the session's own: giving one out writes nothing to the server.
int32_t EwsMail::LookupIDsFromNames(const std::string& guid, const std::string& name) {
  return GetIDsFromNames(guid, name);
}

bool EwsMail::ReadProps(const std::vector<int32_t>& tags) {
  auto fresh = core_->GetItem(data_.id, data_.isPublic, tags);
  if (!fresh) return false;
  for (auto& [tag, value] : fresh->props) data_.props[tag] = value;
  return true;
}

bool EwsMail::SavePending() {
  // Whatever the answer, what the session read of the item may be old now.
  core_->cache().ItemChanged(data_.id, data_.isPublic);
  auto req = core_->NewRequest("UpdateItem");
  req->op().append_attribute("ConflictResolution") = "AlwaysOverwrite";
  req->op().append_attribute("MessageDisposition") = "SaveOnly";
  auto change = req->op().append_child("m:ItemChanges").append_child("t:ItemChange");
  change.append_child("t:ItemId").append_attribute("Id") = data_.id.c_str();
  auto updates = change.append_child("t:Updates");
  for (const auto& [tag, value] : pendingFields_) {
    auto set = updates.append_child("t:SetItemField");
    if (!AppendPropertyPath(set, tag, core_->named())) {
      Err().Raise(MAPI_E_INVALID_PARAMETER, "The property cannot be written.");
      return false;
    }
    auto prop = set.append_child(data_.element.c_str()).append_child("t:ExtendedProperty");
    AppendPropertyPath(prop, tag, core_->named());
    AddText(prop, "t:Value", ValueText(value, tag).value_or(""));
  }
  auto r = core_->SendOne(*req);
  if (!r) return false;
  for (auto& [tag, value] : pendingFields_) data_.props[tag] = value;
  pendingFields_.clear();
  return true;
}

std::shared_ptr<oa::mailbox::RDOStore> EwsMail::Store() {
  if (!core_->Alive()) return nullptr;
  return core_->Store(data_.isPublic);
}

void EwsMail::Delete(int32_t flags) {
  if (!core_->Alive()) return;
  const char* type = flags == dfHardDelete           ? "HardDelete"
                     : flags == dfMoveToDeletedItems ? "MoveToDeletedItems"
                                                     : "SoftDelete";
  if (queueDelete_) {
    core_->QueueDelete(data_.id, type);
    return;
  }
  core_->cache().ItemChanged(data_.id, data_.isPublic);
  auto req = core_->NewDeleteRequest(type);
  req->op().append_child("m:ItemIds").append_child("t:ItemId").append_attribute("Id") =
      data_.id.c_str();
  auto r = core_->Send(*req);
  if (!r) return;
  const ResponseMessage& m = r->messages.front();
  // Gone either way: the collections that list it drop it.
  if (m.ok() || m.code == "ErrorItemNotFound") core_->ItemDeleted(data_.id);
  if (!m.ok()) RaiseMessage(m);
}

}  // namespace oa::ews
