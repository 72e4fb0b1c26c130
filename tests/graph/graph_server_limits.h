// Exchange Online's limits per application and mailbox as the loopback Graph server answers
// them (learn.microsoft.com/graph/throttling-limits, "Outlook service limits"): at most a few
// requests at once (four in the service), a $batch's unchained requests run that many at a time
// with the rest refused, and a budget of requests per window (10,000 per 10 minutes in the
// service, scaled down for tests), each request inside a batch counted on its own. A wait the
// service asked for holds for every request to the mailbox until it ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace oa::graph::testing {

// A refusal: the status, its Retry-After in seconds and the body the service gives.
struct Refusal {
  int status = 429;
  int retryAfterSeconds = 1;
  nlohmann::json body;
  std::string rule;  // "MailboxConcurrency", "budget" or "hold"
};

class MailboxRules {
 public:
  using clock = std::chrono::steady_clock;
  // `concurrency` 0: no concurrency rule; `budget` 0: no budget.
  MailboxRules(int concurrency, int64_t budget, std::chrono::milliseconds window)
      : concurrency_(concurrency), budget_(budget), window_(window) {}

  // The mailbox a request path ("/v1.0/users/{id}/...") works on, in lower case; "" for one
  // that is not a mailbox's (the token, a user lookup, $batch itself).
  static std::string MailboxOf(const std::string& path);

  // A request to `mailbox` begins at `now`; a refusal when it is over the concurrency rule or
  // the budget. One that is not refused counts against the budget and, until End, against the
  // requests at once.
  std::optional<Refusal> Begin(const std::string& mailbox, clock::time_point now);
  void End(const std::string& mailbox);
  // The budget alone, for a request inside a $batch (its concurrency is the batch's).
  std::optional<Refusal> Spend(const std::string& mailbox, clock::time_point now);
  // The refusal of a request beyond the batch's parallel share.
  static Refusal OverConcurrency();
  // A 429 with a Retry-After told: every request to the mailbox is refused until `until`.
  void Hold(const std::string& mailbox, clock::time_point until);
  int concurrency() const { return concurrency_; }

 private:
  std::optional<Refusal> Held(const std::string& mailbox, clock::time_point now);

  int concurrency_;
  int64_t budget_;
  std::chrono::milliseconds window_;
  std::map<std::string, int> atOnce_;
  std::map<std::string, std::deque<clock::time_point>> spent_;
  std::map<std::string, clock::time_point> held_;
};

}  // namespace oa::graph::testing
