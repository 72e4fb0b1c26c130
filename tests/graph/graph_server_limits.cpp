#include "tests/graph/graph_server_limits.h"

#include <algorithm>
#include <cctype>

namespace oa::graph::testing {

using nlohmann::json;

std::string MailboxRules::MailboxOf(const std::string& path) {
  const std::string head = "/v1.0/users/";
  if (path.rfind(head, 0) != 0) return "";
  const size_t end = path.find('/', head.size());
  // A user looked up by name or address is no mailbox request.
  if (end == std::string::npos || end + 1 >= path.size()) return "";
  std::string id = path.substr(head.size(), end - head.size());
  std::transform(id.begin(), id.end(), id.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return id;
}

Refusal MailboxRules::OverConcurrency() {
  // As the service answers (Microsoft Q&A 734143, 1660054).
  return {429, 1,
          json{{"error",
                {{"code", "ApplicationThrottled"},
                 {"message", "Application is over its MailboxConcurrency limit."}}}},
          "MailboxConcurrency"};
}

void MailboxRules::Hold(const std::string& mailbox, clock::time_point until) {
  if (mailbox.empty()) return;
  held_[mailbox] = std::max(held_[mailbox], until);
}

std::optional<Refusal> MailboxRules::Held(const std::string& mailbox, clock::time_point now) {
  auto it = held_.find(mailbox);
  if (it == held_.end() || it->second <= now) return std::nullopt;
  const auto seconds = std::chrono::ceil<std::chrono::seconds>(it->second - now).count();
  return Refusal{
      429, static_cast<int>(std::max<int64_t>(seconds, 1)),
      json{{"error",
            {{"code", "TooManyRequests"}, {"message", "The service is busy; retry later."}}}},
      "hold"};
}

std::optional<Refusal> MailboxRules::Spend(const std::string& mailbox, clock::time_point now) {
  if (mailbox.empty()) return std::nullopt;
  if (auto r = Held(mailbox, now)) return r;
  if (budget_ <= 0 || window_.count() <= 0) return std::nullopt;
  auto& spent = spent_[mailbox];
  while (!spent.empty() && spent.front() + window_ <= now) spent.pop_front();
  if (static_cast<int64_t>(spent.size()) < budget_) {
    spent.push_back(now);
    return std::nullopt;
  }
  const auto left = spent.front() + window_ - now;
  const auto seconds = std::chrono::ceil<std::chrono::seconds>(left).count();
  return Refusal{429, static_cast<int>(std::max<int64_t>(seconds, 1)),
                 json{{"error",
                       {{"code", "ApplicationThrottled"},
                        {"message", "Application is over its MailboxRequests limit."}}}},
                 "budget"};
}

std::optional<Refusal> MailboxRules::Begin(const std::string& mailbox, clock::time_point now) {
  if (mailbox.empty()) return std::nullopt;
  if (auto r = Held(mailbox, now)) return r;
  if (concurrency_ > 0 && atOnce_[mailbox] >= concurrency_) return OverConcurrency();
  if (auto r = Spend(mailbox, now)) return r;
  ++atOnce_[mailbox];
  return std::nullopt;
}

void MailboxRules::End(const std::string& mailbox) {
  if (mailbox.empty()) return;
  if (auto it = atOnce_.find(mailbox); it != atOnce_.end() && it->second > 0) --it->second;
}

}  // namespace oa::graph::testing
