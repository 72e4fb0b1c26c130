// The mailbox's limits held over Graph against a loopback server that holds them as Exchange
// Online does: chained deletes get no concurrency refusals, the emptying paces itself to the
// budget instead of running into it, and Cancel ends a pacing wait, with the window and without.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "console/form.h"
#include "handhelds/folder_ops.h"
#include "mailbox/graph/client.h"
#include "tests/graph/served_mailbox.h"
#include "tests/support/recording_console.h"

namespace oa::graph::testing {

using console::ActivityLog;
using console::Form;
using handhelds::DeleteFolderItems;
using handhelds::FolderEmptying;

namespace {

using namespace oa::mailbox;
using oa::testing::Dump;
using Clock = std::chrono::steady_clock;

class MailboxLimitsOverGraph : public ServedMailbox {
 protected:
  // Requests the server refused for the mailbox's limits, and 429 answers of any kind.
  int Refused() {
    int n = 0;
    for (const auto& r : server->Requests()) n += !r.throttledBy.empty() || r.status == 429;
    return n;
  }
  // What the form showed.
  oa::testing::RecordingConsole console;
};

TEST_F(MailboxLimitsOverGraph, UnchainedRequestsBeyondFourInABatchAreRefusedAsTheServiceDoes) {
  // The rule the emptying is held to: without it the tests below could not fail.
  Serve(Dump({Mailbox(0)}));
  auto s = Logon();
  GraphOptions o = backends.graph;
  Client client(o, o.tenant);
  ASSERT_TRUE(client.SignIn());
  json requests = json::array();
  for (int i = 1; i <= 6; ++i)
    requests.push_back(
        {{"id", std::to_string(i)},
         {"method", "POST"},
         {"url", "/users/uid-0/messages/m" + std::to_string(i) + "/permanentDelete"}});
  json body = {{"requests", requests}};
  auto r = client.Call("POST", "/$batch", &body);
  ASSERT_TRUE(r) << Err().Description();
  int over = 0;
  for (const json& a : (*r)["responses"]) {
    if (a["status"] != 429) continue;
    ++over;
    EXPECT_EQ(a["body"]["error"]["message"], "Application is over its MailboxConcurrency limit.");
    EXPECT_EQ(a["headers"]["Retry-After"], "1");
  }
  EXPECT_EQ(over, 2);
  // Chained and unchained mixed: refused whole.
  body["requests"][2]["dependsOn"] = json::array({"2"});
  EXPECT_FALSE(client.Call("POST", "/$batch", &body));
}

TEST_F(MailboxLimitsOverGraph, SteadyStateEmptyingIsNeverRefusedAndStaysWithinTheBudget) {
  // A budget of 200 requests per 2 seconds on both sides (the service's 10,000 per 10 minutes,
  // scaled): 300 items need several windows.
  Serve(Dump({Mailbox(300)}), [](GraphServerOptions& o, BackendOptions& b) {
    o.budget = 200;
    o.budgetWindow = std::chrono::seconds(2);
    b.graph.budgetRequests = 200;
    b.graph.budgetWindow = std::chrono::seconds(2);
  });
  auto s = Logon();
  auto folder = Handhelds(*s);
  Form form(console, ActivityLog(dir / "log"));
  FolderEmptying outcome;
  EXPECT_TRUE(DeleteFolderItems(form.run(), folder, &outcome));
  EXPECT_EQ(outcome.deleted, 300);
  EXPECT_EQ(outcome.skipped, 0);
  EXPECT_EQ(Refused(), 0);
  EXPECT_EQ(DeletedOnce(), 300u);
  EXPECT_EQ(StoredCount(), 0);
  EXPECT_EQ(server->maxInFlight(), 1);
  // Fifteen full groups: each request inside a batch is one of the budget's.
  EXPECT_EQ(Batches().size(), 15u);
}

// A pace of about one request a minute after a burst of 50 (5000 requests per 81 hours): the
// first group beyond the burst waits a minute or more for its turn, unless Cancel ends the wait.
void SlowPace(GraphServerOptions&, BackendOptions& b) {
  b.graph.budgetRequests = 5000;
  b.graph.budgetWindow = std::chrono::hours(81);
}

class CancelledPacingWait : public MailboxLimitsOverGraph {
 protected:
  void SetUp() override {
    Serve(Dump({Mailbox(200)}), SlowPace);
    session = Logon();
    folder = Handhelds(*session);
  }
  void TearDown() override {
    // Logged off first: the server does not wait for a connection kept open.
    folder.reset();
    session.reset();
    MailboxLimitsOverGraph::TearDown();
  }
  // Empties the folder while the checks and hooks installed decide; the wait ended by Cancel
  // well before its turn would have come.
  FolderEmptying Run(Form& form) {
    const auto start = Clock::now();
    FolderEmptying outcome;
    EXPECT_FALSE(DeleteFolderItems(form.run(), folder, &outcome));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
    return outcome;
  }
  // The groups sent before the wait are gone, the one waiting went nowhere, and the count told
  // is the folder's.
  void ExpectStoppedInTheWait(const FolderEmptying& outcome) {
    EXPECT_TRUE(outcome.stopped);
    EXPECT_GT(outcome.deleted, 0);
    EXPECT_LT(outcome.deleted, 200);
    EXPECT_EQ(outcome.deleted % 20, 0);
    EXPECT_EQ(Batches().size(), static_cast<size_t>(outcome.deleted / 20));
    EXPECT_EQ(DeletedOnce(), static_cast<size_t>(outcome.deleted));
    EXPECT_EQ(outcome.remaining, 200 - outcome.deleted);
    EXPECT_EQ(StoredCount(), 200 - outcome.deleted);
    EXPECT_EQ(Refused(), 0);
  }
  std::shared_ptr<GraphSession> session;
  std::shared_ptr<RDOFolder> folder;
};

TEST_F(CancelledPacingWait, CancelInTheWindowEndsIt) {
  Form form(console, ActivityLog(dir / "log"));
  // As the window does: events run during the wait (the click on Cancel is one of them), and
  // its checks ask whether the run is to stop.
  int waits = 0;
  SetWhileWaiting([&] {
    ++waits;
    form.run().bCancel = true;
  });
  SetWaitCancelCheck([&] { return form.run().StopRequested(); });
  SetRequestCancelCheck([&] { return form.run().StopRequested(); });
  const FolderEmptying outcome = Run(form);
  EXPECT_GE(waits, 1);
  ExpectStoppedInTheWait(outcome);
}

TEST_F(CancelledPacingWait, ASignalWithoutAWindowEndsIt) {
  Form form(console, ActivityLog(dir / "log"));
  // As the window-less mode does: no events during the wait; the signal's flag ends the wait
  // and any request in flight, and the console turns it into Cancel at its next events.
  std::atomic<bool> signal{false}, waiting{false};
  SetWaitCancelCheck([&] {
    waiting = true;
    return signal.load();
  });
  SetRequestCancelCheck([&] { return signal.load(); });
  console.onEvents = [&] {
    if (signal) form.run().bCancel = true;
  };
  // The signal arrives once the run is waiting.
  std::thread sender([&] {
    const auto until = Clock::now() + std::chrono::seconds(60);
    while (!waiting && Clock::now() < until) std::this_thread::yield();
    signal = true;
  });
  const FolderEmptying outcome = Run(form);
  sender.join();
  ExpectStoppedInTheWait(outcome);
}

TEST_F(MailboxLimitsOverGraph,
       AWaitBeyondTheBudgetEndsTheEmptyingWithTheTrueCountAndNoMoreRequests) {
  // The third group's first delete is told to wait 20 minutes, beyond the 10 minutes allowed;
  // the service refuses everything for the mailbox meanwhile.
  Serve(Dump({Mailbox(70)}));
  server->AddTrouble({Trouble::Kind::Http429, "deleteMessage", 40, 1, 20 * 60 * 1000});
  auto s = Logon();
  auto folder = Handhelds(*s);
  Form form(console, ActivityLog(dir / "log"));
  FolderEmptying outcome;
  EXPECT_FALSE(DeleteFolderItems(form.run(), folder, &outcome));
  EXPECT_FALSE(outcome.stopped);
  EXPECT_EQ(outcome.deleted, 40);
  EXPECT_EQ(outcome.remaining, 30);
  EXPECT_EQ(StoredCount(), 30);
  EXPECT_EQ(DeletedOnce(), 40u);
  EXPECT_EQ(console.progress.back(), "Count = 30");
  // The refused batch was the last request; nothing followed, the logoff's neither.
  s->Logoff();
  auto seen = server->Requests();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().operation, "batch");
  EXPECT_EQ(Batches().size(), 3u);
  int refused = 0;
  for (const auto& r : seen) refused += r.status == 429;
  EXPECT_EQ(refused, 1);
}

}  // namespace
}  // namespace oa::graph::testing
