// A folder's messages: pages of IDs, the count from totalItemCount kept in step with this
// session's deletions; messages read, patched and permanently deleted.
#include "base/mapi_error.h"
#include "mailbox/graph/codec.h"
#include "mailbox/graph/objects.h"
#include "mailbox/model/const_mapi.h"

namespace oa::graph {

using namespace oa::mailbox::ConstMAPI;

std::optional<int32_t> GraphItems::ReadCount() {
  auto folder = core_->GetFolder(folderId_);
  if (!folder) return std::nullopt;
  if (!folder->total)
    Err().Raise(MAPI_E_CALL_FAILED, "The service did not give the folder's item count.");
  return folder->total;
}

bool GraphItems::ReadPage(int32_t offset, std::deque<MailData>& rows) {
  auto r = core_->Call("GET",
                       core_->User("/mailFolders/" + UrlEncode(folderId_) +
                                   "/messages?$top=" + std::to_string(kPageSize) +
                                   "&$skip=" + std::to_string(offset) + "&" + Core::MailQuery({})));
  if (!r) return false;
  for (const json& m : r->value("value", json::array())) {
    if (!m.is_object()) continue;
    rows.push_back(core_->TakeMail(m, folderId_));
  }
  return true;
}

std::shared_ptr<oa::mailbox::RDOMail> GraphItems::Item(int32_t index) {
  const MailData* row = RowAt(index);
  return row ? std::make_shared<GraphMail>(core_, *row, true) : nullptr;
}

bool GraphMail::LoadBasics() {
  if (data_.itemClass && data_.subject && data_.created) return true;
  auto fresh = core_->GetMail(data_.id);
  if (!fresh) return false;
  fresh->props.insert(data_.props.begin(), data_.props.end());
  if (!fresh->entryID) fresh->entryID = data_.entryID;
  data_ = std::move(*fresh);
  return true;
}

std::string GraphMail::EntryID() {
  if (!core_->Alive()) return "";
  if (data_.entryID) return *data_.entryID;
  auto fresh = core_->GetMail(data_.id);
  if (!fresh) return "";
  if (!fresh->entryID) {
    Err().Raise(MAPI_E_NOT_FOUND,
                "Microsoft Graph gave no entry ID (PR_ENTRYID) for the message; reading it needs "
                "the Mail.ReadWrite permission (Mail.ReadBasic reads no extended properties).");
    return "";
  }
  data_.entryID = fresh->entryID;
  return *data_.entryID;
}

int32_t GraphMail::GetIDsFromNames(const std::string& guid, const std::string& name) {
  return core_->Alive() ? IdsFromNames(guid, name) : 0;
}

std::vector<int32_t> GraphMail::KnownNamedTags() {
  return NamedStringTags();
}

bool GraphMail::ReadProps(const std::vector<int32_t>& tags) {
  auto fresh = core_->GetMail(data_.id, tags);
  if (!fresh) return false;
  for (auto& [tag, value] : fresh->props) data_.props[tag] = value;
  if (!data_.entryID) data_.entryID = fresh->entryID;
  return true;
}

bool GraphMail::SavePending() {
  json list = json::array();
  for (const auto& [tag, value] : pendingFields_)
    list.push_back(
        {{"id", ExtendedPropertyId(tag)}, {"value", ValueText(value, tag).value_or("")}});
  json body = {{"singleValueExtendedProperties", list}};
  if (!core_->Call("PATCH", core_->User("/messages/" + UrlEncode(data_.id)), &body)) return false;
  for (auto& [tag, value] : pendingFields_) data_.props[tag] = value;
  pendingFields_.clear();
  return true;
}

std::shared_ptr<oa::mailbox::RDOStore> GraphMail::Store() {
  if (!core_->Alive()) return nullptr;
  return std::make_shared<GraphStore>(core_);
}

// Every delete is permanent: a plain DELETE would only move the message into Deleted Items,
// which for a soft delete is not what MAPI does either (it stays recoverable, not visible).
void GraphMail::Delete(int32_t) {
  if (!core_->Alive()) return;
  if (queueDelete_) {
    core_->Changed();
    core_->QueueDelete(data_.id);
    return;
  }
  auto r =
      core_->Call("POST", core_->User("/messages/" + UrlEncode(data_.id) + "/permanentDelete"));
  // Gone either way: the collections that list it drop it.
  if (r || Err().Number() == MAPI_E_NOT_FOUND) core_->ItemDeleted(data_.id);
}

}  // namespace oa::graph
