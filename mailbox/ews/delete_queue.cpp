// Item deletes sent in groups: one DeleteItem for up to a hundred items instead of one each.
#include "base/mapi_error.h"
#include "mailbox/ews/core.h"

namespace oa::ews {

std::unique_ptr<Request> Core::NewDeleteRequest(const std::string& deleteType) {
  auto req = NewRequest("DeleteItem");
  req->op().append_attribute("DeleteType") = deleteType.c_str();
  // Exchange refuses to delete a calendar item or a task without them; no attendee is told.
  req->op().append_attribute("SendMeetingCancellations") = "SendToNone";
  req->op().append_attribute("AffectedTaskOccurrences") = "AllOccurrences";
  return req;
}

void Core::QueueDelete(const std::string& ewsId, const std::string& deleteType) {
  if (queuedIds_.count(ewsId)) return;
  if (!queued_.empty() && deleteType != queuedType_) SendQueuedDeletes();
  queuedType_ = deleteType;
  queued_.push_back(ewsId);
  queuedIds_.insert(ewsId);
  ItemDeleted(ewsId);
  if (queued_.size() >= deleteGroup_) SendQueuedDeletes();
}

void Core::SendQueuedDeletes() {
  if (queued_.empty() || sendingQueue_) return;
  oa::mailbox::ErrScope keep;
  std::vector<std::string> ids;
  ids.swap(queued_);
  queuedIds_.clear();
  auto req = NewDeleteRequest(queuedType_);
  auto list = req->op().append_child("m:ItemIds");
  for (const std::string& id : ids)
    list.append_child("t:ItemId").append_attribute("Id") = id.c_str();
  std::optional<Response> r;
  if (alive_) {
    sendingQueue_ = true;
    r = CallServer(*client_, *req);
    sendingQueue_ = false;
  }
  auto live = LiveListeners();
  for (size_t i = 0; i < ids.size(); ++i) {
    const ResponseMessage* m = r && i < r->messages.size() ? &r->messages[i] : nullptr;
    // Gone either way when the server does not know it.
    if (m && (m->ok() || m->code == "ErrorItemNotFound")) continue;
    for (auto& l : live) l->DeleteRefused(ids[i]);
  }
  for (auto& l : live) l->DeletesSettled();
}

}  // namespace oa::ews
