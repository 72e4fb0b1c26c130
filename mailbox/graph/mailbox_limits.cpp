#include "mailbox/graph/mailbox_limits.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace oa::graph {

MailboxLimits::clock::duration MailboxLimits::Reserve(int64_t cost, clock::time_point now) {
  std::lock_guard lock(mu_);
  const clock::time_point at = pacer_.When(cost, now);
  if (at > now) return at - now;
  pacer_.Sent(cost, now);
  return clock::duration::zero();
}

void MailboxLimits::SendNow(int64_t cost, clock::time_point now) {
  std::lock_guard lock(mu_);
  pacer_.Sent(cost, now);
}

void MailboxLimits::HoldUntil(clock::time_point until) {
  std::lock_guard lock(mu_);
  pacer_.HoldUntil(until);
}

MailboxLimits::clock::time_point MailboxLimits::heldUntil() {
  std::lock_guard lock(mu_);
  return pacer_.heldUntil();
}

namespace {

std::mutex gMutex;
// Kept for the whole process (one small entry per mailbox): a hold outlives the session that
// was told, so that a later run on the same mailbox waits for it too.
std::map<std::string, std::shared_ptr<MailboxLimits>> gLimits;

}  // namespace

void ForgetMailboxLimits() {
  std::lock_guard lock(gMutex);
  gLimits.clear();
}

std::shared_ptr<MailboxLimits> LimitsFor(const std::string& service, const std::string& client,
                                         const std::string& mailbox, int64_t budget,
                                         std::chrono::milliseconds window) {
  std::string key = service + "\n" + client + "\n" + mailbox;
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  std::lock_guard lock(gMutex);
  auto& limits = gLimits[key];
  if (!limits) limits = std::make_shared<MailboxLimits>(budget, window);
  return limits;
}

}  // namespace oa::graph
