// The Graph backend against the loopback Graph server with 5 ms of latency on every answer and
// the service's limits on: at most 4 requests at once per mailbox (inside a $batch too, unless
// chained) and a budget of requests per window, scaled down so that a run takes seconds. A
// folder is emptied item by item through the program's own loop; printed are the items per
// second as a share of the budget's ideal rate, the 429 answers, and the round trips (HTTP
// requests, a $batch counting once) per item, beside what that means at the service's ceiling.
//   graph_bench [items [budget window-seconds [group]]]
// Defaults: 2000 items, 1000 requests per 10 seconds; the group (1 to 20) is the delete group.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "bench/bench_mailbox.h"
#include "console/form.h"
#include "handhelds/folder_ops.h"
#include "mailbox/backends.h"
#include "mailbox/graph/objects.h"
#include "tests/graph/graph_test_server.h"
#include "tests/support/recording_console.h"

namespace {

using nlohmann::json;
using namespace oa::graph::testing;

using oa::bench::Import;
using oa::bench::Mailbox;

}  // namespace

int main(int argc, char** argv) {
  const int items = argc > 1 ? std::atoi(argv[1]) : 2000;
  const long budget = argc > 3 ? std::atol(argv[2]) : 1000;
  const long windowSeconds = argc > 3 ? std::atol(argv[3]) : 10;
  const int group = argc > 4 ? std::atoi(argv[4]) : 0;
  if (items < 1 || budget < 1 || windowSeconds < 1) {
    std::fprintf(stderr, "usage: graph_bench [items [budget window-seconds [group]]]\n");
    return 2;
  }
  const auto dir =
      std::filesystem::temp_directory_path() / ("graph_bench." + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string store = (dir / "bench.oastore").string();
  if (!Import(Mailbox(items), store)) return 1;

  GraphServerOptions o;
  o.storeFile = store;
  o.mailboxes = {{"jdoe", "jdoe@example.com"}};
  o.certDir = dir.string();
  o.latency = std::chrono::milliseconds(5);
  o.concurrency = 4;
  o.budget = budget;
  o.budgetWindow = std::chrono::seconds(windowSeconds);
  GraphTestServer server(o);
  if (!server.Start()) return 1;
  oa::mailbox::BackendOptions backends;
  backends.graph.tenant = o.tenant;
  backends.graph.clientId = o.clientId;
  backends.graph.clientSecret = o.clientSecret;
  backends.graph.loginUrl = server.url();
  backends.graph.graphUrl = server.url();
  backends.graph.caFile = server.caFile();
  backends.graph.budgetRequests = budget;
  backends.graph.budgetWindow = std::chrono::seconds(windowSeconds);

  auto session = std::make_shared<oa::graph::GraphSession>(backends.graph);
  session->LogonExchangeMailbox("jdoe", "graph");
  auto root = session->LoggedOn() ? session->Stores()->DefaultStore()->IPMRootFolder() : nullptr;
  auto folder = root ? root->Folders()->Item("Handhelds") : nullptr;
  if (!folder) return 1;
  if (group > 0) session->SetDeleteGroup(static_cast<size_t>(group));
  oa::testing::RecordingConsole console;
  oa::console::Form form(console, oa::console::ActivityLog((dir / "empty.log").string()));
  const size_t seenBefore = server.Requests().size();
  const long before = session->RequestsSent();
  const auto start = std::chrono::steady_clock::now();
  oa::handhelds::FolderEmptying outcome;
  const bool emptied = oa::handhelds::DeleteFolderItems(form.run(), folder, &outcome);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long requests = session->RequestsSent() - before;
  const auto seen = server.Requests();
  std::map<std::string, int> byOp, inBatches, refusals;
  int throttled = 0;
  for (size_t i = seenBefore; i < seen.size(); ++i) {
    ++(seen[i].inBatch ? inBatches : byOp)[seen[i].operation];
    if (seen[i].status == 429) {
      ++throttled;
      ++refusals[seen[i].throttledBy.empty() ? "scheduled" : seen[i].throttledBy];
    }
  }
  long batched = 0;
  for (const auto& [op, n] : inBatches) batched += n;
  // What counts against the budget: every request but the $batch envelopes.
  const long spent = requests - byOp["batch"] + batched;
  const long deleted = static_cast<long>(outcome.deleted);
  const double perItem = deleted ? static_cast<double>(requests) / deleted : 0;
  const double spentPerItem = deleted ? static_cast<double>(spent) / deleted : 0;
  const double ideal = static_cast<double>(budget) / static_cast<double>(windowSeconds);
  const double rate = deleted / seconds;
  std::printf(
      "item-by-item emptying of %ld items (%s), 5 ms latency per answer, the service's limits "
      "on (4 requests at once, %ld requests per %ld s): %ld round trips, %.1f s\n",
      deleted, emptied ? "emptied" : "not emptied", budget, windowSeconds, requests, seconds);
  for (const auto& [op, n] : byOp) std::printf("  %s %d\n", op.c_str(), n);
  for (const auto& [op, n] : inBatches) std::printf("  inside batches: %s %d\n", op.c_str(), n);
  // The ideal: one item per request the budget allows.
  std::printf(
      "items per second: %.1f of the budget's ideal %.1f: %.0f %% (target >= 90 %%); %.3f "
      "requests counted against the budget per item\n",
      rate, ideal, 100.0 * rate / ideal, spentPerItem);
  std::printf("429 answers: %d (target 0)", throttled);
  for (const auto& [why, n] : refusals) std::printf(", %s %d", why.c_str(), n);
  std::printf("\nround trips per deleted item: %.3f (target <= 0.06)\n", perItem);
  std::printf("most requests in flight at once: %d (the service allows 4 per mailbox)\n",
              server.maxInFlight());
  std::printf(
      "at the service's ceiling (10,000 requests per 10 minutes per mailbox and application) "
      "this is %.1f items per second: 100,000 items take %.0f minutes\n",
      10000.0 / 600.0 / spentPerItem, 100000.0 * spentPerItem / (10000.0 / 600.0) / 60.0);
  std::filesystem::remove_all(dir);
  return emptied ? 0 : 1;
}
