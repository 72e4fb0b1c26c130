// The waiter a test hands to the sessions and clients it makes, as the program hands its own to
// the session factory; a fixture that derives from it sets the hooks by the same names.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <utility>

#include "mailbox/remote/waiter.h"

namespace oa::testing {

class TestWaiter {
 public:
  std::shared_ptr<remote::WaitHooks> waiter = std::make_shared<remote::WaitHooks>();

  void SetWhileWaiting(std::function<void()> hook) { waiter->SetWhileWaiting(std::move(hook)); }
  void SetWaitCancelCheck(std::function<bool()> check) {
    waiter->SetWaitCancelCheck(std::move(check));
  }
  void SetRequestCancelCheck(std::function<bool()> check) {
    waiter->SetRequestCancelCheck(std::move(check));
  }

  // A wait through the waiter, as a backend's: false when it was cut short.
  bool WaitWithEvents(std::chrono::milliseconds d, const std::function<bool()>& stop) {
    const remote::WaitEnd end = remote::WaitWithEvents(waiter.get(), d, stop);
    if (end == remote::WaitEnd::Cancelled) waitCancelled_ = true;
    return end == remote::WaitEnd::Elapsed;
  }
  // Whether a wait above ended by the cancel check since the last call; clears it.
  bool TakeWaitCancelled() { return std::exchange(waitCancelled_, false); }

 private:
  bool waitCancelled_ = false;
};

}  // namespace oa::testing
