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
  queue_.Queue(ewsId, deleteType);
}

void Core::SendDeleteGroup(const std::vector<std::string>& ids, const std::string& deleteType,
                           std::vector<bool>& gone) {
  auto req = NewDeleteRequest(deleteType);
  auto list = req->op().append_child("m:ItemIds");
  for (const std::string& id : ids)
    list.append_child("t:ItemId").append_attribute("Id") = id.c_str();
  auto r = client_->Call(*req);
  for (size_t i = 0; i < ids.size(); ++i) {
    const ResponseMessage* m = r && i < r->messages.size() ? &r->messages[i] : nullptr;
    // Gone either way when the server does not know it.
    gone[i] = m && (m->ok() || m->code == "ErrorItemNotFound");
  }
}

}  // namespace oa::ews
