// Message deletes over Graph go out in $batch requests of up to twenty: when a group is full,
// before any other request, when the run pauses for the user, on Cancel and at logoff. The
// emptying loop keeps its count and its skipped items right, throttled requests inside a batch
// are sent again, and the served store is checked after every run.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "base/mapi_error.h"
#include "console/form.h"
#include "handhelds/folder_ops.h"
#include "mailbox/backends.h"
#include "mailbox/graph/objects.h"
#include "tests/graph/served_mailbox.h"
#include "tests/nowindow/store_fixture.h"
#include "tests/support/recording_console.h"

namespace oa::graph::testing {

using console::ActivityLog;
using console::Form;
using handhelds::DeleteFolderItems;
using handhelds::FolderEmptying;
using mailbox::RunHost;

namespace {

using namespace oa::mailbox;
using oa::testing::Dump;
using oa::testing::Fault;
using oa::testing::MailboxStore;

// The emptying through the form, on the console that records what it was shown.
class DeleteBatches : public ServedMailbox {
 protected:
  oa::testing::RecordingConsole console;
};

TEST_F(DeleteBatches, FullGroupsGoOutAndTheLastOneBeforeTheFolderCountsAsEmpty) {
  Serve(Dump({Mailbox(50)}));
  auto s = Logon();
  auto folder = Handhelds(*s);
  Form form(console, ActivityLog(dir / "log"));
  FolderEmptying outcome;
  EXPECT_TRUE(DeleteFolderItems(form.run(), folder, &outcome));
  EXPECT_EQ(outcome.deleted, 50);
  EXPECT_EQ(outcome.skipped, 0);
  EXPECT_EQ(outcome.remaining, 0);
  auto batches = Batches();
  ASSERT_EQ(batches.size(), 3u);
  EXPECT_EQ(batches[0]["requests"].size(), 20u);
  EXPECT_EQ(batches[1]["requests"].size(), 20u);
  EXPECT_EQ(batches[2]["requests"].size(), 10u);
  std::set<std::string> ids;
  std::string previous;
  for (const json& r : batches[0]["requests"]) {
    EXPECT_EQ(r["method"], "POST");
    const std::string url = r["url"];
    EXPECT_EQ(url.rfind("/users/uid-0/messages/", 0), 0u) << url;
    EXPECT_EQ(url.substr(url.size() - 16), "/permanentDelete");
    EXPECT_TRUE(ids.insert(r["id"].get<std::string>()).second);
    // Chained, so that the service runs them one after another instead of four at a time.
    if (previous.empty())
      EXPECT_FALSE(r.contains("dependsOn"));
    else
      EXPECT_EQ(r["dependsOn"], json::array({previous}));
    previous = r["id"];
  }
  EXPECT_EQ(DeletedOnce(), 50u);
  // The label counted down item by item all the same.
  ASSERT_EQ(console.progress.size(), 51u);
  EXPECT_EQ(console.progress[1], "Count = 49");
  EXPECT_EQ(console.progress.back(), "Count = 0");
  EXPECT_EQ(StoredCount(), 0);
}

TEST_F(DeleteBatches, QueuedDeletesGoOutBeforeAnyOtherRequestOnAPauseAndAtLogoff) {
  Serve(Dump({Mailbox(10)}));
  auto s = Logon();
  auto items = Handhelds(*s)->Items();
  ASSERT_EQ(items->Count(), 10);
  for (int i = 0; i < 3; ++i) items->GetFirst()->Delete();
  EXPECT_EQ(server->Count("batch"), 0);
  EXPECT_EQ(items->Count(), 7);
  EXPECT_EQ(StoredCount(), 10);

  const size_t before = server->Requests().size();
  ASSERT_TRUE(Handhelds(*s));
  auto seen = server->Requests();
  // The batch went out first (its requests listed before it), then the lookup's requests.
  ASSERT_GT(seen.size(), before + 4);
  for (size_t i = before; i < before + 3; ++i) EXPECT_TRUE(seen[i].inBatch);
  EXPECT_EQ(seen[before + 3].operation, "batch");
  EXPECT_FALSE(seen[before + 3].inBatch);
  EXPECT_FALSE(seen[before + 4].inBatch);
  EXPECT_EQ(StoredCount(), 7);

  Form form(console, ActivityLog(dir / "log"));
  form.run().RDO = s;
  RunHost& host = form.run().host();
  items->GetFirst()->Delete();
  host.DoEvents();  // nothing for the user: the group keeps waiting
  EXPECT_EQ(StoredCount(), 7);
  console.inputHandled = true;
  host.DoEvents();
  EXPECT_EQ(StoredCount(), 6);
  console.inputHandled = false;

  auto first = items->GetFirst();
  first->Delete();
  first->Delete();  // queued once
  items->GetFirst()->Delete();
  EXPECT_EQ(items->Count(), 4);
  s->Logoff();
  EXPECT_EQ(StoredCount(), 4);
  EXPECT_EQ(DeletedOnce(), 6u);
  EXPECT_EQ(Batches().size(), 3u);
}

TEST_F(DeleteBatches, AnItemRefusedInsideABatchIsSkippedAndCountedAgain) {
  std::vector<std::string> subjects;
  for (int i = 0; i < 45; ++i) subjects.push_back("m" + std::to_string(i));
  Serve(Dump({Mailbox(0, subjects)},
             {Fault("Mail.Delete", "m5", -1, "0x80070005", "Access is denied"),
              Fault("Mail.Delete", "m30", -1), Fault("Mail.Delete", "m44", -1)}));
  auto s = Logon();
  auto folder = Handhelds(*s);
  Form form(console, ActivityLog(dir / "log"));
  FolderEmptying outcome;
  EXPECT_FALSE(DeleteFolderItems(form.run(), folder, &outcome));
  EXPECT_FALSE(outcome.stopped);
  EXPECT_EQ(outcome.deleted, 42);
  EXPECT_EQ(outcome.skipped, 3);
  EXPECT_EQ(outcome.remaining, 3);
  EXPECT_EQ(console.progress.back(), "Count = 3");
  EXPECT_EQ(DeletedOnce(), 42u);
  int refused = 0;
  for (const auto& r : server->Requests()) refused += r.inBatch && r.status == 403;
  EXPECT_EQ(refused, 1);  // tried once only: the loop skips it afterwards
  EXPECT_EQ(StoredCount(), 3);
  EXPECT_EQ(StoredSubjects(), (std::set<std::string>{"m5", "m30", "m44"}));
}

TEST_F(DeleteBatches, ThrottledRequestsInsideABatchAreSentAgainAfterTheWait) {
  Serve(Dump({Mailbox(30)}));
  server->AddTrouble({Trouble::Kind::Http429, "deleteMessage", 4, 3, 1000});
  server->AddTrouble({Trouble::Kind::Http503, "deleteMessage", 25, 1, 0});
  auto s = Logon();
  auto folder = Handhelds(*s);
  Form form(console, ActivityLog(dir / "log"));
  FolderEmptying outcome;
  EXPECT_TRUE(DeleteFolderItems(form.run(), folder, &outcome));
  EXPECT_EQ(outcome.deleted, 30);
  EXPECT_EQ(outcome.skipped, 0);
  EXPECT_EQ(DeletedOnce(), 30u);
  EXPECT_EQ(StoredCount(), 0);
  // The first group; the chain stops at its first throttled request (those after it fail with
  // 424 unrun), so the group goes again from that request on, after the wait; then the rest.
  auto batches = Batches();
  ASSERT_GE(batches.size(), 3u);
  EXPECT_EQ(batches[0]["requests"].size(), 20u);
  ASSERT_EQ(batches[1]["requests"].size(), 16u);
  for (int i = 0; i < 16; ++i)
    EXPECT_EQ(batches[1]["requests"][i]["url"], batches[0]["requests"][4 + i]["url"]);
  int unrun = 0;
  for (const auto& r : server->Requests()) unrun += r.inBatch && r.status == 424;
  EXPECT_GT(unrun, 0);
  int busy = 0;
  for (const auto& r : server->Requests()) busy += r.status == 429 || r.status == 503;
  EXPECT_EQ(busy, 4);
}

TEST_F(DeleteBatches, ACancelledWaitForAThrottledBatchLeavesItsItemsCountedAsThere) {
  Serve(Dump({Mailbox(25)}));
  server->AddTrouble({Trouble::Kind::Http429, "deleteMessage", 0, 2, 60000});
  int asked = 0;
  SetWaitCancelCheck([&] { return ++asked >= 3; });
  auto s = Logon();
  auto folder = Handhelds(*s);
  Form form(console, ActivityLog(dir / "log"));
  FolderEmptying outcome;
  EXPECT_FALSE(DeleteFolderItems(form.run(), folder, &outcome));
  EXPECT_GE(asked, 3);
  // The first request of the chain was throttled, the others not run: the whole group is back.
  EXPECT_EQ(outcome.deleted, 0);
  EXPECT_EQ(outcome.skipped, 20);
  EXPECT_EQ(outcome.remaining, 25);
  EXPECT_EQ(DeletedOnce(), 0u);
  EXPECT_EQ(StoredCount(), 25);
  // The service's wait holds although this one gave up on it: nothing more went to the mailbox,
  // and nothing goes while it lasts.
  auto seen = server->Requests();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().operation, "batch");
  Err().Clear();
  folder->Items()->Count();
  EXPECT_TRUE(Err().Pending());
  EXPECT_EQ(server->Requests().size(), seen.size());
}

TEST_F(DeleteBatches, CancelSendsTheGroupSoTheCountToldIsTheFolders) {
  Serve(Dump({Mailbox(50)}));
  auto s = Logon();
  auto folder = Handhelds(*s);
  Form form(console, ActivityLog(dir / "log"));
  int calls = 0;
  console.onEvents = [&] {
    if (++calls == 2 * 27) form.run().bCancel = true;
  };
  FolderEmptying outcome;
  EXPECT_FALSE(DeleteFolderItems(form.run(), folder, &outcome));
  EXPECT_TRUE(outcome.stopped);
  EXPECT_EQ(outcome.deleted, 27);
  EXPECT_EQ(outcome.remaining, 23);
  // Sent before the loop returned, not at some later request.
  EXPECT_EQ(StoredCount(), 23);
  EXPECT_EQ(DeletedOnce(), 27u);
  EXPECT_EQ(Batches().size(), 2u);
  EXPECT_EQ(folder->Items()->Count(), 23);
}

}  // namespace
}  // namespace oa::graph::testing
