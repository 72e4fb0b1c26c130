// What the state of every remote session begins with: whether it is still logged on, and the
// deletes it holds back for their group (delete_queue.h). Every object the session handed out
// holds the state and asks it first.
#pragma once

#include <cstddef>
#include <memory>

#include "base/mapi_error.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/remote/delete_queue.h"

namespace oa::remote {

class SessionCore {
 public:
  virtual ~SessionCore() = default;

  // False, with MAPI_E_END_OF_SESSION raised, once the session has logged off.
  bool Alive() {
    if (alive_) return true;
    oa::Err().Raise(oa::mailbox::ConstMAPI::MAPI_E_END_OF_SESSION, "The session has logged off.");
    return false;
  }
  bool ended() const { return !alive_; }
  // Logoff: the queued deletes go out first.
  void End() {
    if (alive_) SendQueuedDeletes();
    alive_ = false;
    Disconnect();
  }

  void AddListener(const std::shared_ptr<DeletionListener>& l) { queue_.AddListener(l); }
  // Sends the queued deletes; an item the service refuses, or every item of a request that
  // failed, is told to the listeners as refused. The pending error is left as it was.
  void SendQueuedDeletes() { queue_.SendQueued(alive_); }

 protected:
  SessionCore(size_t deleteGroup, DeleteQueue::Send send, DeleteQueue::Queued queued)
      : queue_(deleteGroup, std::move(send), std::move(queued)) {}
  // At logoff: the service's connection is not held for objects that outlive the session.
  virtual void Disconnect() = 0;

  DeleteQueue queue_;

 private:
  bool alive_ = true;
};

}  // namespace oa::remote
