#include "console/nowindow/run_without_window.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "base/platform.h"
#include "console/form.h"
#include "console/nowindow/batch_report.h"
#include "console/nowindow/cancel_signals.h"
#include "console/nowindow/mailbox_list.h"
#include "console/nowindow/nowindow_console.h"
#include "console/nowindow/parallel_batch.h"
#include "console/nowindow/run_result.h"

namespace oa::nowindow {
namespace {

constexpr int kUsageError = 2;

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

int RunBatch(Form& form, NoWindowConsole& console, const std::vector<std::string>& mailboxes,
             BatchReport& report) {
  int status = 0;
  for (const std::string& mailbox : mailboxes) {
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
  }
  return status;
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
                     "Clean up every mailbox of FILE, one a line, on one session")
          ->type_name("FILE")
          ->needs(noWindow)
          ->excludes(mailbox);
  app.add_option("--report", options.reportFile, "Write a CSV row per mailbox of the batch")
      ->type_name("CSV")
      ->needs(mailboxes);
  AddJobsOption(app, options.jobs, mailboxes);
}

int RunWithoutWindow(const NoWindowOptions& options) {
  const bool batch = !options.mailboxesFile.empty();
  std::vector<std::string> mailboxes;
  BatchReport report;
  if (batch) {
    std::optional<std::vector<std::string>> list = ReadMailboxList(options.mailboxesFile);
    if (!list) {
      std::fprintf(stderr, "oa-cleanup: cannot read the mailbox list %s\n",
                   options.mailboxesFile.c_str());
      return kUsageError;
    }
    mailboxes = std::move(*list);
    if (!options.reportFile.empty() && !report.Open(options.reportFile)) {
      std::fprintf(stderr, "oa-cleanup: cannot write the report %s\n", options.reportFile.c_str());
      return kUsageError;
    }
  }

  CancelSignals signals;
  NoWindowConsole console(stdout, stderr, IsTerminal(2));
  Form form(console,
            ActivityLog(options.logFile.empty() ? ActivityLog::DefaultPath() : options.logFile));
  console.Attach(form);
  form.Form_Load();
  if (options.server) console.SetText(Control::txtExServer, *options.server);

  int status = 0;
  if (batch && options.jobs > 1) {
    status = RunParallelBatch(
        {console.Text(Control::txtExServer), mailboxes, form.log().path(), options.jobs}, report);
  } else if (batch) {
    status = RunBatch(form, console, mailboxes, report);
  } else {
    if (options.mailbox) console.SetText(Control::txtAlias, *options.mailbox);
    status = ExitStatus(RunOnce(form, console).outcome);
  }
  // The window-less "window" closes when the work is done: the session is logged off.
  if (!form.Unloaded()) form.Form_Unload();
  console.EraseProgress();
  return status;
}

}  // namespace oa::nowindow
