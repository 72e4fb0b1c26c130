#include "mailbox/ews/wait_hook.h"

#include <thread>

namespace oa::ews {
namespace {

std::function<void()>& Hook() {
  static std::function<void()> hook;
  return hook;
}

std::function<bool()>& CancelCheck() {
  static std::function<bool()> check;
  return check;
}

std::function<bool()>& RequestCancelCheck() {
  static std::function<bool()> check;
  return check;
}

thread_local bool gWaitCancelled = false;

}  // namespace

void SetWhileWaiting(std::function<void()> hook) {
  Hook() = std::move(hook);
}

void SetWaitCancelCheck(std::function<bool()> cancelled) {
  CancelCheck() = std::move(cancelled);
}

void SetRequestCancelCheck(std::function<bool()> cancelled) {
  RequestCancelCheck() = std::move(cancelled);
}

bool WaitWithEvents(std::chrono::milliseconds duration, const std::function<bool()>& stop) {
  using clock = std::chrono::steady_clock;
  const auto end = clock::now() + duration;
  constexpr auto kSlice = std::chrono::milliseconds(50);
  while (true) {
    // Copies: the hook may run code that installs others.
    if (auto hook = Hook()) hook();
    if (stop && stop()) return false;
    if (auto cancelled = CancelCheck(); cancelled && cancelled()) {
      gWaitCancelled = true;
      return false;
    }
    auto now = clock::now();
    if (now >= end) return true;
    std::this_thread::sleep_for(std::min<clock::duration>(kSlice, end - now));
  }
}

bool CancelRequested() {
  auto cancelled = RequestCancelCheck();
  return cancelled && cancelled();
}

bool TakeWaitCancelled() {
  const bool was = gWaitCancelled;
  gWaitCancelled = false;
  return was;
}

}  // namespace oa::ews
