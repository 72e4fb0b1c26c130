// The window-less console: what reaches stdout and stderr, the progress line, and a signal
// turned into a click on Cancel, also in the middle of a run.
#include "console/nowindow/nowindow_console.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <memory>

#include "base/mapi_error.h"
#include "console/form.h"
#include "console/nowindow/cancel_signals.h"
#include "console/nowindow/run_result.h"
#include "mailbox/model/session_registry.h"
#include "tests/nowindow/temp_files.h"
#include "tests/support/null_session.h"

namespace oa::nowindow {

using console::ActivityLog;
using console::Control;
using console::Form;
using mailbox::RunOutcome;

namespace {

using oa::testing::TempDir;

// A stream whose contents the test can read back.
class Capture {
 public:
  Capture() : file_(std::tmpfile()) {}
  ~Capture() { std::fclose(file_); }
  std::FILE* file() { return file_; }
  std::string Text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) text.append(buf, n);
    return text;
  }

 private:
  std::FILE* file_;
};

class NoWindowConsoleTest : public ::testing::Test {
 protected:
  void TearDown() override { ClearCancelSignal(); }

  TempDir dir;
  Capture out;
  Capture err;
};

TEST_F(NoWindowConsoleTest, ResultsLinesGoToStdoutUnchangedAndClearingPrintsNothing) {
  NoWindowConsole console(out.file(), err.file(), false);
  console.ClearResults();
  console.AppendResult("LoggedOn = True");
  console.AppendResult("");
  console.AppendResult("two\r\nlines");
  console.ClearResults();
  console.AppendResult("next run");
  EXPECT_EQ(out.Text(), "LoggedOn = True\n\ntwo\r\nlines\nnext run\n");
  EXPECT_EQ(err.Text(), "");
}

TEST_F(NoWindowConsoleTest, BatchHeadingReplacesTheClearing) {
  NoWindowConsole console(out.file(), err.file(), false);
  console.SetHeading("jdoe");
  console.ClearResults();
  console.AppendResult("instantiating RDO");
  console.SetHeading("mary@example.com");
  console.ClearResults();
  EXPECT_EQ(out.Text(), "=== jdoe\ninstantiating RDO\n=== mary@example.com\n");
}

// A batch's job keeps its mailbox's lines until the mailbox is done, in memory: made safe for
// the terminal as the printed lines are, and with nothing written to a stream meanwhile.
TEST_F(NoWindowConsoleTest, AJobsLinesAreKeptInItsTextUntilTaken) {
  std::string lines;
  NoWindowConsole console(&lines, err.file(), false);
  console.SetHeading("j\x1b[2Jdoe");
  console.ClearResults();
  console.AppendResult("instantiating RDO");
  console.AppendResult("folder \x07name");
  EXPECT_EQ(lines, "=== j\\x1b[2Jdoe\ninstantiating RDO\nfolder \\x07name\n");
  lines.clear();
  console.SetHeading("next");
  console.ClearResults();
  EXPECT_EQ(lines, "=== next\n");
  console.MsgBox("text");
  EXPECT_EQ(lines, "=== next\n");
  EXPECT_EQ(err.Text(), "ondavelAgent Administrator: text\n");
}

TEST_F(NoWindowConsoleTest, MessageBoxesGoToStderrWithTheTitle) {
  NoWindowConsole console(out.file(), err.file(), false);
  console.MsgBox("You must supply the Exchange Server name!");
  console.MsgBox("Unable to logon using dynamic profile srv jdoe\r\nLogon failed");
  EXPECT_EQ(err.Text(),
            "ondavelAgent Administrator: You must supply the Exchange Server name!\n"
            "ondavelAgent Administrator: Unable to logon using dynamic profile srv jdoe\r\n"
            "Logon failed\n");
  EXPECT_EQ(out.Text(), "");
}

TEST_F(NoWindowConsoleTest, ProgressOnlyOnATerminalAndErasedBeforeOtherOutput) {
  NoWindowConsole piped(out.file(), err.file(), false);
  piped.SetProgress("Count = 3");
  EXPECT_EQ(err.Text(), "");

  NoWindowConsole terminal(out.file(), err.file(), true);
  terminal.SetProgress("Count = 3");
  // Within the repaint interval the line is not rewritten.
  terminal.SetProgress("Count = 2");
  terminal.AppendResult("Deleted 5000 items");
  terminal.SetProgress("Count = 1");
  terminal.MsgBox("text");
  terminal.SetProgress("Count = 0");
  terminal.EraseProgress();
  terminal.EraseProgress();
  EXPECT_EQ(err.Text(),
            "\rCount = 3\x1b[K\r\x1b[K\rCount = 1\x1b[K\r\x1b[K"
            "ondavelAgent Administrator: text\n\rCount = 0\x1b[K\r\x1b[K");
  EXPECT_EQ(out.Text(), "Deleted 5000 items\n");
}

TEST_F(NoWindowConsoleTest, BoxesHoldTheirTextsAndTheActionIsTicked) {
  NoWindowConsole console(out.file(), err.file(), false);
  EXPECT_EQ(console.Text(Control::txtExServer), "");
  console.SetText(Control::txtExServer, " srv ");
  console.SetText(Control::txtAlias, "jdoe");
  EXPECT_EQ(console.Text(Control::txtExServer), " srv ");
  EXPECT_EQ(console.Text(Control::txtAlias), "jdoe");
  EXPECT_EQ(console.Value(Control::chkHH), 1);
}

TEST_F(NoWindowConsoleTest, SignalPressesCancelOnceAtTheNextEventPoint) {
  NoWindowConsole console(out.file(), err.file(), false);
  Form form(console, ActivityLog(dir / "OA-Cleanup.log"));
  console.Attach(form);
  console.DoEvents();
  EXPECT_FALSE(form.Unloaded());
  {
    CancelSignals signals;
    std::raise(SIGINT);
    EXPECT_TRUE(CancelSignalPending());
    EXPECT_FALSE(form.Unloaded()) << "the handler itself does nothing but raise the flag";
    console.DoEvents();
    EXPECT_TRUE(form.run().bCancel);
    EXPECT_TRUE(form.Unloaded());
    EXPECT_TRUE(console.CancelledBySignal());
  }
#ifdef _WIN32
  EXPECT_EQ(std::signal(SIGINT, SIG_DFL), SIG_DFL);
#else
  struct sigaction restored {};
  sigaction(SIGINT, nullptr, &restored);
  EXPECT_EQ(restored.sa_handler, SIG_DFL);
#endif
}

// Windows has no SIGPIPE: a write to a closed pipe fails there without a signal.
#ifndef _WIN32
TEST_F(NoWindowConsoleTest, ClosedPipeDoesNotKillTheRun) {
  CancelSignals signals;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  std::FILE* gone = fdopen(fds[1], "w");
  NoWindowConsole console(gone, err.file(), false);
  struct sigaction pipe {};
  sigaction(SIGPIPE, nullptr, &pipe);
  EXPECT_EQ(pipe.sa_handler, SIG_IGN);
  // The write fails with EPIPE instead of ending the process.
  console.AppendResult("nobody reads this");
  EXPECT_TRUE(std::ferror(gone));
  std::fclose(gone);
}
#endif

// A session whose logon is where the user presses Ctrl+C: the signal arrives while the run is
// inside the mailbox library, and the run has to notice it at its next step.
class InterruptedSession : public oa::testing::NullSession {
 public:
  explicit InterruptedSession(int* logoffs) : logoffs_(logoffs) {}
  void LogonExchangeMailbox(const std::string&, const std::string&) override {
    std::raise(SIGINT);
    loggedOn_ = true;
  }
  bool LoggedOn() override { return loggedOn_; }
  void Logoff() override { ++*logoffs_; }

 private:
  int* logoffs_;
  bool loggedOn_ = false;
};

TEST_F(NoWindowConsoleTest, SignalDuringARunEndsItAtTheNextStepAndLogsTheSessionOff) {
  int logoffs = 0;
  mailbox::RegisterSessionClass(mailbox::kSessionProgID, [&logoffs] {
    return std::make_shared<InterruptedSession>(&logoffs);
  });
  CancelSignals signals;
  NoWindowConsole console(out.file(), err.file(), false);
  Form form(console, ActivityLog(dir / "OA-Cleanup.log"));
  console.Attach(form);
  console.SetText(Control::txtExServer, "srv");
  console.SetText(Control::txtAlias, "jdoe");
  console.BeginRun();
  form.cmdOK_Click();
  mailbox::UnregisterSessionClass(mailbox::kSessionProgID);

  // The line after the logon still reaches stdout and the file; nothing after it runs.
  EXPECT_EQ(out.Text(), "instantiating RDO\nLogging on with jdoe srv\nLoggedOn = True\n");
  EXPECT_TRUE(form.Unloaded());
  EXPECT_EQ(logoffs, 1);
  EXPECT_EQ(form.run().RDO, nullptr);
  const RunResult result =
      JudgeRun(form.outcome(), console.lastLine(), form, console.CancelledBySignal());
  EXPECT_EQ(result.outcome, Outcome::cancelled);
  EXPECT_EQ(result.lastLine, "LoggedOn = True");
}

// The judgement reads the record only: the same last line under different records gives
// different outcomes, and a run whose record says the agent was pointed is still checked in
// the mailbox (here there is no session, so it cannot be completed).
TEST(JudgeRun, JudgesFromTheRunsRecordNotItsLines) {
  TempDir dir;
  Capture out;
  NoWindowConsole console(out.file(), stderr, false);
  Form form(console, ActivityLog(dir / "OA-Cleanup.log"));
  const std::string line = "pointed agent to new Handhelds folder";

  RunOutcome record;
  EXPECT_EQ(JudgeRun(record, line, form, false).outcome, Outcome::input);
  EXPECT_EQ(JudgeRun(record, line, form, true).outcome, Outcome::cancelled);

  record.started = true;
  record.sessionCreated = true;
  record.logonError = -2147221231;
  const RunResult logon = JudgeRun(record, line, form, false);
  EXPECT_EQ(logon.outcome, Outcome::logon);
  EXPECT_EQ(logon.lastLine, line);
  EXPECT_FALSE(logon.itemCount);

  record.loggedOn = record.connected = record.cleanupStarted = true;
  record.oldItemCount = 50000;
  const RunResult notPointed = JudgeRun(record, line, form, false);
  EXPECT_EQ(notPointed.outcome, Outcome::incomplete);
  EXPECT_EQ(notPointed.itemCount, 50000);

  record.agentPointed = true;
  EXPECT_EQ(form.run().RDO, nullptr);
  EXPECT_EQ(JudgeRun(record, "", form, false).outcome, Outcome::incomplete);
  EXPECT_EQ(JudgeRun(record, "", form, true).outcome, Outcome::cancelled);
}

}  // namespace
}  // namespace oa::nowindow
