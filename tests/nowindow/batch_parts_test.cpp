// The batch's mailbox list and its CSV report.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "console/nowindow/batch_progress.h"
#include "console/nowindow/batch_report.h"
#include "console/nowindow/batch_resume.h"
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
  EXPECT_EQ(
      ParseMailboxList(in).mailboxes,
      (std::vector<std::string>{"jdoe", "mary.major@example.com", "a#b", "last-without-newline"}));
}

TEST(MailboxList, UnreadableFileIsNoList) {
  TempDir dir;
  EXPECT_FALSE(ReadMailboxList(dir / "missing.txt").error.empty());
  EXPECT_FALSE(ReadMailboxList(dir.path().string()).error.empty());
  WriteFile(dir / "empty.txt", "");
  MailboxList empty = ReadMailboxList(dir / "empty.txt");
  EXPECT_EQ(empty.error, "");
  EXPECT_TRUE(empty.mailboxes.empty());
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
      {Outcome::completed, {0, "completed"}},   {Outcome::incomplete, {1, "incomplete"}},
      {Outcome::input, {2, "input"}},           {Outcome::logon, {3, "logon"}},
      {Outcome::cancelled, {130, "cancelled"}}, {Outcome::planned, {0, "planned"}},
      {Outcome::duplicate, {0, "duplicate"}}};
  for (const auto& [outcome, expected] : table) {
    EXPECT_EQ(ExitStatus(outcome), expected.first);
    EXPECT_EQ(OutcomeWord(outcome), expected.second);
  }
}

TEST(BatchReport, CopiedRowsFollowTheHeaderAndReplaceTheFileWhole) {
  TempDir dir;
  const std::string path = dir / "report.csv";
  WriteFile(path, "old contents\r\n");
  BatchReport report;
  ASSERT_TRUE(report.Open(path, {"m1,completed,1,X,0.1,\"a,\r\nb\"\r\n"}));
  RunResult done;
  done.outcome = Outcome::planned;
  report.Row("m2", done, true);
  EXPECT_EQ(ReadFile(path),
            "mailbox,outcome,old_item_count,new_folder_entry_id,seconds,last_log_line\r\n"
            "m1,completed,1,X,0.1,\"a,\r\nb\"\r\n"
            "m2,planned,,,0.000,\r\n");
  EXPECT_FALSE(std::filesystem::exists(path + ".partial"));
}

TEST(EarlierReport, CsvRecordsKeepTheirTextAndAnUnfinishedLastRecordIsDropped) {
  std::string error;
  const std::string text = "a,\"b,\"\"c\"\"\r\nd\"\r\ne,f\nlast,without-end";
  auto records = ParseCsv(text, &error);
  ASSERT_TRUE(records);
  ASSERT_EQ(records->size(), 2u);
  EXPECT_EQ((*records)[0].fields, (std::vector<std::string>{"a", "b,\"c\"\r\nd"}));
  EXPECT_EQ((*records)[0].text, "a,\"b,\"\"c\"\"\r\nd\"\r\n");
  EXPECT_EQ((*records)[1].fields, (std::vector<std::string>{"e", "f"}));
  EXPECT_FALSE(ParseCsv("x\r\n\"open,\r\nstill\r\n", &error));
  EXPECT_EQ(error, "a quoted field opened on line 2 never ends");
}

TEST(EarlierReport, CompletedRowsAreCopiedPerListedMailboxAndOccurrence) {
  TempDir dir;
  WriteFile(dir / "r.csv",
            "mailbox,outcome,old_item_count,new_folder_entry_id,seconds,last_log_line\r\n"
            "JDoe,completed,1,A,0.1,x\r\n"
            "asmith,incomplete,,,0.2,y\r\n"
            "dup,completed,1,B,0.1,first\r\n"
            "gone,completed,1,C,0.1,z\r\n"
            "bbig,planned,3,,0.1,Dry run: nothing was changed\r\n");
  std::string error;
  auto plan = PlanResume(dir / "r.csv", {"jdoe", "asmith", "dup", "dup", "bbig", "new"}, &error);
  ASSERT_TRUE(plan) << error;
  EXPECT_EQ(plan->copiedRows,
            (std::vector<std::string>{"JDoe,completed,1,A,0.1,x\r\n", "",
                                      "dup,completed,1,B,0.1,first\r\n", "", "", ""}));
  EXPECT_EQ(plan->rowsNotInList, 1u);

  WriteFile(dir / "other.csv", "name,value\r\n");
  EXPECT_FALSE(PlanResume(dir / "other.csv", {"jdoe"}, &error));
  EXPECT_EQ(error, dir / "other.csv" +
                       ": is not a batch report (its first line is not the "
                       "report's header)");
  EXPECT_FALSE(PlanResume(dir / "missing.csv", {"jdoe"}, &error));
  EXPECT_EQ(error, dir / "missing.csv" + ": cannot be read");
}

TEST(BatchProgress, LineWithTheTimeLeftFromTheMeanSoFar) {
  EXPECT_EQ(BatchProgressLine(1, 4, "jdoe", "completed", 2.0, 2.0),
            "[1/4] jdoe: completed (2.0 s), about 6.0 s left");
  EXPECT_EQ(BatchProgressLine(2, 4, "asmith", "logon", 0.25, 30.0),
            "[2/4] asmith: logon (0.2 s), about 30 s left");
  EXPECT_EQ(BatchProgressLine(4, 4, "bbig", "completed", 95.0, 200.0),
            "[4/4] bbig: completed (1 min 35 s)");
  EXPECT_EQ(DurationText(7325), "2 h 2 min");
  EXPECT_EQ(DurationText(59.6), "1 min 0 s");
}

}  // namespace
}  // namespace oa::nowindow
