// oa-cleanup run as a child on hostile batch input: a list naming one mailbox many times under
// --jobs, a list with a byte order mark or naming no mailbox, a report on a device that is
// full, a mailbox name with terminal controls, and no display to open the window on.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/nowindow/run_fixture.h"

namespace oa::testing {
namespace {

using nlohmann::json;

class HostileBatch : public RunFixture {};

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

// The agent of `alias` names the Handhelds folder the store has.
void ExpectAgentPointsAtExistingFolder(const json& dump, const std::string& alias) {
  const json* store = FindStore(dump, alias);
  ASSERT_TRUE(store);
  const std::string agent = AgentHHEntryID(*store);
  EXPECT_FALSE(agent.empty());
  EXPECT_EQ(agent, HandheldsID(dump, alias));
}

// Two jobs cleaning up one mailbox at once would each create a new folder and delete the
// other's; spelt in other letter cases and blanks, the list's repeats must run not at all.
TEST_F(HostileBatch, RepeatedMailboxUnderJobsRunsOnceAndResumeSkipsNothingWrongly) {
  WriteFile(dir / "list.txt", "dup\nDUP\n  Dup\t\nother\ndUp\ndup\nDUP\ndup\nDup\n");
  constexpr int kRounds = 30;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::filesystem::remove(StoreFile());
    std::filesystem::remove(logFile);
    Import(Dump({MailboxStore({.alias = "dup", .items = 40}),
                 MailboxStore({.alias = "other", .items = 2})}));
    ChildResult run = Cleanup({"--server", "demo", "--mailboxes", dir / "list.txt", "--jobs", "8",
                               "--report", dir / "report.csv"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Count(run.out, "pointed agent to new Handhelds folder"), 2u) << run.out;
    EXPECT_EQ(Count(run.out, "=== "), 2u) << run.out;
    const json dump = Export();
    ExpectAgentPointsAtExistingFolder(dump, "dup");
    ExpectAgentPointsAtExistingFolder(dump, "other");
    const std::string report = ReadFile(dir / "report.csv");
    EXPECT_EQ(Count(report, ",completed,"), 2u) << report;
    EXPECT_EQ(Count(report, ",duplicate,"), 7u) << report;
    EXPECT_EQ(Count(report, "the same mailbox as list entry 1 (dup), which is run once"), 7u)
        << report;
    if (::testing::Test::HasFailure()) break;
  }

  // Resumed: the completed rows are copied, the repeats reported again, nothing runs.
  ChildResult resumed = Cleanup({"--server", "demo", "--mailboxes", dir / "list.txt", "--jobs", "8",
                                 "--resume", dir / "report.csv"});
  EXPECT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(Count(resumed.out, "=== "), 0u) << resumed.out;
  const std::string report = ReadFile(dir / "report.csv");
  EXPECT_EQ(Count(report, ",completed,"), 2u) << report;
  EXPECT_EQ(Count(report, ",duplicate,"), 7u) << report;
}

TEST_F(HostileBatch, ByteOrderMarkDoesNotSpoilTheFirstMailbox) {
  Import(Dump({MailboxStore({.alias = "jdoe"})}));
  WriteFile(dir / "list.txt", "\xEF\xBB\xBFjdoe\r\n");
  ChildResult run = Cleanup(
      {"--server", "demo", "--mailboxes", dir / "list.txt", "--report", dir / "report.csv"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Count(ReadFile(dir / "report.csv"), "\r\njdoe,completed,"), 1u);
}

TEST_F(HostileBatch, ListRefusedOrEmptyIsAnErrorNamingIt) {
  Import(Dump({MailboxStore({.alias = "jdoe"})}));
  WriteFile(dir / "empty.txt", "# nobody yet\n\n");
  ChildResult empty = Cleanup({"--server", "demo", "--mailboxes", dir / "empty.txt"});
  EXPECT_EQ(empty.status, 2);
  EXPECT_NE(empty.err.find(dir / "empty.txt"), std::string::npos) << empty.err;
  EXPECT_NE(empty.err.find("names no mailbox"), std::string::npos) << empty.err;

  WriteFile(dir / "long.txt", "jdoe\n" + std::string(5000, 'x') + "\n");
  ChildResult tooLong = Cleanup({"--server", "demo", "--mailboxes", dir / "long.txt"});
  EXPECT_EQ(tooLong.status, 2);
  EXPECT_NE(tooLong.err.find(dir / "long.txt" + ":2: the line is longer than 1024 bytes"),
            std::string::npos)
      << tooLong.err;
  EXPECT_EQ(tooLong.out, "");
}

#if !defined(_WIN32)
// Run as root a rename over /dev/full would replace the device with a file.
TEST_F(HostileBatch, ReportOnAFullDeviceEndsTheBatchAndLeavesTheDevice) {
  if (!std::filesystem::is_character_file("/dev/full")) GTEST_SKIP() << "no /dev/full";
  Import(Dump({MailboxStore({.alias = "jdoe"})}));
  WriteFile(dir / "list.txt", "jdoe\n");
  ChildResult run =
      Cleanup({"--server", "demo", "--mailboxes", dir / "list.txt", "--report", "/dev/full"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("cannot write the report /dev/full: No space left on device"),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
  EXPECT_FALSE(std::filesystem::exists("/dev/full.partial"));
}
#endif

TEST_F(HostileBatch, ControlCharactersOfAMailboxNameAreNotWrittenToTheTerminal) {
  Import(Dump({MailboxStore({.alias = "jdoe"})}));
  WriteFile(dir / "list.txt",
            "jdoe\x1b]0;owned\x07\nj\xC3\xBCrgen\xC2\x9B"
            "2J\n");
  ChildResult run = Cleanup({"--server", "demo", "--mailboxes", dir / "list.txt"});
  EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("\xC2\x9B"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("=== jdoe\\x1b]0;owned\\x07\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("=== j\xC3\xBCrgen\\u009b2J\n"), std::string::npos) << run.out;
}

#if defined(OA_TEST_QT_WINDOW) && !defined(__APPLE__)
// Qt aborts (status 134) when it finds no display; the program says what to do instead.
TEST_F(HostileBatch, NoDisplayIsSaidInsteadOfAnAbort) {
  for (const std::string display : {"", ":99"}) {
    SCOPED_TRACE("DISPLAY=" + display);
    std::map<std::string, std::string> childEnv = env;
    childEnv["DISPLAY"] = display;
    childEnv["WAYLAND_DISPLAY"] = "";
    childEnv["QT_QPA_PLATFORM"] = "";
    Child child;
    child.argv = {OA_CLEANUP_BIN, "--log", logFile};
    child.env = childEnv;
    ChildResult run = RunChild(child);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find("oa-cleanup: no display to open the window on ("), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("--no-window"), std::string::npos) << run.err;
  }
}
#endif

}  // namespace
}  // namespace oa::testing
