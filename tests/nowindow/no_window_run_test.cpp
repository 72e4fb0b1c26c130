// oa-cleanup --no-window end to end: the real program against store files, judged by its exit
// status, its stdout and stderr, its log file and the store afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>

#include "console/form.h"
#include "mailbox/store/embedded_store.h"
#include "tests/nowindow/run_fixture.h"
#include "tests/support/configure_from_environment.h"
#include "tests/support/recording_console.h"

namespace oa::testing {

using console::ActivityLog;
using console::Control;
using console::Form;

namespace {

using nlohmann::json;
using LineList = std::vector<std::string>;

LineList Concat(LineList a, const LineList& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class NoWindowRun : public RunFixture {};

TEST_F(NoWindowRun, CompletedRunReplacesTheFolderAndLogsEveryStep) {
  Import(Dump({MailboxStore({.alias = "jdoe", .items = 3})}));
  const std::string oldID = HandheldsID(Export(), "jdoe");
  ASSERT_FALSE(oldID.empty());

  ChildResult r = Cleanup({"--server", "demo", "--mailbox", "jdoe"});
  const LineList expected =
      Concat(LogonLines("jdoe"),
             {"Retrieved Handhelds folder using EntryID " + oldID, "CleanupHH: message count = 3",
              "CleanupHH: attempting to delete folder", "successfully deleted existing folder",
              "Created new Handhelds folder in mailbox", "pointed agent to new Handhelds folder"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out), expected);
  EXPECT_EQ(r.err, "");
  ExpectLogFile(expected);

  const json after = Export();
  const std::string newID = HandheldsID(after, "jdoe");
  EXPECT_FALSE(newID.empty());
  EXPECT_NE(newID, oldID);
  EXPECT_EQ(AgentHHEntryID(*FindStore(after, "jdoe")), newID);
  EXPECT_EQ(FindTopFolder(*FindStore(after, "jdoe"), "Handhelds")->value("count", -1), 0);
}

TEST_F(NoWindowRun, BoxesComeFromTheRegistryAndTheOptionsReplaceThem) {
  Import(Dump({MailboxStore({.alias = "jdoe"}), MailboxStore({.alias = "mary"})}));
  WriteUserRegistry(dir / "user.reg", "demo", "jdoe");

  ChildResult fromRegistry = Cleanup({});
  EXPECT_EQ(fromRegistry.status, 0) << fromRegistry.err;
  ASSERT_GE(Lines(fromRegistry.out).size(), 2u);
  EXPECT_EQ(Lines(fromRegistry.out)[1], "Logging on with jdoe demo");

  ChildResult replaced = Cleanup({"--mailbox", "mary"});
  EXPECT_EQ(replaced.status, 0) << replaced.err;
  ASSERT_GE(Lines(replaced.out).size(), 2u);
  EXPECT_EQ(Lines(replaced.out)[1], "Logging on with mary demo");

  // An empty --server replaces the registry's server too, and the input check catches it.
  ChildResult emptied = Cleanup({"--server", ""});
  EXPECT_EQ(emptied.status, 2);
  EXPECT_EQ(emptied.err, "ondavelAgent Administrator: You must supply the Exchange Server name!\n");
}

TEST_F(NoWindowRun, FailedInputChecksShowTheMessageAndRunNothing) {
  ChildResult noServer = Cleanup({"--mailbox", "jdoe"});
  EXPECT_EQ(noServer.status, 2);
  EXPECT_EQ(noServer.out, "");
  EXPECT_EQ(noServer.err,
            "ondavelAgent Administrator: You must supply the Exchange Server name!\n");

  ChildResult noMailbox = Cleanup({"--server", "demo"});
  EXPECT_EQ(noMailbox.status, 2);
  EXPECT_EQ(noMailbox.out, "");
  EXPECT_EQ(noMailbox.err,
            "ondavelAgent Administrator: You must supply the mailbox alias or address!\n");
  // The checks write nothing to the log.
  EXPECT_FALSE(std::filesystem::exists(logFile));

  // A server of blanks passes the check and is used unchanged.
  ChildResult blanks = Cleanup({"--server", " ", "--mailbox", "jdoe"});
  EXPECT_EQ(blanks.status, 3);
  ASSERT_GE(Lines(blanks.out).size(), 2u);
  EXPECT_EQ(Lines(blanks.out)[1], "Logging on with jdoe  ");
}

TEST_F(NoWindowRun, UsageErrorsHelpAndVersion) {
  for (const LineList& args :
       {LineList{"--bogus"}, LineList{"--server"}, LineList{"--mailboxes", "x"},
        LineList{"--report", "r.csv"}, LineList{"--mailbox", "a", "--mailboxes", "x"},
        LineList{"--mailboxes", dir / "missing.txt"}}) {
    ChildResult r = Cleanup(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_FALSE(r.err.empty()) << args[0];
  }
  ChildResult bogus = Cleanup({"--bogus"});
  EXPECT_EQ(Lines(bogus.err).back(), "Run with --help for more information.");

  ChildResult help = RunProgram({OA_CLEANUP_BIN, "--help"}, env);
  EXPECT_EQ(help.status, 0);
  for (const char* option :
       {"--no-window", "--server", "--mailbox ", "--mailboxes", "--report", "--log", "--version"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;

  ChildResult version = RunProgram({OA_CLEANUP_BIN, "--version"}, env);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string(OA_VERSION) + "\n");
}

TEST_F(NoWindowRun, LogonFailuresEndWithStatus3) {
  Import(Dump(
      {MailboxStore({.alias = "jdoe"}), MailboxStore({.alias = "bare", .agentMessage = false})},
      {Fault("Session.LogonExchangeMailbox", "", 1, "0x80040111", "Logon failed")}));

  ChildResult refused = Cleanup({"--server", "demo", "--mailbox", "jdoe"});
  EXPECT_EQ(refused.status, 3);
  EXPECT_EQ(Lines(refused.out), (LineList{"instantiating RDO", "Logging on with jdoe demo",
                                          "RDO.LoggedOn = False -2147221231 Logon failed"}));
  EXPECT_EQ(refused.err,
            "ondavelAgent Administrator: Unable to logon using dynamic profile demo jdoe\r\n"
            "Logon failed\n");

  ChildResult noAgent = Cleanup({"--server", "demo", "--mailbox", "bare"});
  EXPECT_EQ(noAgent.status, 3);
  EXPECT_EQ(Lines(noAgent.out),
            (LineList{"instantiating RDO", "Logging on with bare demo", "LoggedOn = True",
                      "retrieving agent folders", "GetAgentMessage no messages in AgentInfo folder",
                      "GetAgentMessage found no existing agent message",
                      "Failed to access agent folders"}));
  EXPECT_EQ(noAgent.err, "");

  ChildResult noStore = Cleanup({"--server", "nosuch", "--mailbox", "jdoe"});
  EXPECT_EQ(noStore.status, 3);
  ASSERT_EQ(Lines(noStore.out).size(), 3u);
  EXPECT_EQ(Lines(noStore.out)[2].rfind("RDO.LoggedOn = False -", 0), 0u) << noStore.out;
  EXPECT_EQ(
      noStore.err.rfind(
          "ondavelAgent Administrator: Unable to logon using dynamic profile nosuch jdoe\r\n", 0),
      0u);
}

TEST_F(NoWindowRun, FolderNotFoundIsIncomplete) {
  Import(Dump({MailboxStore({.alias = "jdoe", .handheldsExists = false})}));
  ChildResult r = Cleanup({"--server", "demo", "--mailbox", "jdoe"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      Lines(r.out),
      Concat(LogonLines("jdoe"),
             {"Unable to get Handhelds folder using EntryID 00000000DEADBEEF00000000DEADBEEF"}));
}

TEST_F(NoWindowRun, RenameFailedLeavesEverythingAndIsIncomplete) {
  Import(Dump({MailboxStore({.alias = "jdoe", .items = 4})},
              {Fault("Folder.Delete", "jdoe-hh"), Fault("Folder.Save", "jdoe-hh")}));
  const std::string oldID = HandheldsID(Export(), "jdoe");
  ChildResult r = Cleanup({"--server", "demo", "--mailbox", "jdoe"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.out),
            Concat(LogonLines("jdoe"),
                   {"Retrieved Handhelds folder using EntryID " + oldID,
                    "CleanupHH: message count = 4", "CleanupHH: attempting to delete folder",
                    "error deleting folder &H80004005 Unspecified error",
                    "failed to delete existing Handhelds folder; attempting "
                    "rename",
                    "failed to rename existing folder"}));
  const json after = Export();
  EXPECT_EQ(HandheldsID(after, "jdoe"), oldID);
  EXPECT_EQ(AgentHHEntryID(*FindStore(after, "jdoe")), oldID);
}

TEST_F(NoWindowRun, PointingFailedIsIncomplete) {
  Import(Dump({MailboxStore({.alias = "jdoe"})}, {Fault("Mail.Save", "jdoe-agent")}));
  const std::string oldID = HandheldsID(Export(), "jdoe");
  ChildResult r = Cleanup({"--server", "demo", "--mailbox", "jdoe"});
  EXPECT_EQ(r.status, 1);
  ASSERT_FALSE(Lines(r.out).empty());
  EXPECT_EQ(Lines(r.out).back(),
            "error pointing agent to new Handhelds folder &H80004005 Unspecified error");
  EXPECT_EQ(AgentHHEntryID(*FindStore(Export(), "jdoe")), oldID);
}

TEST_F(NoWindowRun, NewFolderNotCreatedIsIncomplete) {
  Import(Dump({MailboxStore({.alias = "jdoe"})}, {Fault("Folders.Add", "jdoe-top")}));
  ChildResult r = Cleanup({"--server", "demo", "--mailbox", "jdoe"});
  EXPECT_EQ(r.status, 1);
  ASSERT_GE(Lines(r.out).size(), 2u);
  EXPECT_EQ(Lines(r.out)[Lines(r.out).size() - 2], "successfully deleted existing folder");
  EXPECT_EQ(Lines(r.out).back(),
            "CreateHandheldsFolder failed: unable to create Handhelds folder in mailbox");
}

// The cleanup reports every step as done, but the emptied old folder refuses its final
// deletion, which no log line tells: only the store shows that the run did not finish.
TEST_F(NoWindowRun, OldFolderThatSurvivesItsLastDeletionIsIncomplete) {
  Import(Dump({MailboxStore({.alias = "jdoe", .items = 5})}, {Fault("Folder.Delete", "jdoe-hh")}));
  ChildResult r = Cleanup({"--server", "demo", "--mailbox", "jdoe"});
  EXPECT_EQ(r.status, 1);
  ASSERT_FALSE(Lines(r.out).empty());
  EXPECT_EQ(Lines(r.out).back(), "Deleted all items, attempting to delete folder");
  const json after = Export();
  const json* kept = FindTopFolder(*FindStore(after, "jdoe"), "Handhelds -1");
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->value("count", -1), 0);
  EXPECT_EQ(AgentHHEntryID(*FindStore(after, "jdoe")), HandheldsID(after, "jdoe"));
}

// The same store, once through the program without a window and once through the core form as
// the window drives it: the results box and stdout must hold the same lines.
TEST_F(NoWindowRun, StdoutHoldsTheLinesTheWindowShows) {
  Import(Dump({MailboxStore({.alias = "jdoe", .items = 12000})},
              {Fault("Folder.Delete", "jdoe-hh", 1)}),
         "original");
  TempDir windowStores;
  CopyStore(StoreFile("original"), "demo");
  CopyStoreFiles(StoreFile("original"), windowStores / "demo.oastore");

  ChildResult r = Cleanup({"--server", "demo", "--mailbox", "jdoe"});
  EXPECT_EQ(r.status, 0) << r.err;

  ::setenv("OA_STORE_DIR", windowStores.path().string().c_str(), 1);
  store::RegisterEmbeddedSessionClass(oa::testing::BackendOptionsFromEnvironment().storeDirectory);
  RecordingConsole window;
  Form form(window, ActivityLog(dir / "window.log"));
  window.texts[Control::txtExServer] = "demo";
  window.texts[Control::txtAlias] = "jdoe";
  form.cmdOK_Click();
  form.Form_Unload();

  EXPECT_EQ(Lines(r.out), window.results);
  EXPECT_NE(std::find(window.results.begin(), window.results.end(), "Deleted 10000 items"),
            window.results.end());
  EXPECT_EQ(window.results.back(), "Deleted all items, attempting to delete folder");
}

class SignalDuringEmptying : public RunFixture {
 protected:
  // One store file with a 50,000-item folder that cannot be deleted in one call, built once
  // for the suite and copied for each test.
  static void SetUpTestSuite() {
    shared_ = new TempDir;
    ImportStore(
        Dump({MailboxStore({.alias = "first"}), MailboxStore({.alias = "big", .items = 50000}),
              MailboxStore({.alias = "last"})},
             {Fault("Folder.Delete", "big-hh")}),
        *shared_ / "big.oastore");
  }
  static void TearDownTestSuite() {
    delete shared_;
    shared_ = nullptr;
  }
  void SetUp() override { CopyStore(*shared_ / "big.oastore", "demo"); }

  static int InterruptAt(const std::string& line) {
    return line == "Deleted 5000 items" ? SIGINT : 0;
  }

  static TempDir* shared_;
};

TempDir* SignalDuringEmptying::shared_ = nullptr;

TEST_F(SignalDuringEmptying, CtrlCStopsTheEmptyingKeepsTheRenamedFolderAndExits130) {
  ChildResult r = Cleanup({"--server", "demo", "--mailbox", "big"}, &InterruptAt);
  EXPECT_EQ(r.status, 130) << r.err;
  ASSERT_TRUE(r.signalToExit);

  const json after = Export();
  const json* renamed = FindTopFolder(*FindStore(after, "big"), "Handhelds -1");
  ASSERT_NE(renamed, nullptr);
  const int remaining = renamed->value("count", -1);
  // The signal came at the first progress line; the run stopped before the next one (10,000).
  EXPECT_GT(remaining, 40000);
  EXPECT_LE(remaining, 45000);
  // The agent was pointed at the new folder before the emptying began.
  EXPECT_EQ(AgentHHEntryID(*FindStore(after, "big")), HandheldsID(after, "big"));

  const std::string canceled =
      "Canceled delete of folder items before completion; count = " + std::to_string(remaining);
  const LineList out = Lines(r.out);
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out[out.size() - 2], "Deleted 5000 items");
  EXPECT_EQ(out.back(), canceled);
  ExpectLogFile(out);
}

TEST_F(SignalDuringEmptying, SigtermInABatchStopsAfterTheCurrentMailbox) {
  WriteFile(dir / "list.txt", "first\nbig\nlast\n");
  ChildResult r =
      Cleanup({"--server", "demo", "--mailboxes", dir / "list.txt", "--report", dir / "report.csv"},
              [](const std::string& line) { return line == "Deleted 5000 items" ? SIGTERM : 0; });
  EXPECT_EQ(r.status, 130) << r.err;
  const LineList out = Lines(r.out);
  EXPECT_EQ(std::count(out.begin(), out.end(), "=== last"), 0);
  EXPECT_EQ(out.back().rfind("Canceled delete of folder items before completion; count = ", 0), 0u);

  const LineList report = Lines(ReadFile(dir / "report.csv"));
  ASSERT_EQ(report.size(), 4u);
  EXPECT_EQ(report[1].rfind("first,completed,3,", 0), 0u) << report[1];
  EXPECT_EQ(report[2].rfind("big,cancelled,50000,,", 0), 0u) << report[2];
  EXPECT_EQ(report[3], "last,cancelled,,,,\r");
  // The last mailbox was never touched.
  const json after = Export();
  EXPECT_EQ(FindTopFolder(*FindStore(after, "last"), "Handhelds")->value("count", -1), 3);
}

}  // namespace
}  // namespace oa::testing
