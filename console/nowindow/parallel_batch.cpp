#include "console/nowindow/parallel_batch.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "console/form.h"
#include "console/nowindow/batch_progress.h"
#include "console/nowindow/cancel_signals.h"
#include "console/nowindow/nowindow_console.h"
#include "console/nowindow/run_result.h"

namespace oa::nowindow {

using console::ActivityLog;
using console::Control;
using console::Form;

namespace {

std::string ReadAndEmpty(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  in.close();
  std::ofstream(path, std::ios::binary | std::ios::trunc).close();
  return text.str();
}

struct Shared {
  Shared(const ParallelBatch& b, BatchReport& r) : batch(b), report(r) {}
  const ParallelBatch& batch;
  BatchReport& report;
  std::atomic<size_t> next{0};
  std::mutex outputMu;
  // One per mailbox of the list; unset: never run. Guarded by outputMu, as the rest.
  std::vector<std::optional<RunResult>> results;
  // The mailboxes before this one have their rows in the report.
  size_t reported = 0;
  size_t finished = 0;
  size_t toRun = 0;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

  // Set once a report row could not be written: no mailbox is started after it.
  std::atomic<bool> reportFailed{false};

  // The mailboxes (store entry IDs) logged on to so far, each with the list entry that has it:
  // two spellings of one mailbox that the list could not tell apart run once.
  std::mutex claimsMu;
  std::map<std::string, size_t> claims;
  // Whether entry i may go on with the mailbox; else *holder is the entry that has it.
  bool Claim(const std::string& storeID, size_t i, size_t* holder) {
    std::lock_guard lock(claimsMu);
    const auto [it, inserted] = claims.emplace(storeID, i);
    *holder = it->second;
    return inserted || it->second == i;
  }

  bool Skipped(size_t i) const { return i < batch.copied.size() && !batch.copied[i].empty(); }
  std::optional<size_t> DuplicateOf(size_t i) const {
    return i < batch.duplicateOf.size() ? batch.duplicateOf[i] : std::nullopt;
  }

  // Writes the rows that now follow on from those written.
  void WriteReadyRows() {
    while (reported < results.size() && (Skipped(reported) || results[reported])) {
      if (!Skipped(reported) && !report.failed()) {
        const bool ran = results[reported]->outcome != Outcome::duplicate;
        if (!report.Row(batch.mailboxes[reported], *results[reported], ran)) reportFailed = true;
      }
      ++reported;
    }
  }
};

void Job(Shared& shared, int index) {
  const ParallelBatch& batch = shared.batch;
  // What the job's console wrote for the mailbox in hand.
  std::string lines;
  const std::string jobLog = batch.logFile + ".job" + std::to_string(index);
  std::ofstream(jobLog, std::ios::binary | std::ios::trunc).close();
  // The list entry this job runs, and the one that holds its mailbox when that is another.
  size_t current = 0, holder = 0;
  {
    NoWindowConsole console(&lines, stderr, false);
    Form form(console, ActivityLog(jobLog));
    form.run().dryRun = batch.dryRun;
    console.Attach(form);
    console.SetText(Control::txtExServer, batch.server);
    form.run().claimMailbox = [&](const std::string& storeID) {
      return shared.Claim(storeID, current, &holder);
    };
    while (true) {
      const size_t i = shared.next++;
      if (i >= batch.mailboxes.size()) break;
      if (shared.Skipped(i) || shared.DuplicateOf(i) || shared.reportFailed) continue;
      // Once Ctrl+C has been pressed no mailbox is started.
      console.HandlePendingSignal();
      if (form.Unloaded() || CancelSignalPending()) continue;
      current = i;
      console.SetHeading(batch.mailboxes[i]);
      console.SetText(Control::txtAlias, batch.mailboxes[i]);
      console.BeginRun();
      const auto start = std::chrono::steady_clock::now();
      form.cmdOK_Click();
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      RunResult result =
          JudgeRun(form.outcome(), console.lastLine(), form, console.CancelledBySignal());
      result.seconds = took.count();
      if (form.outcome().claimRefused) result = DuplicateResult(holder, batch.mailboxes[holder]);
      const std::string logLines = ReadAndEmpty(jobLog);
      {
        std::lock_guard lock(shared.outputMu);
        std::fwrite(lines.data(), 1, lines.size(), stdout);
        std::fflush(stdout);
        lines.clear();
        ActivityLog(batch.logFile).AppendLogText(logLines);
        const double seconds = result.seconds;
        const Outcome outcome = result.outcome;
        shared.results[i] = std::move(result);
        shared.WriteReadyRows();
        if (batch.progress) {
          // The estimate from the batch's own clock: the jobs' runs overlap.
          const std::chrono::duration<double> wall =
              std::chrono::steady_clock::now() - shared.start;
          const std::string line =
              BatchProgressLine(++shared.finished, shared.toRun, batch.mailboxes[i],
                                OutcomeWord(outcome), seconds, wall.count());
          std::fprintf(stderr, "%s\n", TerminalSafe(line).c_str());
          std::fflush(stderr);
        }
      }
    }
    if (!form.Unloaded()) form.Form_Unload();
  }
  std::remove(jobLog.c_str());
}

}  // namespace

void AddJobsOption(CLI::App& app, int& jobs, CLI::Option* mailboxes) {
  app.add_option("--jobs", jobs,
                 "Clean up N mailboxes of the list at once, each on its own session")
      ->type_name("N")
      ->check(CLI::Range(1, kMaxJobs))
      ->needs(mailboxes);
}

int RunParallelBatch(const ParallelBatch& batch, BatchReport& report) {
  Shared shared(batch, report);
  shared.results.resize(batch.mailboxes.size());
  for (size_t i = 0; i < batch.mailboxes.size(); ++i) {
    // Decided before any job starts: two jobs on one mailbox would undo each other's cleanup.
    if (std::optional<size_t> first = shared.DuplicateOf(i)) {
      shared.results[i] = DuplicateResult(*first, batch.mailboxes[*first]);
    } else if (!shared.Skipped(i)) {
      ++shared.toRun;
    }
  }
  const int jobs = std::max(
      1, std::min(batch.jobs, static_cast<int>(std::max<size_t>(batch.mailboxes.size(), 1))));
  std::vector<std::thread> threads;
  for (int j = 1; j <= jobs; ++j) threads.emplace_back(Job, std::ref(shared), j);
  for (auto& t : threads) t.join();

  int status = 0;
  for (size_t i = 0; i < batch.mailboxes.size(); ++i) {
    if (shared.Skipped(i)) continue;
    const bool ran = shared.results[i].has_value();
    RunResult result;
    if (ran) {
      result = *shared.results[i];
    } else {
      result.outcome = Outcome::cancelled;
    }
    if (i >= shared.reported && !report.failed())
      report.Row(batch.mailboxes[i], result, ran && result.outcome != Outcome::duplicate);
    status = std::max(status, ExitStatus(result.outcome));
  }
  return report.failed() ? std::max(status, 2) : status;
}

}  // namespace oa::nowindow
