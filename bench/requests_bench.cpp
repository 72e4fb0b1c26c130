// Requests per cleanup on both remote backends: one whole run through the program's window logic,
// against the loopback EWS server and the loopback Graph server, of a mailbox whose 10-item
// Handhelds folder is deleted in one call. The figures come from the servers' own request logs:
// every request the server answered, in order, without authentication rounds (EWS's 401
// challenges, Graph's token requests); a Graph $batch counts once, the requests inside it are
// shown beside it. Target: at most 12 requests a cleanup on each.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_mailbox.h"
#include "console/form.h"
#include "mailbox/backends.h"
#include "mailbox/model/session_registry.h"
#include "tests/ews/ews_test_server.h"
#include "tests/graph/graph_test_server.h"
#include "tests/support/recording_console.h"

namespace {

using nlohmann::json;

constexpr size_t kTarget = 12;
constexpr int kItems = 10;

using oa::bench::Import;
using oa::bench::Mailbox;

// One request of a server's log: its operation, and whether it was sent inside a batch.
struct Seen {
  std::string operation;
  bool inBatch = false;
};

// "GetFolder 3, FindItem 2, ...": the operations in the order they first came.
std::string PerOperation(const std::vector<Seen>& seen, bool inBatch) {
  std::vector<std::pair<std::string, int>> counts;
  for (const Seen& s : seen) {
    if (s.inBatch != inBatch) continue;
    auto it = counts.begin();
    while (it != counts.end() && it->first != s.operation) ++it;
    if (it == counts.end()) {
      counts.push_back({s.operation, 1});
    } else {
      ++it->second;
    }
  }
  std::string out;
  for (const auto& [op, n] : counts)
    out += (out.empty() ? "" : ", ") + op + " " + std::to_string(n);
  return out.empty() ? "none" : out;
}

// Runs one cleanup of jdoe on `server` through the window's run; false unless it completed.
bool RunCleanup(const std::string& server, const std::filesystem::path& dir) {
  oa::testing::RecordingConsole console;
  console.texts[oa::console::Control::txtExServer] = server;
  console.texts[oa::console::Control::txtAlias] = "jdoe";
  console.chkHH = 1;
  bool completed = false;
  {
    oa::console::Form form(console, oa::console::ActivityLog((dir / "OA-Cleanup.log").string()));
    form.cmdOK_Click();
    completed = !console.results.empty() &&
                console.results.back() == "pointed agent to new Handhelds folder";
    if (!completed)
      std::printf("  the cleanup did not complete: %s\n",
                  console.results.empty() ? "(no line)" : console.results.back().c_str());
    form.Form_Unload();
  }
  return completed;
}

// Prints a backend's figures; false when the cleanup failed or the target is missed.
bool Report(const char* backend, const std::vector<Seen>& seen, bool completed) {
  size_t requests = 0, inside = 0;
  for (const Seen& s : seen) (s.inBatch ? inside : requests) += 1;
  std::printf("%s: %zu requests per one-call cleanup of a %d-item folder (target <= %zu)\n",
              backend, requests, kItems, kTarget);
  std::printf("  %s\n", PerOperation(seen, false).c_str());
  if (inside) std::printf("  inside batches: %s\n", PerOperation(seen, true).c_str());
  std::string order;
  for (const Seen& s : seen)
    if (!s.inBatch) order += (order.empty() ? "" : " ") + s.operation;
  std::printf("  in order: %s\n", order.c_str());
  return completed && requests <= kTarget;
}

bool Ews(const std::filesystem::path& dir, const std::string& store) {
  using namespace oa::ews::testing;
  if (!Import(Mailbox(kItems), store)) return false;
  ServerOptions o;
  o.storeFile = store;
  o.mailboxes = {{"jdoe", "jdoe@example.com"}};
  o.certDir = dir.string();
  EwsTestServer server(o);
  if (!server.Start()) return false;
  oa::mailbox::BackendOptions backends;
  backends.ews.caFile = server.caFile();
  backends.ews.user = o.user;
  backends.ews.password = o.password;
  oa::mailbox::RegisterSessionClasses(backends);
  server.ClearRequests();
  const bool completed = RunCleanup(server.url(), dir);
  std::vector<Seen> seen;
  for (const SeenRequest& r : server.Requests())
    if (r.authorized) seen.push_back({r.operation, false});
  server.Stop();
  return Report("EWS", seen, completed);
}

bool Graph(const std::filesystem::path& dir, const std::string& store) {
  using namespace oa::graph::testing;
  if (!Import(Mailbox(kItems), store)) return false;
  GraphServerOptions o;
  o.storeFile = store;
  o.mailboxes = {{"jdoe", "jdoe@example.com"}};
  o.certDir = dir.string();
  GraphTestServer server(o);
  if (!server.Start()) return false;
  oa::mailbox::BackendOptions backends;
  backends.graph.tenant = o.tenant;
  backends.graph.clientId = o.clientId;
  backends.graph.clientSecret = o.clientSecret;
  backends.graph.loginUrl = server.url();
  backends.graph.graphUrl = server.url();
  backends.graph.caFile = server.caFile();
  oa::mailbox::RegisterSessionClasses(backends);
  const bool completed = RunCleanup("graph", dir);
  std::vector<Seen> seen;
  for (const SeenRequest& r : server.Requests())
    if (r.operation != "token")
      seen.push_back({r.operation.empty() ? r.target : r.operation, r.inBatch});
  server.Stop();
  return Report("Graph", seen, completed);
}

}  // namespace

int main() {
  const auto dir =
      std::filesystem::temp_directory_path() / ("requests_bench." + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const bool ews = Ews(dir, (dir / "ews.oastore").string());
  const bool graph = Graph(dir, (dir / "graph.oastore").string());
  std::filesystem::remove_all(dir);
  return ews && graph ? 0 : 1;
}
