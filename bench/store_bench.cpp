// The embedded store's costs against folder size: Items.Count, GetFirst and single deletes at
// 10 and 1,000,000 items, the import of a million items, the bulk delete, and the peak memory
// of an export at 10,000 and 1,000,000 items.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "mailbox/model/const_mapi.h"
#include "mailbox/model/rdo.h"
#include "mailbox/store/dump.h"
#include "mailbox/store/embedded_store.h"
#include "mailbox/store/schema.h"

namespace {

using namespace oa;
using Clock = std::chrono::steady_clock;
using json = nlohmann::json;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

json SizedStore(std::initializer_list<std::pair<const char*, int>> folders) {
  json list = json::array();
  for (const auto& [name, items] : folders) list.push_back({{"name", name}, {"items", items}});
  json top = {{"name", "Top of Information Store"}, {"ipmRoot", true}, {"folders", list}};
  return {{"format", "oa-store-dump/1"},
          {"stores", json::array({{{"kind", "mailbox"},
                                   {"displayName", "Mailbox - Bench"},
                                   {"alias", "bench"},
                                   {"address", "bench@example.com"},
                                   {"root", {{"folders", json::array({top})}}}}})}};
}

bool Import(const json& dump, const std::string& path) {
  std::string error;
  if (!store::ImportDump(dump.dump(), path, &error)) {
    std::fprintf(stderr, "import failed: %s\n", error.c_str());
    return false;
  }
  return true;
}

std::shared_ptr<mailbox::RDOItems> ItemsOf(mailbox::RDOSession& s, const char* folder) {
  return s.Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item(folder)->Items();
}

double CpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Microseconds a call takes on average over n calls.
template <class F>
double MicrosPerCall(int n, F&& call) {
  const auto start = Clock::now();
  for (int i = 0; i < n; ++i) call();
  return Seconds(start) * 1e6 / n;
}

// Peak resident memory (kB) of a child process that exports the store to /dev/null.
long ExportPeakKb(const std::string& path) {
  const pid_t child = ::fork();
  if (child == 0) {
    std::ofstream devnull("/dev/null");
    std::string error;
    ::_exit(store::ExportDump(path, devnull, -1, &error) ? 0 : 1);
  }
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

}  // namespace

int main() {
  const std::string dir = (std::filesystem::temp_directory_path() / "oa-store-bench").string();
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/bench.oastore";

  auto start = Clock::now();
  double cpu = CpuSeconds();
  if (!Import(SizedStore({{"Small", 10}, {"Large", 1000000}}), path)) return 1;
  const double importSeconds = Seconds(start);
  std::printf("import of a 1,000,000-item folder (and one of 10): %.2f s (%.2f s of CPU)\n",
              importSeconds, CpuSeconds() - cpu);

  auto session = store::NewEmbeddedSession();
  session->LogonExchangeMailbox("bench", path);
  if (!session->LoggedOn()) return 1;
  auto small = ItemsOf(*session, "Small");
  auto large = ItemsOf(*session, "Large");

  const int n = 20000;
  const double countSmall = MicrosPerCall(n, [&] { small->Count(); });
  const double countLarge = MicrosPerCall(n, [&] { large->Count(); });
  const double firstSmall = MicrosPerCall(n, [&] { small->GetFirst(); });
  const double firstLarge = MicrosPerCall(n, [&] { large->GetFirst(); });
  std::printf("Items.Count:    %.2f us at 10 items, %.2f us at 1,000,000 (ratio %.2f)\n",
              countSmall, countLarge, countLarge / countSmall);
  std::printf("Items.GetFirst: %.2f us at 10 items, %.2f us at 1,000,000 (ratio %.2f)\n",
              firstSmall, firstLarge, firstLarge / firstSmall);

  // Deletes at 10 items: many folders of 10, each emptied in turn.
  const std::string smallPath = dir + "/small.oastore";
  double deleteSmall = 0;
  {
    const int folders = 1000;
    json list = json::array();
    for (int i = 0; i < folders; ++i) {
      list.push_back({{"name", "Small " + std::to_string(i)}, {"items", 10}});
    }
    json dump = SizedStore({});
    dump["stores"][0]["root"]["folders"][0]["folders"] = list;
    if (!Import(dump, smallPath)) return 1;
    auto s = store::NewEmbeddedSession();
    s->LogonExchangeMailbox("bench", smallPath);
    auto top = s->Stores()->DefaultStore()->IPMRootFolder()->Folders();
    std::vector<std::shared_ptr<mailbox::RDOItems>> all;
    for (int i = 1; i <= folders; ++i) all.push_back(top->Item(i)->Items());
    const auto t = Clock::now();
    for (auto& items : all) {
      for (int i = 0; i < 10; ++i) items->GetFirst()->Delete(mailbox::ConstMAPI::dfHardDelete);
    }
    deleteSmall = Seconds(t) * 1e6 / (folders * 10);
  }
  const int deletes = 100000;
  start = Clock::now();
  const double cpuBefore = CpuSeconds();
  for (int i = 0; i < deletes; ++i) large->GetFirst()->Delete(mailbox::ConstMAPI::dfHardDelete);
  const double deleteSeconds = Seconds(start);
  const double deleteCpu = CpuSeconds() - cpuBefore;
  const double deleteLarge = deleteSeconds * 1e6 / deletes;
  std::printf("GetFirst+Delete: %.1f us at 10 items, %.1f us at 1,000,000 (ratio %.2f)\n",
              deleteSmall, deleteLarge, deleteLarge / deleteSmall);
  std::printf("100,000 single-item deletes (synchronous=NORMAL): %.2f s (%.2f s of CPU)\n",
              deleteSeconds, deleteCpu);

  {
    auto s = store::NewEmbeddedSession({}, {.syncEveryCommit = true});
    s->LogonExchangeMailbox("bench", path);
    auto items = ItemsOf(*s, "Large");
    const int k = 300;
    start = Clock::now();
    for (int i = 0; i < k; ++i) items->GetFirst()->Delete(mailbox::ConstMAPI::dfHardDelete);
    const double full = Seconds(start) * 1e6 / k;
    std::printf("GetFirst+Delete with synchronous=FULL: %.1f us (100,000 would take %.1f s)\n",
                full, full * deletes / 1e6);
  }

  const std::string largeId =
      session->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Large")->EntryID();
  const int32_t left = large->Count();
  session->Logoff();
  std::string error;
  start = Clock::now();
  if (!store::BulkDeleteFolderItems(path, largeId, &error)) {
    std::fprintf(stderr, "bulk delete failed: %s\n", error.c_str());
    return 1;
  }
  const double bulk = Seconds(start);
  std::printf("bulk delete of %d items: %.2f s; item by item would take %.1f s (ratio %.1f)\n",
              left, bulk, left * deleteLarge / 1e6, left * deleteLarge / 1e6 / bulk);

  const std::string p10k = dir + "/10k.oastore", p1m = dir + "/1m.oastore";
  if (!Import(SizedStore({{"Handhelds", 10000}}), p10k)) return 1;
  if (!Import(SizedStore({{"Handhelds", 1000000}}), p1m)) return 1;
  const long kb10k = ExportPeakKb(p10k), kb1m = ExportPeakKb(p1m);
  std::printf(
      "export of every message, peak memory: %ld kB at 10,000, %ld kB at 1,000,000 "
      "(ratio %.2f)\n",
      kb10k, kb1m, static_cast<double>(kb1m) / static_cast<double>(kb10k));
  std::filesystem::remove_all(dir);
  return 0;
}
