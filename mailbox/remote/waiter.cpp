#include "mailbox/remote/waiter.h"

#include <algorithm>
#include <thread>

namespace oa::remote {

void WaitHooks::SetWhileWaiting(std::function<void()> hook) {
  std::lock_guard lock(mu_);
  whileWaiting_ = std::move(hook);
}

void WaitHooks::SetWaitCancelCheck(std::function<bool()> cancelled) {
  std::lock_guard lock(mu_);
  waitCancelled_ = std::move(cancelled);
}

void WaitHooks::SetRequestCancelCheck(std::function<bool()> cancelled) {
  std::lock_guard lock(mu_);
  requestCancelled_ = std::move(cancelled);
}

void WaitHooks::Clear() {
  std::lock_guard lock(mu_);
  whileWaiting_ = {};
  waitCancelled_ = {};
  requestCancelled_ = {};
}

// Each runs a copy outside the lock: a hook may run code that sets others.
void WaitHooks::WhileWaiting() {
  std::function<void()> hook;
  {
    std::lock_guard lock(mu_);
    hook = whileWaiting_;
  }
  if (hook) hook();
}

bool WaitHooks::WaitCancelled() {
  std::function<bool()> check;
  {
    std::lock_guard lock(mu_);
    check = waitCancelled_;
  }
  return check && check();
}

bool WaitHooks::RequestCancelled() {
  std::function<bool()> check;
  {
    std::lock_guard lock(mu_);
    check = requestCancelled_;
  }
  return check && check();
}

WaitEnd WaitWithEvents(Waiter* waiter, std::chrono::milliseconds duration,
                       const std::function<bool()>& stop) {
  using clock = std::chrono::steady_clock;
  const auto end = clock::now() + duration;
  constexpr auto kSlice = std::chrono::milliseconds(50);
  while (true) {
    if (waiter) waiter->WhileWaiting();
    if (stop && stop()) return WaitEnd::Stopped;
    if (waiter && waiter->WaitCancelled()) return WaitEnd::Cancelled;
    auto now = clock::now();
    if (now >= end) return WaitEnd::Elapsed;
    std::this_thread::sleep_for(std::min<clock::duration>(kSlice, end - now));
  }
}

}  // namespace oa::remote
