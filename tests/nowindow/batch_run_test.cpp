// oa-cleanup --no-window --mailboxes: twenty mailboxes with mixed outcomes on one session, the
// "=== " headings on stdout, and the CSV report read back with an RFC 4180 reader.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/nowindow/run_fixture.h"

namespace oa::testing {
namespace {

using nlohmann::json;
using Row = std::vector<std::string>;

// Records of an RFC 4180 text: quoted fields may hold commas, doubled quotes and line breaks.
std::vector<Row> ReadCsv(const std::string& text) {
  std::vector<Row> rows;
  Row row;
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      row.push_back(field);
      field.clear();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      row.push_back(field);
      field.clear();
      rows.push_back(row);
      row.clear();
      ++i;
    } else {
      field += c;
    }
  }
  EXPECT_TRUE(field.empty() && row.empty()) << "the report ends with CR LF";
  return rows;
}

struct Expected {
  std::string mailbox;
  std::string outcome;
  std::string itemCount;
  // Empty: the last log line must begin with `lastLinePrefix`.
  std::string lastLine;
  std::string lastLinePrefix;
};

class BatchRun : public RunFixture {};

TEST_F(BatchRun, TwentyMailboxesWithMixedOutcomesAndTheirReport) {
  std::vector<json> stores;
  std::vector<json> faults;
  std::vector<Expected> expected;
  auto completed = [&](const std::string& alias, int items) {
    stores.push_back(MailboxStore({.alias = alias, .items = items}));
    expected.push_back(
        {alias, "completed", std::to_string(items), "pointed agent to new Handhelds folder", ""});
  };
  for (int i = 1; i <= 8; ++i) completed("m0" + std::to_string(i), i);
  // Not deleted in one call: renamed, emptied, then deleted.
  for (const char* alias : {"m09", "m10"}) {
    stores.push_back(MailboxStore({.alias = alias, .items = 6}));
    faults.push_back(Fault("Folder.Delete", std::string(alias) + "-hh", 1));
    expected.push_back(
        {alias, "completed", "6", "Deleted all items, attempting to delete folder", ""});
  }
  stores.push_back(MailboxStore({.alias = "m11", .agentMessage = false}));
  expected.push_back({"m11", "logon", "", "Failed to access agent folders", ""});
  // m12 has no mailbox in the store at all.
  expected.push_back({"m12", "logon", "", "", "RDO.LoggedOn = False -"});
  stores.push_back(MailboxStore({.alias = "m13", .handheldsExists = false}));
  expected.push_back(
      {"m13", "incomplete", "",
       "Unable to get Handhelds folder using EntryID 00000000DEADBEEF00000000DEADBEEF", ""});
  stores.push_back(MailboxStore({.alias = "m14", .items = 2}));
  faults.push_back(Fault("Mail.Save", "m14-agent"));
  expected.push_back({"m14", "incomplete", "2",
                      "error pointing agent to new Handhelds folder &H80004005 Unspecified error",
                      ""});
  stores.push_back(MailboxStore({.alias = "m15", .items = 2}));
  faults.push_back(Fault("Folder.Delete", "m15-hh"));
  faults.push_back(Fault("Folder.Name", "m15-hh"));
  expected.push_back({"m15", "incomplete", "2", "failed to rename existing folder", ""});
  for (int i = 16; i <= 20; ++i) {
    std::string alias = "m";  // appended: GCC 12 -O3 takes "m" + string for an overlapping copy
    completed(alias += std::to_string(i), 1);
  }
  Import(Dump(stores, faults));
  const json before = Export();

  WriteFile(
      dir / "list.txt", "# north office\r\n\r\n" + [&] {
        std::string list;
        for (const Expected& e : expected) list += e.mailbox + "\r\n";
        return list;
      }() + "   \r\n# end\r\n");
  ChildResult r = Cleanup(
      {"--server", "demo", "--mailboxes", dir / "list.txt", "--report", dir / "report.csv"});
  EXPECT_EQ(r.status, 3) << "the highest status met";

  // Each mailbox's run begins with its heading, in file order, on one session.
  const std::vector<std::string> out = Lines(r.out);
  std::vector<std::string> headings;
  std::copy_if(out.begin(), out.end(), std::back_inserter(headings),
               [](const std::string& l) { return l.rfind("=== ", 0) == 0; });
  ASSERT_EQ(headings.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(headings[i], "=== " + expected[i].mailbox);
  EXPECT_EQ(out.front(), "=== m01");
  EXPECT_EQ(std::count(out.begin(), out.end(), "instantiating RDO"), 1);
  // Only the logon failure shows a message box.
  EXPECT_EQ(Lines(r.err).size(), 2u) << r.err;
  EXPECT_EQ(
      r.err.rfind("ondavelAgent Administrator: Unable to logon using dynamic profile demo m12\r\n",
                  0),
      0u);

  const std::vector<Row> report = ReadCsv(ReadFile(dir / "report.csv"));
  ASSERT_EQ(report.size(), expected.size() + 1);
  EXPECT_EQ(report[0], (Row{"mailbox", "outcome", "old_item_count", "new_folder_entry_id",
                            "seconds", "last_log_line"}));
  const json after = Export();
  for (size_t i = 0; i < expected.size(); ++i) {
    const Expected& e = expected[i];
    const Row& row = report[i + 1];
    ASSERT_EQ(row.size(), 6u) << e.mailbox;
    EXPECT_EQ(row[0], e.mailbox);
    EXPECT_EQ(row[1], e.outcome) << e.mailbox;
    EXPECT_EQ(row[2], e.itemCount) << e.mailbox;
    if (e.outcome == "completed") {
      EXPECT_EQ(row[3], HandheldsID(after, e.mailbox)) << e.mailbox;
      EXPECT_NE(row[3], HandheldsID(before, e.mailbox)) << e.mailbox;
      EXPECT_EQ(AgentHHEntryID(*FindStore(after, e.mailbox)), row[3]) << e.mailbox;
    } else {
      EXPECT_EQ(row[3], "") << e.mailbox;
    }
    size_t used = 0;
    const double seconds = std::stod(row[4], &used);
    EXPECT_EQ(used, row[4].size()) << row[4];
    EXPECT_GE(seconds, 0.0);
    EXPECT_LT(seconds, 60.0);
    if (e.lastLine.empty()) {
      EXPECT_EQ(row[5].rfind(e.lastLinePrefix, 0), 0u) << e.mailbox << ": " << row[5];
    } else {
      EXPECT_EQ(row[5], e.lastLine) << e.mailbox;
    }
  }
  // A failure in one mailbox never stops the next: the last one was cleaned up.
  EXPECT_EQ(FindTopFolder(*FindStore(after, "m20"), "Handhelds")->value("count", -1), 0);
}

TEST_F(BatchRun, AllCompletedIsStatus0AndAnUnwritableReportIsAUsageError) {
  Import(Dump({MailboxStore({.alias = "a"}), MailboxStore({.alias = "b"})}));
  WriteFile(dir / "list.txt", "a\nb\n");
  ChildResult unwritable = Cleanup({"--server", "demo", "--mailboxes", dir / "list.txt", "--report",
                                    dir / "no-such-dir/report.csv"});
  EXPECT_EQ(unwritable.status, 2);
  EXPECT_EQ(unwritable.out, "");
  EXPECT_FALSE(std::filesystem::exists(logFile)) << "nothing ran";

  ChildResult r = Cleanup({"--server", "demo", "--mailboxes", dir / "list.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out).front(), "=== a");
  // The log file sets each run off with its clear line.
  const std::vector<std::string> log = LogLines();
  EXPECT_EQ(std::count(log.begin(), log.end(), ""), 2);
}

TEST_F(BatchRun, EmptyServerFailsTheInputCheckForEveryMailbox) {
  WriteFile(dir / "list.txt", "a\nb\n");
  ChildResult r = Cleanup({"--mailboxes", dir / "list.txt", "--report", dir / "report.csv"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "ondavelAgent Administrator: You must supply the Exchange Server name!\n"
            "ondavelAgent Administrator: You must supply the Exchange Server name!\n");
  const std::vector<Row> report = ReadCsv(ReadFile(dir / "report.csv"));
  ASSERT_EQ(report.size(), 3u);
  EXPECT_EQ(report[1][1], "input");
  EXPECT_EQ(report[2][1], "input");
}

}  // namespace
}  // namespace oa::testing
