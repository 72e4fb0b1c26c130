// Item deletes sent in groups: a queued delete is told to the listeners as done at once and goes
// out with the others of its group (when the group is full, before any other request, when the
// program pauses and at logoff); the service's refusals are told afterwards.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace oa::remote {

// Told when an item is deleted through the session, so that item collections stay in step.
class DeletionListener {
 public:
  virtual ~DeletionListener() = default;
  virtual void ItemDeleted(const std::string& id) = 0;
  // A delete told as done earlier that the service refused when its group went out.
  virtual void DeleteRefused(const std::string& id) { (void)id; }
  // A group of deletes went out; every delete told so far is settled.
  virtual void DeletesSettled() {}
};

class DeleteQueue {
 public:
  // Sends one group of deletes of one kind; gone[i] (false on entry) becomes true for each item
  // the service no longer holds. An item not known gone counts as refused.
  using Send = std::function<void(const std::vector<std::string>& ids, const std::string& kind,
                                  std::vector<bool>& gone)>;
  // Told of each delete queued, as it is queued.
  using Queued = std::function<void(const std::string& id)>;

  DeleteQueue(size_t group, Send send, Queued queued)
      : group_(group < 1 ? 1 : group), send_(std::move(send)), queued_(std::move(queued)) {}

  void AddListener(const std::shared_ptr<DeletionListener>& l) { listeners_.push_back(l); }
  // The listeners still alive.
  std::vector<std::shared_ptr<DeletionListener>> Listeners();

  // Queues the delete of an item not queued yet; a delete of another kind sends the group first.
  void Queue(const std::string& id, const std::string& kind = "");
  // The most one group carries (at least 1).
  void SetGroup(size_t items) { group_ = items < 1 ? 1 : items; }
  // Sends the group, if any (nothing, when `send` is false: all of it counts as refused), and
  // tells the listeners what the service refused and that the group is settled. The pending
  // error is left as it was.
  void SendQueued(bool send = true);

 private:
  size_t group_;
  Send send_;
  Queued queued_;
  std::vector<std::weak_ptr<DeletionListener>> listeners_;
  std::vector<std::string> ids_;
  std::set<std::string> queuedIds_;
  std::string kind_;
  bool sending_ = false;
};

}  // namespace oa::remote
