// Ctrl+C while a window-less run waits out a server that asked for a minute's back-off: the
// wait ends at once and the run cancels as after any other signal.
#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "tests/ews/ews_test_server.h"
#include "tests/ews/server_fixture.h"
#include "tests/nowindow/run_fixture.h"

namespace oa::ews::testing {
namespace {

using nlohmann::json;
using oa::testing::ChildResult;
using oa::testing::Dump;
using oa::testing::Fault;
using oa::testing::FindStore;
using oa::testing::FindTopFolder;
using oa::testing::Lines;
using oa::testing::LogonLines;
using oa::testing::MailboxStore;

class NoWindowBackOff : public oa::testing::RunFixture {};

int DeleteItemsSeen(EwsTestServer& server) {
  int n = 0;
  for (const auto& r : server.Requests()) n += r.operation == "DeleteItem" ? 1 : 0;
  return n;
}

TEST_F(NoWindowBackOff, SignalDuringTheWaitEndsTheRun) {
  // The old folder cannot be deleted whole, so it is emptied item by item, its deletes going a
  // hundred to a request; the fourth request is answered ServerBusy with a minute's back-off.
  Import(
      Dump({MailboxStore({.alias = "jdoe", .items = 400})}, {Fault("Folder.Delete", "jdoe-hh")}));
  const std::string oldFolder = oa::testing::HandheldsID(Export(), "jdoe");
  ServerOptions o;
  o.storeFile = StoreFile();
  o.mailboxes = MailboxesOf(Export());
  o.certDir = dir.path().string();
  o.lifetime = std::chrono::seconds(300);
  EwsTestServer server(o);
  ASSERT_TRUE(server.Start());
  constexpr int kBackOffMs = 60000;
  server.AddTrouble({Trouble::Kind::ServerBusy, "DeleteItem", 3, 1, kBackOffMs});
  env["OA_EWS_CAFILE"] = server.caFile();
  env["OA_EWS_USER"] = o.user;
  env["OA_EWS_PASSWORD"] = o.password;

  ChildResult r =
      Cleanup({"--server", server.url(), "--mailbox", "jdoe"}, [&](const std::string& line) {
        if (line != "pointed agent to new Handhelds folder") return 0;
        // Sent once the fourth delete has reached the server. Whether the signal then lands
        // before the busy answer is read or during the wait, the outcome is the same: reads
        // restart (SA_RESTART) and the wait asks for a pending signal at its first slice.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (DeleteItemsSeen(server) < 4 && std::chrono::steady_clock::now() < until)
          std::this_thread::sleep_for(std::chrono::milliseconds(25));
        return SIGINT;
      });
  EXPECT_EQ(DeleteItemsSeen(server), 4);
  server.Stop();

  EXPECT_EQ(r.status, 130) << r.err;
  ASSERT_TRUE(r.signalToExit);
  // A signal not taken in the wait lets the run sleep the whole minute; judged against half of
  // it, which no loaded machine reaches.
  EXPECT_LT(r.signalToExit->count(), kBackOffMs / 2000.0);
  std::vector<std::string> expected = LogonLines("jdoe", server.url());
  for (const std::string& line :
       {"Retrieved Handhelds folder using EntryID " + oldFolder,
        std::string("CleanupHH: message count = 400"),
        std::string("CleanupHH: attempting to delete folder"),
        std::string("error deleting folder &H80004005 Unspecified error"),
        std::string("failed to delete existing Handhelds folder; attempting rename"),
        std::string("successfully renamed existing folder as Handhelds -1"),
        std::string("Created new Handhelds folder in mailbox"),
        std::string("pointed agent to new Handhelds folder"),
        std::string("Canceled delete of folder items before completion; count = 100")})
    expected.push_back(line);
  EXPECT_EQ(Lines(r.out), expected);
  ExpectLogFile(expected);

  // Three groups of a hundred went; the rest stay in the renamed folder, and the agent points
  // at the new one.
  const json after = Export();
  const json* renamed = FindTopFolder(*FindStore(after, "jdoe"), "Handhelds -1");
  ASSERT_NE(renamed, nullptr);
  EXPECT_EQ(renamed->value("count", -1), 100);
  EXPECT_EQ(oa::testing::AgentHHEntryID(*FindStore(after, "jdoe")),
            oa::testing::HandheldsID(after, "jdoe"));
}

}  // namespace
}  // namespace oa::ews::testing
