// The batch without a window over 200 small mailboxes in one store file: mailboxes per second,
// and whether a mailbox costs more once many have been processed on the same session (the
// mean of the last 50 against the first 50, from the report's seconds column). Then the batch
// over EWS, the loopback server answering 20 ms late, with --jobs 1, 2, 4 and 8.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "mailbox/store/dump.h"
#include "tests/ews/ews_test_server.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr int kMailboxes = 200;
constexpr int kWindow = 50;
// Above this the per-mailbox cost is taken to grow.
constexpr double kMaxGrowth = 1.5;

json Mailbox(int i) {
  const std::string alias = "user" + std::to_string(i);
  return {{"kind", "mailbox"},
          {"displayName", "Mailbox - " + alias},
          {"alias", alias},
          {"address", alias + "@example.com"},
          {"root",
           {{"folders",
             {{{"name", "ondavelAgentInfo"},
               {"messages",
                {{{"class", "ondavel.Agent"},
                  {"subject", "ondavelAgent"},
                  {"named", {{"HHEntryID", {{"ref", alias + "-hh"}}}}}}}}},
              {{"name", "Top of Information Store"},
               {"ipmRoot", true},
               {"folders", {{{"name", "Handhelds"}, {"key", alias + "-hh"}, {"items", 20}}}}}}}}}};
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The seconds column of each data row; every row of this batch is unquoted.
std::vector<double> ReportSeconds(const std::string& path, int& completed) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  std::vector<double> seconds;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream row(line);
    std::string field;
    while (std::getline(row, field, ',')) fields.push_back(field);
    if (fields.size() < 5) continue;
    if (fields[1] == "completed") ++completed;
    seconds.push_back(std::stod(fields[4]));
  }
  return seconds;
}

double Mean(const std::vector<double>& v, size_t from, size_t count) {
  double sum = 0;
  for (size_t i = from; i < from + count; ++i) sum += v[i];
  return sum / static_cast<double>(count);
}

constexpr int kEwsMailboxes = 40;

// Mailboxes per second over EWS for each number of jobs; 0 when a batch failed.
int EwsJobs(const fs::path& dir) {
  json stores = json::array();
  std::vector<oa::ews::testing::ServerMailbox> served;
  std::ofstream mailboxes(dir / "ews-mailboxes.txt");
  for (int i = 1; i <= kEwsMailboxes; ++i) {
    stores.push_back(Mailbox(i));
    mailboxes << "user" << i << "\n";
    served.push_back({"user" + std::to_string(i), "user" + std::to_string(i) + "@example.com"});
  }
  mailboxes.close();
  const json dump{{"format", oa::store::kDumpFormat}, {"stores", stores}};
  std::printf("batch of %d mailboxes over EWS, 20 ms a request\n", kEwsMailboxes);
  double one = 0;
  int status = 0;
  for (const int jobs : {1, 2, 4, 8}) {
    const std::string store = (dir / ("ews-" + std::to_string(jobs) + ".oastore")).string();
    std::string error;
    if (!oa::store::ImportDump(dump.dump(), store, &error)) {
      std::fprintf(stderr, "batch_bench: import failed: %s\n", error.c_str());
      return 1;
    }
    oa::ews::testing::ServerOptions o;
    o.storeFile = store;
    o.mailboxes = served;
    o.certDir = dir.string();
    o.latency = std::chrono::milliseconds(20);
    oa::ews::testing::EwsTestServer server(o);
    if (!server.Start()) return 1;
    setenv("OA_EWS_CAFILE", server.caFile().c_str(), 1);
    setenv("OA_EWS_USER", o.user.c_str(), 1);
    setenv("OA_EWS_PASSWORD", o.password.c_str(), 1);
    const std::string report = (dir / "ews-report.csv").string();
    const auto start = std::chrono::steady_clock::now();
    const std::string run = Quote(OA_CLEANUP_BIN) + " --no-window --server " + Quote(server.url()) +
                            " --mailboxes " + Quote((dir / "ews-mailboxes.txt").string()) +
                            (jobs > 1 ? " --jobs " + std::to_string(jobs) : std::string()) +
                            " --report " + Quote(report) + " --log " +
                            Quote((dir / "ews.log").string()) + " >/dev/null 2>&1";
    const int rc = std::system(run.c_str());
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    int completed = 0;
    ReportSeconds(report, completed);
    server.Stop();
    if (rc != 0 || completed != kEwsMailboxes) {
      std::printf("  --jobs %d: failed (exit %d, %d of %d completed)\n", jobs, rc, completed,
                  kEwsMailboxes);
      status = 1;
      continue;
    }
    const double rate = kEwsMailboxes / wall.count();
    if (jobs == 1) one = rate;
    std::printf("  --jobs %d: %7.3f s  %6.2f mailboxes per second  (%.2fx --jobs 1)\n", jobs,
                wall.count(), rate, one > 0 ? rate / one : 0.0);
    if (jobs == 8 && one > 0 && rate < 6 * one) status = 1;
  }
  std::printf("  target: --jobs 8 at least 6 times --jobs 1\n");
  return status;
}

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() / ("oa-batch-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string store = (dir / "bench.oastore").string();
  const std::string list = (dir / "mailboxes.txt").string();
  const std::string report = (dir / "report.csv").string();

  json stores = json::array();
  std::ofstream mailboxes(list);
  for (int i = 1; i <= kMailboxes; ++i) {
    stores.push_back(Mailbox(i));
    mailboxes << "user" << i << "\n";
  }
  mailboxes.close();
  std::ofstream(dir / "empty.reg").close();
  setenv("OA_REGISTRY_USER", (dir / "empty.reg").c_str(), 1);
  setenv("OA_REGISTRY_MACHINE", (dir / "empty.reg").c_str(), 1);

  int status = 1;
  std::string error;
  if (!oa::store::ImportDump(json{{"format", oa::store::kDumpFormat}, {"stores", stores}}.dump(),
                             store, &error)) {
    std::fprintf(stderr, "batch_bench: import failed: %s\n", error.c_str());
  } else {
    const auto start = std::chrono::steady_clock::now();
    const std::string run = Quote(OA_CLEANUP_BIN) + " --no-window --server " + Quote(store) +
                            " --mailboxes " + Quote(list) + " --report " + Quote(report) +
                            " --log " + Quote((dir / "OA-Cleanup.log").string()) + " >/dev/null";
    const int rc = std::system(run.c_str());
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    int completed = 0;
    const std::vector<double> seconds = ReportSeconds(report, completed);
    if (rc != 0 || completed != kMailboxes || seconds.size() != static_cast<size_t>(kMailboxes)) {
      std::fprintf(stderr, "batch_bench: batch ended with %d, %d of %d completed\n", rc, completed,
                   kMailboxes);
    } else {
      const double first = Mean(seconds, 0, kWindow);
      const double last = Mean(seconds, kMailboxes - kWindow, kWindow);
      const double ratio = last / first;
      std::printf("batch of %d mailboxes (20 items each) on one session\n", kMailboxes);
      std::printf("  wall time            %8.3f s\n", wall.count());
      std::printf("  mailboxes per second %8.1f\n", kMailboxes / wall.count());
      std::printf("  first %d: mean      %8.2f ms per mailbox\n", kWindow, first * 1000);
      std::printf("  last %d:  mean      %8.2f ms per mailbox\n", kWindow, last * 1000);
      std::printf("  last / first         %8.2f (limit %.2f) %s\n", ratio, kMaxGrowth,
                  ratio <= kMaxGrowth ? "flat" : "GROWS");
      status = ratio <= kMaxGrowth ? 0 : 1;
    }
  }
  if (EwsJobs(dir) != 0) status = 1;
  std::error_code ec;
  fs::remove_all(dir, ec);
  return status;
}
