// Message deletes sent in groups: one $batch of up to twenty permanentDelete requests instead of
// one round trip each. The requests of a batch are chained with dependsOn, so that the service
// runs them one after another: unchained, it runs four at a time and refuses the rest for the
// mailbox's concurrency (learn.microsoft.com/graph/throttling-limits, "Outlook service limits
// for JSON batching"). Graph answers each request on its own; when one fails, the ones after it
// fail with 424 unrun (graph/json-batching, "Sequencing requests with the dependsOn property")
// and go again; a throttled one goes again after the wait the service asks for, bounded and
// cancellable as every other wait.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>

#include "base/mapi_error.h"
#include "mailbox/graph/objects.h"

namespace oa::graph {

using std::chrono::milliseconds;

namespace {

// The Retry-After of one answer in a batch, read as the header of a whole answer is.
std::optional<milliseconds> RetryAfterOf(const json& answer) {
  auto h = answer.find("headers");
  if (h == answer.end() || !h->is_object()) return std::nullopt;
  for (auto it = h->begin(); it != h->end(); ++it) {
    std::string key = it.key();
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (key != "retry-after") continue;
    if (it->is_number_unsigned()) return backoff::ParseRetryAfter(it->dump(), {});
    if (it->is_string())
      return backoff::ParseRetryAfter(it->get<std::string>(), std::chrono::system_clock::now());
  }
  return std::nullopt;
}

// Not run: a request it depends on failed.
constexpr long kFailedDependency = 424;

// One batch's answers as the retry loop reads them: what the service deleted, what it turned
// away busy (sent again after the longest wait any of them asks for) and what did not run.
class DeleteBatchTries : public Client::Tries {
 public:
  DeleteBatchTries(Client& client, std::string user, const std::vector<std::string>& ids,
                   std::vector<bool>& gone)
      : Tries(client), user_(std::move(user)), ids_(ids), gone_(gone), todo_(ids.size()) {
    for (size_t i = 0; i < todo_.size(); ++i) todo_[i] = i;
  }

  remote::Try Once() override {
    using remote::Try;
    json requests = json::array();
    for (size_t k = 0; k < todo_.size(); ++k) {
      const size_t i = todo_[k];
      json r = {{"id", std::to_string(i + 1)},
                {"method", "POST"},
                {"url", user_ + "/messages/" + UrlEncode(ids_[i]) + "/permanentDelete"}};
      if (k > 0) r["dependsOn"] = json::array({std::to_string(todo_[k - 1] + 1)});
      requests.push_back(std::move(r));
    }
    const json body = {{"requests", requests}};
    auto r = client_.Call("POST", "/$batch", &body);
    // Without an answer nothing is known to be gone: the items count as refused.
    if (!r) return Try::Failed();
    // Throttled, or not run because one before it failed: these go again.
    std::vector<size_t> again;
    bool busy = false;
    std::optional<milliseconds> hint;
    for (const json& a : r->value("responses", json::array())) {
      if (!a.is_object() || !a.contains("id") || !a["id"].is_string() || !a.contains("status") ||
          !a["status"].is_number_integer())
        continue;
      const std::string idText = a["id"].get<std::string>();
      const size_t n = std::strtoul(idText.c_str(), nullptr, 10);
      if (n < 1 || n > ids_.size() || std::to_string(n) != idText ||
          std::find(todo_.begin(), todo_.end(), n - 1) == todo_.end() ||
          std::find(again.begin(), again.end(), n - 1) != again.end() || gone_[n - 1])
        continue;
      const long status = a["status"].get<long>();
      // Gone either way when the service does not know it.
      if ((status >= 200 && status < 300) || status == 404) {
        gone_[n - 1] = true;
      } else if (status == 429 || status == 503 || status == 504) {
        again.push_back(n - 1);
        busy = true;
        // The longest wait any of them asks for.
        if (auto h = RetryAfterOf(a); h && (!hint || *h > *hint)) hint = h;
      } else if (status == kFailedDependency) {
        again.push_back(n - 1);
      }
    }
    // Nothing settled and nothing to wait for: a service that answers so is not asked again.
    if (again.empty() || (!busy && again.size() == todo_.size())) return Try::Done();
    std::sort(again.begin(), again.end());
    todo_ = std::move(again);
    return busy ? Try::Busy(hint, "") : Try::Again();
  }

 private:
  const std::string user_;
  const std::vector<std::string>& ids_;
  std::vector<bool>& gone_;
  std::vector<size_t> todo_;
};

}  // namespace

void Core::SendDeleteBatch(const std::vector<std::string>& ids, std::vector<bool>& gone) {
  DeleteBatchTries tries(*client_, User(), ids, gone);
  client_->Run(tries);
}

}  // namespace oa::graph
