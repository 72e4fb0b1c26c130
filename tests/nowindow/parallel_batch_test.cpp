// oa-cleanup --no-window --mailboxes --jobs N: several mailboxes at once on one store file, each
// mailbox's lines together on stdout and in the log, the report in the list's order, and Ctrl+C
// cancelling the mailboxes in progress and marking the rest.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <map>
#include <regex>

#include "tests/nowindow/run_fixture.h"

namespace oa::testing {
namespace {

using nlohmann::json;

// Entry IDs and the two store names made alike.
std::string Alike(const std::string& line) {
  static const std::regex kEntryId("[0-9A-F]{40,}");
  static const std::regex kServer("\\bfour\\b");
  return std::regex_replace(std::regex_replace(line, kEntryId, "<entry ID>"), kServer, "one");
}

// stdout split at the "=== " headings: mailbox -> its lines.
std::map<std::string, std::vector<std::string>> Blocks(const std::string& out, int* headings) {
  std::map<std::string, std::vector<std::string>> blocks;
  std::vector<std::string>* current = nullptr;
  *headings = 0;
  for (const std::string& line : Lines(out)) {
    if (line.rfind("=== ", 0) == 0) {
      ++*headings;
      current = &blocks[line.substr(4)];
      EXPECT_TRUE(current->empty()) << "two blocks for " << line;
    }
    if (current) current->push_back(Alike(line));
  }
  return blocks;
}

// The log's runs (each begins with its clear line), without the time stamps, in file order.
std::vector<std::vector<std::string>> LogRuns(const std::vector<std::string>& log) {
  static const std::regex kStamp("^[^ ]+ [0-9]+:[0-9]+:[0-9]+( [AP]M)?:");
  std::vector<std::vector<std::string>> runs;
  for (const std::string& line : log) {
    if (line.empty()) {
      runs.emplace_back();
    } else if (!runs.empty()) {
      runs.back().push_back(Alike(std::regex_replace(line, kStamp, "")));
    }
  }
  return runs;
}

// Mailbox and outcome of every row after the header.
std::vector<std::pair<std::string, std::string>> ReportRows(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const std::string& line : Lines(text)) {
    const size_t a = line.find(',');
    const size_t b = line.find(',', a + 1);
    if (a == std::string::npos || b == std::string::npos) continue;
    rows.emplace_back(line.substr(0, a), line.substr(a + 1, b - a - 1));
  }
  if (!rows.empty()) rows.erase(rows.begin());
  return rows;
}

class ParallelBatch : public RunFixture {};

TEST_F(ParallelBatch, EachMailboxStaysTogetherAndTheReportFollowsTheList) {
  std::vector<json> stores;
  std::vector<json> faults;
  std::string list;
  for (int i = 1; i <= 12; ++i) {
    const std::string alias = "p" + std::to_string(i);
    list += alias + "\n";
    if (i == 5) continue;  // no such mailbox: a logon failure
    // Every third one is renamed and emptied item by item, so that they finish out of order.
    const int items = i % 3 == 0 ? 6000 : i;
    stores.push_back(MailboxStore({.alias = alias, .items = items, .agentMessage = i != 7}));
    if (i % 3 == 0) faults.push_back(Fault("Folder.Delete", alias + "-hh", 1));
  }
  Import(Dump(stores, faults), "one");
  CopyStore(StoreFile("one"), "four");
  WriteFile(dir / "list.txt", list);

  ChildResult one =
      Cleanup({"--server", "one", "--mailboxes", dir / "list.txt", "--report", dir / "one.csv"});
  const std::vector<std::string> oneLog = LogLines();
  std::filesystem::remove(logFile);
  ChildResult four = Cleanup({"--server", "four", "--mailboxes", dir / "list.txt", "--jobs", "4",
                              "--report", dir / "four.csv"});
  EXPECT_EQ(four.status, one.status);
  EXPECT_EQ(four.status, 3);

  int oneHeadings = 0, fourHeadings = 0;
  auto oneBlocks = Blocks(one.out, &oneHeadings);
  auto fourBlocks = Blocks(four.out, &fourHeadings);
  EXPECT_EQ(fourHeadings, 12);
  // Each mailbox's lines are the ones it shows alone, in one piece; only the session's first
  // instantiation differs (each job has a session of its own).
  for (auto& [mailbox, lines] : fourBlocks) {
    std::erase(lines, "instantiating RDO");
    std::erase(oneBlocks[mailbox], "instantiating RDO");
    EXPECT_EQ(lines, oneBlocks[mailbox]) << mailbox;
  }
  EXPECT_EQ(fourBlocks.size(), 12u);

  auto runsOne = LogRuns(oneLog);
  auto runsFour = LogRuns(LogLines());
  ASSERT_EQ(runsFour.size(), 12u);
  for (auto* runs : {&runsOne, &runsFour}) {
    for (auto& run : *runs) std::erase(run, "instantiating RDO");
  }
  std::sort(runsOne.begin(), runsOne.end());
  std::sort(runsFour.begin(), runsFour.end());
  EXPECT_EQ(runsFour, runsOne);

  const auto rows = ReportRows(ReadFile(dir / "four.csv"));
  EXPECT_EQ(rows, ReportRows(ReadFile(dir / "one.csv")));
  ASSERT_EQ(rows.size(), 12u);
  for (int i = 1; i <= 12; ++i) EXPECT_EQ(rows[i - 1].first, "p" + std::to_string(i));

  // The store ends as the one-job batch left its copy.
  static const std::regex kEntryId("[0-9A-F]{40,}");
  json a = Export("one"), b = Export("four");
  a.erase("faults");
  b.erase("faults");
  EXPECT_EQ(std::regex_replace(b.dump(1), kEntryId, "<entry ID>"),
            std::regex_replace(a.dump(1), kEntryId, "<entry ID>"));
}

TEST_F(ParallelBatch, JobsNeedAListAndANumberInRange) {
  Import(Dump({MailboxStore({.alias = "a"})}));
  WriteFile(dir / "list.txt", "a\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--server", "demo", "--mailboxes", dir / "list.txt", "--jobs",
                                 "0"},
        std::vector<std::string>{"--server", "demo", "--mailboxes", dir / "list.txt", "--jobs",
                                 "65"},
        std::vector<std::string>{"--server", "demo", "--mailboxes", dir / "list.txt", "--jobs",
                                 "two"},
        std::vector<std::string>{"--server", "demo", "--mailbox", "a", "--jobs", "2"}}) {
    ChildResult r = Cleanup(args);
    EXPECT_EQ(r.status, 2) << args.back();
    EXPECT_NE(r.err.find("--jobs"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  ChildResult r = Cleanup({"--server", "demo", "--mailboxes", dir / "list.txt", "--jobs", "8"});
  EXPECT_EQ(r.status, 0) << r.err;
}

// An alias and its address are one mailbox, which the list cannot tell (the store resolves
// them at the logon): under --jobs both spellings are in flight at once, and the one that logs
// on second stops before it changes anything. Repeated, so that a race between the two shows.
TEST_F(ParallelBatch, AnAliasAndItsAddressRunOnce) {
  constexpr int kMailboxes = 6;
#ifdef _WIN32
  // A process start under Wine takes a large part of a second.
  constexpr int kBatches = 3;
#else
  constexpr int kBatches = 24;
#endif
  std::vector<json> stores;
  std::string list;
  for (int i = 1; i <= kMailboxes; ++i) {
    const std::string alias = "d" + std::to_string(i);
    stores.push_back(MailboxStore({.alias = alias, .items = 40}));
    // Each mailbox's two spellings next to each other, in either order.
    list +=
        i % 2 ? alias + "\n" + alias + "@example.com\n" : alias + "@example.com\n" + alias + "\n";
  }
  WriteFile(dir / "list.txt", list);
  for (int batch = 0; batch < kBatches; ++batch) {
    SCOPED_TRACE("batch " + std::to_string(batch + 1));
    Import(Dump(stores));
    ChildResult r = Cleanup({"--server", "demo", "--mailboxes", dir / "list.txt", "--jobs", "8",
                             "--report", dir / "report.csv"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string report = ReadFile(dir / "report.csv");
    const auto rows = ReportRows(report);
    ASSERT_EQ(rows.size(), 2u * kMailboxes) << report;
    const json after = Export();
    for (int i = 1; i <= kMailboxes; ++i) {
      const std::string alias = "d" + std::to_string(i);
      // Its two rows: one completed, one duplicate (whichever logged on second).
      std::vector<std::string> outcomes;
      for (const auto& [mailbox, outcome] : rows) {
        if (mailbox == alias || mailbox == alias + "@example.com") outcomes.push_back(outcome);
      }
      std::sort(outcomes.begin(), outcomes.end());
      EXPECT_EQ(outcomes, (std::vector<std::string>{"completed", "duplicate"})) << alias;
      // Cleaned up once: the agent names the one new, empty Handhelds folder.
      const json* store = FindStore(after, alias);
      ASSERT_NE(store, nullptr);
      int handhelds = 0;
      for (const json& f : (*store)["root"]["folders"][1]["folders"]) {
        EXPECT_NE(f.value("name", ""), "Handhelds -1") << alias;
        handhelds += f.value("name", "") == "Handhelds";
      }
      EXPECT_EQ(handhelds, 1) << alias;
      const json* hh = FindTopFolder(*store, "Handhelds");
      ASSERT_NE(hh, nullptr);
      EXPECT_EQ(hh->value("count", -1), 0) << alias;
      EXPECT_EQ(AgentHHEntryID(*store), hh->value("entryId", "")) << alias;
    }
    EXPECT_NE(report.find("the same mailbox as list entry "), std::string::npos) << report;
  }
}

TEST_F(ParallelBatch, CtrlCCancelsTheMailboxesInProgressAndMarksTheRest) {
  std::vector<json> stores{MailboxStore({.alias = "c1"})};
  std::vector<json> faults;
  std::string list = "c1\n";
  for (int i = 2; i <= 6; ++i) {
    const std::string alias = "c" + std::to_string(i);
    stores.push_back(MailboxStore({.alias = alias, .items = 100000}));
    faults.push_back(Fault("Folder.Delete", alias + "-hh", 1));
    list += alias + "\n";
  }
  Import(Dump(stores, faults));
  WriteFile(dir / "list.txt", list);
  // c1 is done long before c2, emptied item by item, can be.
  ChildResult r = Cleanup({"--server", "demo", "--mailboxes", dir / "list.txt", "--jobs", "2",
                           "--report", dir / "report.csv"},
                          [](const std::string& line) { return line == "=== c1" ? SIGINT : 0; });
  EXPECT_EQ(r.status, 130) << r.err;
  const auto rows = ReportRows(ReadFile(dir / "report.csv"));
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0], (std::pair<std::string, std::string>{"c1", "completed"}));
  for (size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i].second, "cancelled") << rows[i].first;
  // c2 was stopped wherever it was: renamed and partly emptied, or not yet renamed at all; in
  // either case what was not deleted is still there.
  const json after = Export();
  const json* renamed = FindTopFolder(*FindStore(after, "c2"), "Handhelds -1");
  if (renamed) {
    EXPECT_GT(renamed->value("count", 0), 0);
  } else {
    const json* hh = FindTopFolder(*FindStore(after, "c2"), "Handhelds");
    ASSERT_NE(hh, nullptr);
    EXPECT_EQ(hh->value("count", 0), 100000);
  }
  for (const char* untouched : {"c5", "c6"}) {
    const json* hh = FindTopFolder(*FindStore(after, untouched), "Handhelds");
    ASSERT_NE(hh, nullptr);
    EXPECT_EQ(hh->value("count", 0), 100000) << untouched;
  }
}

}  // namespace
}  // namespace oa::testing
