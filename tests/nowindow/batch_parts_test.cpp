// The batch's mailbox list and its CSV report.
#include <gtest/gtest.h>

#include <sstream>

#include "console/nowindow/batch_report.h"
#include "console/nowindow/mailbox_list.h"
#include "tests/nowindow/temp_files.h"

namespace oa::nowindow {
namespace {

using oa::testing::ReadFile;
using oa::testing::TempDir;
using oa::testing::WriteFile;

TEST(MailboxList, SkipsBlankAndCommentLinesAndTrimsLineEnds) {
  std::istringstream in(
      "# mailboxes of the north office\r\n"
      "jdoe\r\n"
      "\r\n"
      "   \t\n"
      "  # indented comment\n"
      "\tmary.major@example.com  \r\n"
      "a#b\n"
      "last-without-newline");
  EXPECT_EQ(ParseMailboxList(in), (std::vector<std::string>{"jdoe", "mary.major@example.com", "a#b",
                                                            "last-without-newline"}));
}

TEST(MailboxList, UnreadableFileIsNoList) {
  TempDir dir;
  EXPECT_FALSE(ReadMailboxList(dir / "missing.txt"));
  EXPECT_FALSE(ReadMailboxList(dir.path().string()));
  WriteFile(dir / "empty.txt", "");
  std::optional<std::vector<std::string>> empty = ReadMailboxList(dir / "empty.txt");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
}

TEST(CsvField, QuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(CsvField(""), "");
  EXPECT_EQ(CsvField("jdoe@example.com"), "jdoe@example.com");
  EXPECT_EQ(CsvField("a b"), "a b");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField("two\r\nlines"), "\"two\r\nlines\"");
  EXPECT_EQ(CsvField("cr\ronly"), "\"cr\ronly\"");
  EXPECT_EQ(CsvField("\""), "\"\"\"\"");
}

TEST(BatchReport, HeaderAndRowsWithCrLf) {
  TempDir dir;
  const std::string path = dir / "report.csv";
  {
    BatchReport report;
    ASSERT_TRUE(report.Open(path));
    RunResult done;
    done.outcome = Outcome::completed;
    done.itemCount = 12000;
    done.newFolderEntryID = "00AB";
    done.seconds = 1.23456;
    done.lastLine = "Deleted all items, attempting to delete folder";
    report.Row("jdoe", done, true);
    RunResult failed;
    failed.outcome = Outcome::logon;
    failed.seconds = 0.5;
    failed.lastLine = "RDO.LoggedOn = False -2147221231 Logon failed, \"x\"";
    report.Row("a,b", failed, true);
    RunResult notRun;
    notRun.outcome = Outcome::cancelled;
    report.Row("late", notRun, false);
    // Every row is in the file at once, while the report is still open.
    EXPECT_EQ(ReadFile(path),
              "mailbox,outcome,old_item_count,new_folder_entry_id,seconds,last_log_line\r\n"
              "jdoe,completed,12000,00AB,1.235,\"Deleted all items, attempting to delete "
              "folder\"\r\n"
              "\"a,b\",logon,,,0.500,\"RDO.LoggedOn = False -2147221231 Logon failed, "
              "\"\"x\"\"\"\r\n"
              "late,cancelled,,,,\r\n");
  }
}

TEST(BatchReport, UnwritablePathFailsToOpen) {
  TempDir dir;
  BatchReport report;
  EXPECT_FALSE(report.Open(dir / "no-such-dir/report.csv"));
  // Rows of a report that could not be opened go nowhere and do not crash.
  report.Row("jdoe", RunResult{}, true);
}

TEST(Outcome, ExitStatusesAndWords) {
  const std::pair<Outcome, std::pair<int, std::string>> table[] = {
      {Outcome::completed, {0, "completed"}},
      {Outcome::incomplete, {1, "incomplete"}},
      {Outcome::input, {2, "input"}},
      {Outcome::logon, {3, "logon"}},
      {Outcome::cancelled, {130, "cancelled"}}};
  for (const auto& [outcome, expected] : table) {
    EXPECT_EQ(ExitStatus(outcome), expected.first);
    EXPECT_EQ(OutcomeWord(outcome), expected.second);
  }
}

}  // namespace
}  // namespace oa::nowindow
