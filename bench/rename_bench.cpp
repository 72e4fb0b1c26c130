// The program's rename path: oa-cleanup --no-window on a store whose first Folder.Delete of the
// Handhelds folder fails by a declared fault, so the run renames the folder and empties it item
// by item. Prints, per folder size, the run's seconds, microseconds per item and the child's
// peak memory, then the ratios to the smallest size (flat is right).
//
//   rename_bench [items ...]        default: 10000 100000 1000000
#include <fcntl.h>
#include <spawn.h>
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

#include "mailbox/store/dump.h"

extern char** environ;

namespace {

using json = nlohmann::json;
namespace fs = std::filesystem;

json BenchDump(long items) {
  json agent = {
      {"key", "agent"},
      {"class", "ondavel.Agent"},
      {"subject", "ondavelAgent"},
      {"created", "2026-03-01T09:00:00Z"},
      {"named", {{"HHEntryID", {{"ref", "hh"}}}, {"HHPath", "\\\\Mailbox - bench\\Handhelds"}}}};
  json top = {{"name", "Top of Information Store"},
              {"ipmRoot", true},
              {"folders", json::array({{{"name", "Handhelds"}, {"key", "hh"}, {"items", items}}})}};
  json info = {{"name", "ondavelAgentInfo"}, {"messages", json::array({agent})}};
  json fault = {{"op", "Folder.Delete"}, {"target", "hh"}, {"error", "0x80004005"}, {"times", 1}};
  return {{"format", oa::store::kDumpFormat},
          {"stores", json::array({{{"kind", "mailbox"},
                                   {"displayName", "Mailbox - bench"},
                                   {"alias", "bench"},
                                   {"address", "bench@example.com"},
                                   {"root", {{"folders", json::array({info, top})}}}}})},
          {"faults", json::array({fault})}};
}

struct Run {
  double seconds = 0;
  long peakKb = 0;
  int status = -1;
  bool renamed = false;
};

Run RunCleanup(const fs::path& dir) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env.push_back("OA_STORE_DIR=" + dir.string());
  env.push_back("OA_REGISTRY_USER=" + (dir / "user.reg").string());
  env.push_back("OA_REGISTRY_MACHINE=" + (dir / "machine.reg").string());
  env.push_back("LC_ALL=C");
  std::vector<std::string> args = {
      OA_CLEANUP_BIN, "--no-window", "--log",     (dir / "run.log").string(),
      "--server",     "bench",       "--mailbox", "bench"};
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string out = (dir / "stdout.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  Run run;
  pid_t pid = 0;
  const auto start = std::chrono::steady_clock::now();
  if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) return run;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakKb = usage.ru_maxrss;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(out);
  for (std::string line; std::getline(in, line);) {
    run.renamed |= line.rfind("successfully renamed existing folder as ", 0) == 0;
  }
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::stol(argv[i]));
  if (sizes.empty()) sizes = {10000, 100000, 1000000};
  const fs::path dir = fs::temp_directory_path() / ("rename-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "user.reg") << "";
  std::ofstream(dir / "machine.reg") << "";
  double baseUs = 0, baseKb = 0;
  for (long items : sizes) {
    std::string error;
    if (!oa::store::ImportDump(BenchDump(items).dump(), (dir / "bench.oastore").string(), &error)) {
      std::fprintf(stderr, "import failed: %s\n", error.c_str());
      return 1;
    }
    const Run r = RunCleanup(dir);
    const double us = r.seconds * 1e6 / static_cast<double>(items);
    if (baseUs == 0) {
      baseUs = us;
      baseKb = static_cast<double>(r.peakKb);
    }
    std::printf(
        "%8ld items: %7.2f s  %6.1f us/item  peak %7ld kB  exit %d%s  ratio to first: "
        "us/item %.2f  memory %.2f\n",
        items, r.seconds, us, r.peakKb, r.status, r.renamed ? " (renamed)" : " (NOT RENAMED)",
        us / baseUs, static_cast<double>(r.peakKb) / baseKb);
    std::fflush(stdout);
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
