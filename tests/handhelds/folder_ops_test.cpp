// The folder operations on their own against a real store: emptying with progress, Cancel and
// items that will not go; set-aside names; the new top-level folder.
#include "handhelds/folder_ops.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "handhelds/folder_lookup.h"
#include "tests/handhelds/store_run.h"

namespace oa::testing {

using handhelds::CreateHandheldsFolder;
using handhelds::DeleteFolderItems;
using handhelds::FolderEmptying;
using handhelds::GetFolder;
using handhelds::GetUniqueFolderName;

namespace {

class FolderOps : public HostRun {
 protected:
  // Logs on to a mailbox whose Handhelds folder holds `items` fillers and opens that folder.
  std::shared_ptr<mailbox::RDOFolder> OpenHandhelds(int items, std::vector<json> faults = {},
                                                    std::vector<json> moreTop = {}) {
    std::vector<json> top = {Folder("Handhelds", "hh", items)};
    for (auto& f : moreTop) top.push_back(f);
    Import(Dump({MailboxStore(top, AgentMessage({{"HHEntryID", {{"ref", "hh"}}}}))}, faults));
    EXPECT_TRUE(Connect());
    host.results.clear();
    return GetFolder(host.run(), IdOf("hh"), "");
  }
  int64_t CountNow(const std::vector<std::string>& names) { return CountOf(Export(1), names); }
};

TEST_F(FolderOps, EmptyingBeyondTheSixteenBitCounterLogsEveryFiveThousand) {
  auto folder = OpenHandhelds(35000);
  ASSERT_NE(folder, nullptr);
  FolderEmptying outcome;
  EXPECT_TRUE(DeleteFolderItems(host.run(), folder, &outcome));
  std::vector<std::string> lines;
  for (int n = 5000; n <= 35000; n += 5000)
    lines.push_back("Deleted " + std::to_string(n) + " items");
  EXPECT_EQ(host.results, lines);
  EXPECT_EQ(outcome.deleted, 35000);
  EXPECT_EQ(outcome.remaining, 0);
  EXPECT_FALSE(outcome.stopped);
  EXPECT_EQ(host.progress.size(), 35001u);
  EXPECT_EQ(host.progress.front(), "Count = 35000");
  EXPECT_EQ(host.progress.back(), "Count = 0");
  EXPECT_EQ(CountNow({kTopName, "Handhelds"}), 0);
}

TEST_F(FolderOps, CancelStopsAfterTheItemInHandBeforeItsLabelUpdate) {
  auto folder = OpenHandhelds(20);
  int eventsAtThird = -1;
  host.onEvents = [&] {
    if (host.progress.size() == 3 && eventsAtThird < 0) eventsAtThird = host.events;
    // Pending events run twice after every item; the flag is read after both.
    if (eventsAtThird >= 0 && host.events == eventsAtThird + 1) host.run().bCancel = true;
  };
  FolderEmptying outcome;
  EXPECT_FALSE(DeleteFolderItems(host.run(), folder, &outcome));
  EXPECT_TRUE(outcome.stopped);
  EXPECT_EQ(outcome.deleted, 3);
  EXPECT_EQ(outcome.remaining, 17);
  EXPECT_EQ(host.progress, (std::vector<std::string>{"Count = 20", "Count = 19", "Count = 18"}));
  EXPECT_EQ(host.events, eventsAtThird + 1);
  EXPECT_TRUE(host.results.empty());
  EXPECT_EQ(CountNow({kTopName, "Handhelds"}), 17);
}

TEST_F(FolderOps, CancelWorksWhileNoItemCanBeDeleted) {
  auto folder = OpenHandhelds(500, {Fault("Mail.Delete", "", "none")});
  host.onEvents = [&] {
    if (host.progress.size() == 10) host.run().bCancel = true;
  };
  FolderEmptying outcome;
  EXPECT_FALSE(DeleteFolderItems(host.run(), folder, &outcome));
  EXPECT_TRUE(outcome.stopped);
  EXPECT_EQ(outcome.deleted, 0);
  EXPECT_EQ(outcome.remaining, 500);
  EXPECT_EQ(host.progress.size(), 10u);
}

TEST_F(FolderOps, ItemsAddedMeanwhileDoNotPassForItemsThatWouldNotGo) {
  auto folder = OpenHandhelds(6);
  // Another program (the agent) adds a message to the folder while each of the first items is
  // deleted, so the count stays where it was.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(storePath.c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 10000);
  int added = 0;
  host.onEvents = [&] {
    if (added >= 4 || host.events % 2 == 0) return;
    ++added;
    ASSERT_EQ(
        sqlite3_exec(db,
                     "BEGIN IMMEDIATE;"
                     "INSERT INTO messages(folder_id, class, subject, created) "
                     "SELECT id, 'IPM.Note', 'added', 0 FROM folders WHERE name = 'Handhelds';"
                     "UPDATE folders SET item_count = item_count + 1 WHERE name = 'Handhelds';"
                     "COMMIT;",
                     nullptr, nullptr, nullptr),
        SQLITE_OK)
        << sqlite3_errmsg(db);
  };
  FolderEmptying outcome;
  EXPECT_TRUE(DeleteFolderItems(host.run(), folder, &outcome));
  sqlite3_close(db);
  EXPECT_EQ(added, 4);
  EXPECT_EQ(outcome.deleted, 10);
  EXPECT_EQ(CountNow({kTopName, "Handhelds"}), 0);
}

TEST_F(FolderOps, AnEmptyFolderCountsAsEmptied) {
  auto folder = OpenHandhelds(0);
  EXPECT_TRUE(DeleteFolderItems(host.run(), folder));
  EXPECT_EQ(host.progress, std::vector<std::string>{"Count = 0"});
}

TEST_F(FolderOps, AFolderWhoseCountCannotBeReadIsNotTouched) {
  auto folder = OpenHandhelds(4, {Fault("Items.Count", "hh", "none")});
  FolderEmptying outcome;
  EXPECT_FALSE(DeleteFolderItems(host.run(), folder, &outcome));
  EXPECT_FALSE(outcome.stopped);
  EXPECT_EQ(outcome.deleted, 0);
  EXPECT_TRUE(host.progress.empty());
  EXPECT_FALSE(DeleteFolderItems(host.run(), nullptr));
  EXPECT_EQ(CountNow({kTopName, "Handhelds"}), 4);
}

TEST_F(FolderOps, SetAsideNameIsTheFirstNumberNoSiblingBears) {
  auto folder = OpenHandhelds(
      0, {}, {Folder("Handhelds -1"), Folder("HANDHELDS -2"), Folder("Handhelds -4")});
  EXPECT_EQ(GetUniqueFolderName(host.run(), folder), "Handhelds -3");
  // Without a folder to look beside, the first name is offered.
  EXPECT_EQ(GetUniqueFolderName(host.run(), nullptr), "Handhelds -1");
  EXPECT_TRUE(host.results.empty());
}

TEST_F(FolderOps, NewFolderIsReusedOnlyOnTheExactName) {
  auto folder = OpenHandhelds(0);
  auto reused = CreateHandheldsFolder(host.run());
  ASSERT_NE(reused, nullptr);
  EXPECT_EQ(reused->EntryID(), IdOf("hh"));
  EXPECT_EQ(host.results, std::vector<std::string>{"Created new Handhelds folder in mailbox"});
}

TEST_F(FolderOps, NewFolderIsAddedWhenNoneExists) {
  Import(Dump({MailboxStore({Folder("Other")}, AgentMessage(json::object()))}));
  ASSERT_TRUE(Connect());
  host.results.clear();
  auto added = CreateHandheldsFolder(host.run());
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->Name(), "Handhelds");
  EXPECT_EQ(host.results, std::vector<std::string>{"Created new Handhelds folder in mailbox"});
  const json after = Export();
  const json* stored = FindFolder(after, {kTopName, "Handhelds"});
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->at("entryId"), added->EntryID());
}

TEST_F(FolderOps, NewFolderFailureIsLogged) {
  Import(Dump({MailboxStore({Folder("Other")}, AgentMessage(json::object()))},
              {Fault("Folders.Add", "top", "none")}));
  ASSERT_TRUE(Connect());
  host.results.clear();
  EXPECT_EQ(CreateHandheldsFolder(host.run()), nullptr);
  EXPECT_EQ(host.results,
            std::vector<std::string>{
                "CreateHandheldsFolder failed: unable to create Handhelds folder in mailbox"});
  EXPECT_EQ(FindFolder(Export(), {kTopName, "Handhelds"}), nullptr);
}

}  // namespace
}  // namespace oa::testing
