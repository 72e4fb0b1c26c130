// `oa-cleanup --no-window`: one cleanup, or one per mailbox of a list, without a window, on the
// same run sequence as OK in the window.
#pragma once

#include <optional>
#include <string>

#include "settings/settings.h"

namespace CLI {
class App;
}

namespace oa::nowindow {

struct NoWindowOptions {
  bool noWindow = false;
  // Replace what the registry put into the boxes.
  std::optional<std::string> server;
  std::optional<std::string> mailbox;
  // A batch: the file of mailboxes ("-": standard input), and the CSV report (none when
  // empty).
  std::string mailboxesFile;
  std::string reportFile;
  // An earlier report of the batch: only the mailboxes without a "completed" row in it run. The
  // new report goes to reportFile, else replaces this one.
  std::string resumeFile;
  // Look everything up and change nothing; each change is shown as "Dry run: would ...".
  bool dryRun = false;
  // Mailboxes of the batch cleaned up at once, each job on a session of its own.
  int jobs = 1;
  // The log file; empty: the one beside the program.
  std::string logFile;
};

// --no-window, --server, --mailbox, --mailboxes, --report, --resume and --dry-run on the
// program's command line. The others need --no-window; --report and --resume need --mailboxes,
// which excludes --mailbox.
void AddNoWindowOptions(CLI::App& app, NoWindowOptions& options);

// Runs the cleanup (or the batch) and returns the exit status: 0 completed (a dry run: the
// cleanup would start), 1 the cleanup did not finish (would find no Handhelds folder), 2 a failed
// input check or an unreadable list or report, 3 no session, logon or agent data, 130 cancelled by
// a signal. A batch gives 0 when every mailbox completed (or was planned), else the highest
// status met. The session class must be registered before. The boxes are filled from the
// registry first (on systems without one, from the export files `registry` names).
int RunWithoutWindow(const NoWindowOptions& options, const settings::RegistryFiles& registry);

}  // namespace oa::nowindow
