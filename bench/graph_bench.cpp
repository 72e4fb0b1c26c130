// The Graph backend against the loopback Graph server with 5 ms of latency on every answer:
// round trips (HTTP requests, a $batch counting once) and the requests inside batches per deleted
// item when a folder is emptied item by item through the program's own loop, and items per
// second, beside the service's own ceiling. An argument after the item count sets the delete
// group (1: every delete on its own, as before batching).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "console/form.h"
#include "handhelds/folder_ops.h"
#include "mailbox/backends.h"
#include "mailbox/graph/objects.h"
#include "tests/graph/graph_test_server.h"
#include "tests/support/recording_console.h"

namespace {

using nlohmann::json;
using namespace oa::graph::testing;

json Mailbox(int items) {
  json agent = {
      {"key", "agent"},
      {"class", "ondavel.Agent"},
      {"subject", "ondavelAgent"},
      {"created", "2026-03-01T09:00:00Z"},
      {"named", {{"HHEntryID", {{"ref", "hh"}}}, {"HHPath", "\\\\Mailbox - jdoe\\Handhelds"}}}};
  json top = {{"name", "Top of Information Store"},
              {"ipmRoot", true},
              {"folders", {{{"name", "Handhelds"}, {"key", "hh"}, {"items", items}}}}};
  json info = {{"name", "ondavelAgentInfo"}, {"messages", {agent}}};
  return {{"format", "oa-store-dump/1"},
          {"stores",
           {{{"kind", "mailbox"},
             {"displayName", "Mailbox - jdoe"},
             {"alias", "jdoe"},
             {"address", "jdoe@example.com"},
             {"root", {{"folders", {info, top}}}}}}}};
}

bool Import(const json& dump, const std::string& store) {
  std::ofstream(store + ".json") << dump.dump();
  std::filesystem::remove(store);
  const std::string cmd =
      std::string("'") + OA_STORE_BIN + "' import '" + store + ".json' '" + store + "'";
  return std::system(cmd.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int items = argc > 1 ? std::atoi(argv[1]) : 500;
  const int group = argc > 2 ? std::atoi(argv[2]) : 0;
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
  GraphTestServer server(o);
  if (!server.Start()) return 1;
  oa::mailbox::BackendOptions backends;
  backends.graph.tenant = o.tenant;
  backends.graph.clientId = o.clientId;
  backends.graph.clientSecret = o.clientSecret;
  backends.graph.loginUrl = server.url();
  backends.graph.graphUrl = server.url();
  backends.graph.caFile = server.caFile();
  oa::mailbox::ConfigureBackends(backends);

  auto session = std::make_shared<oa::graph::GraphSession>();
  session->LogonExchangeMailbox("jdoe", "graph");
  auto root = session->LoggedOn() ? session->Stores()->DefaultStore()->IPMRootFolder() : nullptr;
  auto folder = root ? root->Folders()->Item("Handhelds") : nullptr;
  if (!folder) return 1;
  if (group > 0) session->SetDeleteGroup(static_cast<size_t>(group));
  oa::testing::RecordingConsole console;
  oa::Form form(console, oa::ActivityLog((dir / "empty.log").string()));
  const size_t seenBefore = server.Requests().size();
  const long before = session->RequestsSent();
  const auto start = std::chrono::steady_clock::now();
  oa::FolderEmptying outcome;
  const bool emptied = oa::DeleteFolderItems(form.run(), folder, &outcome);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long requests = session->RequestsSent() - before;
  const auto seen = server.Requests();
  std::map<std::string, int> byOp, inBatches;
  for (size_t i = seenBefore; i < seen.size(); ++i)
    ++(seen[i].inBatch ? inBatches : byOp)[seen[i].operation];
  long batched = 0;
  for (const auto& [op, n] : inBatches) batched += n;
  const long deleted = static_cast<long>(outcome.deleted);
  const double perItem = deleted ? static_cast<double>(requests) / deleted : 0;
  std::printf("item-by-item emptying of %ld items (%s), 5 ms latency per answer: %ld requests\n",
              deleted, emptied ? "emptied" : "not emptied", requests);
  for (const auto& [op, n] : byOp) std::printf("  %s %d\n", op.c_str(), n);
  for (const auto& [op, n] : inBatches) std::printf("  inside batches: %s %d\n", op.c_str(), n);
  std::printf("round trips per deleted item: %.3f (target <= 0.06)\n", perItem);
  std::printf("items per second: %.0f\n", deleted / seconds);
  std::printf("most requests in flight at once: %d (Graph allows 4 per mailbox)\n",
              server.maxInFlight());
  std::printf(
      "service ceiling: 10,000 requests per 10 minutes per mailbox and application, each request "
      "inside a batch counted on its own, that is %.0f items per 10 minutes at %.3f requests per "
      "item\n",
      deleted ? 10000.0 * deleted / static_cast<double>(requests - byOp["batch"] + batched) : 0.0,
      deleted ? static_cast<double>(requests - byOp["batch"] + batched) / deleted : 0.0);
  std::filesystem::remove_all(dir);
  return emptied ? 0 : 1;
}
