#include "mailbox/remote/delete_queue.h"

#include "base/mapi_error.h"

namespace oa::remote {

std::vector<std::shared_ptr<DeletionListener>> DeleteQueue::Listeners() {
  std::vector<std::shared_ptr<DeletionListener>> live;
  for (auto& w : listeners_) {
    if (auto l = w.lock()) live.push_back(std::move(l));
  }
  listeners_.assign(live.begin(), live.end());
  return live;
}

void DeleteQueue::Queue(const std::string& id, const std::string& kind) {
  if (queuedIds_.count(id)) return;
  if (!ids_.empty() && kind != kind_) SendQueued();
  kind_ = kind;
  ids_.push_back(id);
  queuedIds_.insert(id);
  if (queued_) queued_(id);
  if (ids_.size() >= group_) SendQueued();
}

void DeleteQueue::SendQueued(bool send) {
  if (ids_.empty() || sending_) return;
  oa::ErrScope keep;
  std::vector<std::string> ids;
  ids.swap(ids_);
  queuedIds_.clear();
  std::vector<bool> gone(ids.size(), false);
  if (send) {
    sending_ = true;
    send_(ids, kind_, gone);
    sending_ = false;
  }
  auto live = Listeners();
  for (size_t i = 0; i < ids.size(); ++i) {
    if (gone[i]) continue;
    for (auto& l : live) l->DeleteRefused(ids[i]);
  }
  for (auto& l : live) l->DeletesSettled();
}

}  // namespace oa::remote
