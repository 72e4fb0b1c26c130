// What Exchange Online allows one application on one mailbox, kept for every client of the
// process that works on that mailbox: the request budget paced, and a wait the service asked
// for holding back every later request to the mailbox until it ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "base/pacer.h"

namespace oa::graph {

// learn.microsoft.com/graph/throttling-limits, "Outlook service limits", limits per app ID and
// mailbox combination: 10,000 API requests in a 10 minute period. Each request inside a $batch
// counts on its own (graph/json-batching, "Batch size limitations": "Requests in a batch are
// evaluated individually against the applicable throttling limits").
inline constexpr int64_t kMailboxBudget = 10000;
inline constexpr std::chrono::milliseconds kMailboxBudgetWindow{std::chrono::minutes(10)};
// The same page: the service runs at most 4 requests of an application at once; inside a
// $batch "the service executes up to 4 requests in parallel at any point" unless they are
// sequenced with dependsOn, and the rest come back as 429 ("Application is over its
// MailboxConcurrency limit.").
inline constexpr int kMailboxConcurrency = 4;
// graph/json-batching, "Batch size limitations": at most 20 requests in one $batch.
inline constexpr int64_t kMaxBatchRequests = 20;

class MailboxLimits {
 public:
  using clock = std::chrono::steady_clock;
  MailboxLimits(int64_t budget, std::chrono::milliseconds window)
      : pacer_(budget, window, kMaxBatchRequests) {}

  // How long `cost` requests must wait for their turn from `now` (the service's hold first,
  // then the pace); zero when they may go, and then they are noted as sent.
  clock::duration Reserve(int64_t cost, clock::time_point now);
  // Notes requests that go at once whatever the pace (a cancelled run's last requests).
  void SendNow(int64_t cost, clock::time_point now);
  // The service's own wait: nothing goes to the mailbox before `until`.
  void HoldUntil(clock::time_point until);
  clock::time_point heldUntil();

 private:
  std::mutex mu_;
  backoff::Pacer pacer_;
};

// The limits of an application (`client`, at `service`) on one mailbox (`mailbox`, the user's
// ID), the same object for every session of the process; `budget` requests per `window` (the
// first call for a mailbox fixes them).
std::shared_ptr<MailboxLimits> LimitsFor(const std::string& service, const std::string& client,
                                         const std::string& mailbox, int64_t budget,
                                         std::chrono::milliseconds window);
// Forgets every mailbox's limits (tests, whose servers may reuse a port).
void ForgetMailboxLimits();

}  // namespace oa::graph
