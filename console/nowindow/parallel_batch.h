// A batch run by several jobs at once (--jobs N): each job is a window-less window of its own
// on a thread, with its own session, taking the next mailbox of the list when it is free. A
// mailbox's stdout lines and log lines are written in one piece when it is done; the report's
// rows follow the list's order.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "console/nowindow/batch_report.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace oa::nowindow {

inline constexpr int kMaxJobs = 64;

// --jobs N (1 to kMaxJobs), which needs --mailboxes.
void AddJobsOption(CLI::App& app, int& jobs, CLI::Option* mailboxes);

struct ParallelBatch {
  std::string server;
  std::vector<std::string> mailboxes;
  // For each mailbox a row of an earlier report, which is then not run (empty: run it).
  std::vector<std::string> copied;
  // For each mailbox the earlier entry it repeats; such an entry is not run (its row says so).
  std::vector<std::optional<size_t>> duplicateOf;
  // The activity log every job's lines end up in.
  std::string logFile;
  int jobs = 1;
  bool dryRun = false;
  // Progress lines on stderr, one per finished mailbox.
  bool progress = false;
};

// Runs the batch and returns its exit status, as the batch on one session does. Ctrl+C cancels
// the mailboxes being cleaned up and marks the ones not started as cancelled. A report row is
// written as soon as the rows before it in the list are, so that a killed batch leaves every
// row it can give in the list's order. A report row that cannot be written starts no further
// mailbox; the status is then at least 2 and report.error() says why.
int RunParallelBatch(const ParallelBatch& batch, BatchReport& report);

}  // namespace oa::nowindow
