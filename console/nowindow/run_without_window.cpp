#include "console/nowindow/run_without_window.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <vector>

#include "base/platform.h"
#include "console/form.h"
#include "console/nowindow/batch_progress.h"
#include "console/nowindow/batch_report.h"
#include "console/nowindow/batch_resume.h"
#include "console/nowindow/cancel_signals.h"
#include "console/nowindow/mailbox_list.h"
#include "console/nowindow/nowindow_console.h"
#include "console/nowindow/parallel_batch.h"
#include "console/nowindow/run_result.h"

namespace oa::nowindow {

using console::ActivityLog;
using console::Control;
using console::Form;

namespace {

constexpr int kUsageError = 2;

int UsageError(const std::string& text) {
  std::fprintf(stderr, "oa-cleanup: %s\n", text.c_str());
  return kUsageError;
}

// One press of OK, judged.
RunResult RunOnce(Form& form, NoWindowConsole& console) {
  console.BeginRun();
  const auto start = std::chrono::steady_clock::now();
  form.cmdOK_Click();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  RunResult result =
      JudgeRun(form.outcome(), console.lastLine(), form, console.CancelledBySignal());
  result.seconds = took.count();
  return result;
}

// The mailboxes to run, with the report's rows written as each one ends. `copied`: for each
// mailbox a row of an earlier report, which is then not run (empty: run it).
int RunBatch(Form& form, NoWindowConsole& console, const std::vector<std::string>& mailboxes,
             const std::vector<std::string>& copied,
             const std::vector<std::optional<size_t>>& duplicateOf, BatchReport& report) {
  int status = 0;
  size_t total = 0;
  for (size_t i = 0; i < mailboxes.size(); ++i) total += copied[i].empty() && !duplicateOf[i];
  size_t done = 0;
  double elapsed = 0;
  for (size_t i = 0; i < mailboxes.size(); ++i) {
    if (!copied[i].empty()) continue;
    // A report that cannot be written ends the batch: its rows would be lost.
    if (report.failed()) return std::max(status, kUsageError);
    const std::string& mailbox = mailboxes[i];
    if (duplicateOf[i]) {
      report.Row(mailbox, DuplicateResult(*duplicateOf[i], mailboxes[*duplicateOf[i]]), false);
      continue;
    }
    // A signal between two runs stops the batch as one during a run does.
    console.HandlePendingSignal();
    if (form.Unloaded()) {
      RunResult notRun;
      notRun.outcome = Outcome::cancelled;
      report.Row(mailbox, notRun, false);
      status = std::max(status, ExitStatus(Outcome::cancelled));
      continue;
    }
    console.SetHeading(mailbox);
    console.SetText(Control::txtAlias, mailbox);
    const RunResult result = RunOnce(form, console);
    report.Row(mailbox, result, true);
    status = std::max(status, ExitStatus(result.outcome));
    elapsed += result.seconds;
    console.ProgressLine(BatchProgressLine(++done, total, mailbox, OutcomeWord(result.outcome),
                                           result.seconds, elapsed));
  }
  return report.failed() ? std::max(status, kUsageError) : status;
}

}  // namespace

void AddNoWindowOptions(CLI::App& app, NoWindowOptions& options) {
  CLI::Option* noWindow =
      app.add_flag("--no-window", options.noWindow, "Run the cleanup without a window");
  app.add_option_function<std::string>(
         "--server", [&options](const std::string& s) { options.server = s; },
         "Exchange server (host name or https URL), or store (NAME or file), instead of the "
         "registry's")
      ->needs(noWindow);
  CLI::Option* mailbox =
      app.add_option_function<std::string>(
             "--mailbox", [&options](const std::string& s) { options.mailbox = s; },
             "Mailbox alias or address instead of the registry's")
          ->needs(noWindow);
  CLI::Option* mailboxes =
      app.add_option("--mailboxes", options.mailboxesFile,
                     "Clean up every mailbox of FILE (- for standard input), one a line, on one "
                     "session")
          ->type_name("FILE")
          ->needs(noWindow)
          ->excludes(mailbox);
  app.add_option("--report", options.reportFile, "Write a CSV row per mailbox of the batch")
      ->type_name("CSV")
      ->needs(mailboxes);
  app.add_option("--resume", options.resumeFile,
                 "Run only the mailboxes without a \"completed\" row in REPORT, an earlier "
                 "report of the batch; the new report (--report, else REPORT) has every row")
      ->type_name("REPORT")
      ->needs(mailboxes);
  app.add_flag("--dry-run", options.dryRun,
               "Look everything up and change nothing: show each change the cleanup would make")
      ->needs(noWindow);
  AddJobsOption(app, options.jobs, mailboxes);
}

int RunWithoutWindow(const NoWindowOptions& options, const settings::RegistryFiles& registry) {
  const bool batch = !options.mailboxesFile.empty();
  std::vector<std::string> mailboxes;
  std::vector<std::string> copied;
  std::vector<std::optional<size_t>> duplicateOf;
  BatchReport report;
  if (batch) {
    const bool fromStdin = options.mailboxesFile == "-";
    const std::string listName = fromStdin ? "standard input" : options.mailboxesFile;
    MailboxList list;
    if (fromStdin) {
      list = ParseMailboxList(std::cin, listName);
      if (std::cin.bad()) return UsageError("cannot read the mailbox list from standard input");
    } else {
      list = ReadMailboxList(options.mailboxesFile);
    }
    if (!list.error.empty()) return UsageError(list.error);
    if (list.mailboxes.empty())
      return UsageError("the mailbox list " + listName + " names no mailbox");
    mailboxes = std::move(list.mailboxes);
    duplicateOf = FindDuplicates(mailboxes);
    copied.assign(mailboxes.size(), std::string());
    std::string reportFile = options.reportFile;
    if (!options.resumeFile.empty()) {
      std::string error;
      std::optional<ResumePlan> plan = PlanResume(options.resumeFile, mailboxes, &error);
      if (!plan) return UsageError("cannot resume from " + error);
      copied = std::move(plan->copiedRows);
      if (plan->rowsNotInList > 0) {
        std::fprintf(stderr,
                     "oa-cleanup: %zu row(s) of %s name mailboxes that are not in the list; the "
                     "new report leaves them out\n",
                     plan->rowsNotInList, options.resumeFile.c_str());
      }
      // A dry run only reads the earlier report; its own goes where --report says.
      if (reportFile.empty() && !options.dryRun) reportFile = options.resumeFile;
    }
    std::vector<std::string> rows;
    for (const std::string& row : copied) {
      if (!row.empty()) rows.push_back(row);
    }
    if (!reportFile.empty() && !report.Open(reportFile, rows)) return UsageError(report.error());
  }

  CancelSignals signals;
  NoWindowConsole console(stdout, stderr, IsTerminal(2));
  Form form(console,
            ActivityLog(options.logFile.empty() ? ActivityLog::DefaultPath() : options.logFile));
  form.run().dryRun = options.dryRun;
  console.Attach(form);
  form.Form_Load(registry);
  if (options.server) console.SetText(Control::txtExServer, *options.server);

  int status = 0;
  if (batch && options.jobs > 1) {
    status = RunParallelBatch({console.Text(Control::txtExServer), mailboxes, copied, duplicateOf,
                               form.log().path(), options.jobs, options.dryRun, IsTerminal(2)},
                              report);
  } else if (batch) {
    status = RunBatch(form, console, mailboxes, copied, duplicateOf, report);
  } else {
    if (options.mailbox) console.SetText(Control::txtAlias, *options.mailbox);
    status = ExitStatus(RunOnce(form, console).outcome);
  }
  // The window-less "window" closes when the work is done: the session is logged off.
  if (!form.Unloaded()) form.Form_Unload();
  console.EraseProgress();
  if (report.failed()) std::fprintf(stderr, "oa-cleanup: %s\n", report.error().c_str());
  return status;
}

}  // namespace oa::nowindow
