// The EWS backend against the loopback server: round trips per deleted item when a folder is
// emptied item by item, and items per second, with the server answering at once and after a
// delay of 5 and 20 ms a request (a LAN, a VPN); then the requests of one whole cleanup of a
// 10-item Handhelds folder by the delete path (requests_bench prints it beside Graph's).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/mapi_error.h"
#include "bench/bench_mailbox.h"
#include "console/form.h"
#include "handhelds/folder_ops.h"
#include "mailbox/backends.h"
#include "mailbox/ews/ews_session.h"
#include "mailbox/ews/objects.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/model/session_registry.h"
#include "tests/ews/ews_test_server.h"
#include "tests/support/recording_console.h"

namespace {

using nlohmann::json;
using namespace oa::ews::testing;

using oa::bench::Import;
using oa::bench::Mailbox;

struct Served {
  std::unique_ptr<EwsTestServer> server;
  bool ok = false;
  // What sessions log on to it with.
  oa::ews::EwsOptions ews;
};

Served Serve(const std::string& dir, const std::string& store,
             std::chrono::milliseconds latency = std::chrono::milliseconds(0)) {
  ServerOptions o;
  o.latency = latency;
  o.storeFile = store;
  o.mailboxes = {{"jdoe", "jdoe@example.com"}};
  o.certDir = dir;
  o.lifetime = std::chrono::seconds(600);
  Served s;
  s.server = std::make_unique<EwsTestServer>(o);
  s.ok = s.server->Start();
  s.ews.caFile = s.server->caFile();
  s.ews.user = o.user;
  s.ews.password = o.password;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const int items = argc > 1 ? std::atoi(argv[1]) : 2000;
  const auto dir =
      std::filesystem::temp_directory_path() / ("ews_bench." + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string store = (dir / "bench.oastore").string();
  int status = 0;

  // Item by item, through the program's own emptying loop: first with one DeleteItem for every
  // item (as this backend sent them before it grouped them), then grouped.
  std::map<std::pair<bool, int>, double> rates;
  for (const bool grouped : {false, true})
    for (const int latency : {0, 5, 20}) {
      if (!Import(Mailbox(grouped ? items : items / 4), store)) return 1;
      Served s = Serve(dir.string(), store, std::chrono::milliseconds(latency));
      if (!s.ok) return 1;
      auto session = std::make_shared<oa::ews::EwsSession>(s.ews);
      session->LogonExchangeMailbox("jdoe", s.server->url());
      if (!grouped) session->SetDeleteGroup(1);
      auto folder =
          session->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds");
      if (!folder) return 1;
      oa::testing::RecordingConsole console;
      oa::console::Form form(console, oa::console::ActivityLog((dir / "empty.log").string()));
      s.server->ClearRequests();
      const long before = session->RequestsSent();
      const auto start = std::chrono::steady_clock::now();
      oa::handhelds::FolderEmptying outcome;
      const bool emptied = oa::handhelds::DeleteFolderItems(form.run(), folder, &outcome);
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const long requests = session->RequestsSent() - before;
      const long deleted = static_cast<long>(outcome.deleted);
      const double perItem = deleted ? static_cast<double>(requests) / deleted : 0;
      std::printf(
          "%s, %2d ms a request: emptying of %ld items (%s): %ld requests (%lld DeleteItem, %lld "
          "FindItem, %lld ConvertId)\n",
          grouped ? "grouped" : "one DeleteItem an item", latency, deleted,
          emptied ? "emptied" : "not emptied", requests,
          static_cast<long long>(s.server->OperationCount("DeleteItem")),
          static_cast<long long>(s.server->OperationCount("FindItem")),
          static_cast<long long>(s.server->OperationCount("ConvertId")));
      rates[{grouped, latency}] = deleted / seconds;
      std::printf("   round trips per deleted item: %.3f%s\n", perItem,
                  grouped ? " (target <= 0.02)" : "");
      std::printf("   items per second: %.0f", deleted / seconds);
      if (grouped && rates[{false, latency}] > 0)
        std::printf(" (%.1f times one DeleteItem an item%s)",
                    rates[{true, latency}] / rates[{false, latency}],
                    latency == 5 ? ", target >= 30" : "");
      std::printf("\n   connections opened: %ld\n", session->ConnectsMade());
      if (!emptied || (grouped && perItem > 0.02)) status = 1;
      if (grouped && latency == 5 && rates[{true, 5}] < 30 * rates[{false, 5}]) status = 1;
    }

  // A whole cleanup through the program's run: the folder is deleted in one call.
  if (!Import(Mailbox(10), store)) return 1;
  {
    Served s = Serve(dir.string(), store);
    if (!s.ok) return 1;
    auto settings = std::make_shared<oa::ews::LogonSettings>(s.ews);
    oa::mailbox::RegisterSessionClass(oa::mailbox::kSessionProgID,
                                      [settings] { return oa::ews::NewEwsSession(settings); });
    oa::testing::RecordingConsole console;
    console.texts[oa::console::Control::txtExServer] = s.server->url();
    console.texts[oa::console::Control::txtAlias] = "jdoe";
    console.chkHH = 1;
    {
      oa::console::Form form(console, oa::console::ActivityLog((dir / "OA-Cleanup.log").string()));
      s.server->ClearRequests();
      form.cmdOK_Click();
      // Authentication rounds (the server's 401 challenges) are not counted.
      std::vector<std::string> operations;
      for (const auto& r : s.server->Requests())
        if (r.authorized) operations.push_back(r.operation);
      std::printf(
          "requests per cleanup of a 10-item folder by the delete path: %zu (target <= 12)\n",
          operations.size());
      std::map<std::string, int> byOp;
      std::string order;
      for (const auto& op : operations) {
        ++byOp[op];
        order += (order.empty() ? "" : " ") + op;
      }
      for (const auto& [op, n] : byOp) std::printf("  %s %d\n", op.c_str(), n);
      std::printf("  in order: %s\n", order.c_str());
      if (operations.size() > 12) status = 1;
      if (console.results.empty() ||
          console.results.back() != "pointed agent to new Handhelds folder") {
        std::printf("the cleanup did not complete: %s\n",
                    console.results.empty() ? "" : console.results.back().c_str());
        status = 1;
      }
      form.Form_Unload();
    }
  }
  std::filesystem::remove_all(dir);
  return status;
}
