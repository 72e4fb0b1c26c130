#include "mailbox/ews/wait_hook.h"

#include <thread>

namespace oa::ews {
namespace {

std::function<void()>& Hook() {
  static std::function<void()> hook;
  return hook;
}

}  // namespace

void SetWhileWaiting(std::function<void()> hook) {
  Hook() = std::move(hook);
}

bool WaitWithEvents(std::chrono::milliseconds duration, const std::function<bool()>& stop) {
  using clock = std::chrono::steady_clock;
  const auto end = clock::now() + duration;
  constexpr auto kSlice = std::chrono::milliseconds(50);
  while (true) {
    // A copy: the hook may run code that installs another one.
    if (auto hook = Hook()) hook();
    if (stop && stop()) return false;
    auto now = clock::now();
    if (now >= end) return true;
    std::this_thread::sleep_for(std::min<clock::duration>(kSlice, end - now));
  }
}

}  // namespace oa::ews
