// The window-less cleanups run twice on copies of one store: once on the store file, once over
// the loopback EWS server serving the copy. Both give the same stdout line for line (the server
// text and entry-ID texts aside), the same exit status and the same mailbox afterwards.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "mailbox/ews/soap.h"
#include "tests/ews/ews_test_server.h"
#include "tests/ews/server_fixture.h"
#include "tests/nowindow/run_fixture.h"

namespace oa::ews::testing {
namespace {

using nlohmann::json;
using oa::testing::ChildResult;
using oa::testing::Dump;
using oa::testing::Fault;
using oa::testing::Lines;
using oa::testing::MailboxStore;

std::vector<std::string> Normalized(const std::string& out, const std::string& server) {
  static const std::regex kEntryId("[0-9A-F]{40,}");
  std::vector<std::string> lines;
  for (std::string line : Lines(out)) {
    for (size_t p; !server.empty() && (p = line.find(server)) != std::string::npos;)
      line.replace(p, server.size(), "demo");
    lines.push_back(std::regex_replace(line, kEntryId, "<entry ID>"));
  }
  return lines;
}

// What a run leaves: the export without entry IDs, and without the faults' spent counts (the
// server reaches the store through other calls than the program does).
std::string Outcome(json dump) {
  dump.erase("faults");
  static const std::regex kEntryId("[0-9A-F]{40,}");
  return std::regex_replace(dump.dump(1), kEntryId, "<entry ID>");
}

class NoWindowOverEws : public oa::testing::RunFixture {
 protected:
  struct Runs {
    ChildResult direct, overEws;
    std::vector<SeenRequest> requests;
  };

  // Imports the dump as "demo", copies it as "viaews", runs the cleanup on the first directly and
  // on the second over the server, with the troubles given, and compares the two runs.
  Runs RunBoth(const json& dump, const std::string& mailbox,
               const std::vector<Trouble>& troubles = {}) {
    Import(dump, "demo");
    CopyStore(StoreFile("demo"), "viaews");
    Runs runs;
    runs.direct = Cleanup({"--server", "demo", "--mailbox", mailbox});

    ServerOptions o;
    o.storeFile = StoreFile("viaews");
    o.mailboxes = MailboxesOf(dump);
    o.certDir = dir.path().string();
    o.lifetime = std::chrono::seconds(300);
    EwsTestServer server(o);
    EXPECT_TRUE(server.Start());
    for (const Trouble& t : troubles) server.AddTrouble(t);
    env["OA_EWS_CAFILE"] = server.caFile();
    env["OA_EWS_USER"] = o.user;
    env["OA_EWS_PASSWORD"] = o.password;
    runs.overEws = Cleanup({"--server", server.url(), "--mailbox", mailbox});
    runs.requests = server.Requests();
    server.Stop();

    EXPECT_EQ(runs.overEws.status, runs.direct.status) << runs.overEws.err;
    EXPECT_EQ(Normalized(runs.overEws.out, server.url()), Normalized(runs.direct.out, ""));
    EXPECT_EQ(Outcome(Export("viaews")), Outcome(Export("demo")));
    for (const auto& r : runs.requests) {
      EXPECT_EQ(r.body.find(o.password), std::string::npos);
      EXPECT_EQ(r.body.find(o.user), std::string::npos);
    }
    return runs;
  }
};

TEST_F(NoWindowOverEws, CompletedRun) {
  Runs r = RunBoth(Dump({MailboxStore({.alias = "jdoe", .items = 3})}), "jdoe");
  EXPECT_EQ(r.direct.status, 0);
  EXPECT_EQ(Lines(r.direct.out).back(), "pointed agent to new Handhelds folder");
}

TEST_F(NoWindowOverEws, FolderNotFound) {
  Runs r = RunBoth(Dump({MailboxStore({.alias = "jdoe", .handheldsExists = false})}), "jdoe");
  EXPECT_NE(r.direct.status, 0);
}

TEST_F(NoWindowOverEws, UnknownMailboxFailsTheLogonOnBothBackends) {
  Import(Dump({MailboxStore({.alias = "jdoe"})}), "demo");
  ServerOptions o;
  o.storeFile = StoreFile("demo");
  o.mailboxes = {{"jdoe", "jdoe@example.com"}};
  o.certDir = dir.path().string();
  EwsTestServer server(o);
  ASSERT_TRUE(server.Start());
  env["OA_EWS_CAFILE"] = server.caFile();
  env["OA_EWS_USER"] = o.user;
  env["OA_EWS_PASSWORD"] = o.password;
  ChildResult r = Cleanup({"--server", server.url(), "--mailbox", "nobody"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(Lines(r.out).back(), "RDO.LoggedOn = False -2147467259 No results were found.");
  EXPECT_EQ(Cleanup({"--server", "demo", "--mailbox", "nobody"}).status, 3);
}

TEST_F(NoWindowOverEws, NoAgentMessage) {
  Runs r = RunBoth(Dump({MailboxStore({.alias = "jdoe", .agentMessage = false})}), "jdoe");
  EXPECT_EQ(r.direct.status, 3);
}

TEST_F(NoWindowOverEws, RenameFailed) {
  RunBoth(Dump({MailboxStore({.alias = "jdoe", .items = 4})},
               {Fault("Folder.Delete", "jdoe-hh"), Fault("Folder.Save", "jdoe-hh")}),
          "jdoe");
}

TEST_F(NoWindowOverEws, PointingFailed) {
  RunBoth(Dump({MailboxStore({.alias = "jdoe"})}, {Fault("Mail.Save", "jdoe-agent")}), "jdoe");
}

TEST_F(NoWindowOverEws, NewFolderNotCreated) {
  RunBoth(Dump({MailboxStore({.alias = "jdoe"})}, {Fault("Folders.Add", "jdoe-top")}), "jdoe");
}

TEST_F(NoWindowOverEws, OldFolderEmptiedItemByItemThatSurvivesItsLastDeletion) {
  RunBoth(Dump({MailboxStore({.alias = "jdoe", .items = 5})}, {Fault("Folder.Delete", "jdoe-hh")}),
          "jdoe");
}

TEST_F(NoWindowOverEws, ItemByItemEmptyingThroughThrottlingAndDroppedConnections) {
  Runs r = RunBoth(
      Dump({MailboxStore({.alias = "jdoe", .items = 430})}, {Fault("Folder.Delete", "jdoe-hh", 1)}),
      "jdoe",
      // Deletes go out a hundred at a time: each trouble meets one of the five groups.
      {{Trouble::Kind::ServerBusy, "DeleteItem", 0, 2, 100},
       {Trouble::Kind::Http503, "FindItem", 1, 1, 0},
       {Trouble::Kind::ExceededConnectionCount, "DeleteItem", 1, 1, 0},
       {Trouble::Kind::Drop, "DeleteItem", 2, 1, 0},
       {Trouble::Kind::Slow, "DeleteItem", 3, 1, 300}});
  EXPECT_EQ(r.direct.status, 0);
  EXPECT_EQ(Lines(r.direct.out).back(), "Deleted all items, attempting to delete folder");
}

// Exchange deletes a calendar item or a task only when the request says what to do about
// meeting cancellations and task occurrences; the renamed folder holds both kinds.
TEST_F(NoWindowOverEws, CalendarItemsAndTasksAreEmptiedFromTheRenamedFolder) {
  json store = MailboxStore({.alias = "jdoe", .items = 150});
  json messages = json::array();
  for (const char* cls :
       {"IPM.Appointment", "IPM.Task", "IPM.Note", "IPM.Appointment.Occurrence", "IPM.Task"})
    messages.push_back({{"class", cls}, {"subject", cls}});
  for (json& f : store["root"]["folders"][1]["folders"]) {
    if (f["name"] == "Handhelds") f["messages"] = messages;
  }
  Runs r = RunBoth(Dump({store}, {Fault("Folder.Delete", "jdoe-hh", 1)}), "jdoe");
  EXPECT_EQ(r.overEws.status, 0) << r.overEws.out;
  EXPECT_EQ(Lines(r.overEws.out).back(), "Deleted all items, attempting to delete folder");
  int deletes = 0;
  for (const auto& req : r.requests) {
    if (req.operation != "DeleteItem") continue;
    ++deletes;
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(req.body.data(), req.body.size()));
    auto op = Child(Child(Child(doc, "Envelope"), "Body"), "DeleteItem");
    EXPECT_EQ(Attr(op, "SendMeetingCancellations"), "SendToNone");
    EXPECT_EQ(Attr(op, "AffectedTaskOccurrences"), "AllOccurrences");
  }
  EXPECT_EQ(deletes, 2);
}

TEST_F(NoWindowOverEws, AliasWithMarkupCharactersReachesTheServerIntact) {
  const std::string alias = "a&b<c>\"d'";
  Runs r = RunBoth(Dump({MailboxStore({.alias = alias})}), alias);
  EXPECT_EQ(r.direct.status, 0);
  bool seen = false;
  for (const auto& req : r.requests) {
    if (req.operation != "ResolveNames") continue;
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(req.body.data(), req.body.size()));
    EXPECT_EQ(
        ChildText(Child(Child(Child(doc, "Envelope"), "Body"), "ResolveNames"), "UnresolvedEntry"),
        alias);
    seen = true;
  }
  EXPECT_TRUE(seen);
}

// The server records every operation: a dry run sends only reading ones, shows the same lines
// as on the store file, and leaves the served store as it was.
TEST_F(NoWindowOverEws, DryRunSendsNoChangingOperation) {
  json store = MailboxStore({.alias = "jdoe", .items = 3});
  json& messages = store["root"]["folders"][0]["messages"];
  messages[0]["named"].erase("HHEntryID");
  json extra = messages[0];
  extra.erase("key");
  extra["created"] = "2026-05-01T09:00:00Z";
  messages.push_back(extra);
  const json dump = Dump({store}, {Fault("Folder.Delete", "jdoe-hh", 1)});
  Import(dump, "demo");
  CopyStore(StoreFile("demo"), "viaews");
  const std::string before = Export("viaews").dump();
  ChildResult direct = Cleanup({"--server", "demo", "--mailbox", "jdoe", "--dry-run"});
  EXPECT_EQ(direct.status, 0) << direct.out;

  ServerOptions o;
  o.storeFile = StoreFile("viaews");
  o.mailboxes = MailboxesOf(dump);
  o.certDir = dir.path().string();
  EwsTestServer server(o);
  ASSERT_TRUE(server.Start());
  env["OA_EWS_CAFILE"] = server.caFile();
  env["OA_EWS_USER"] = o.user;
  env["OA_EWS_PASSWORD"] = o.password;
  ChildResult overEws = Cleanup({"--server", server.url(), "--mailbox", "jdoe", "--dry-run"});
  const std::vector<SeenRequest> requests = server.Requests();
  server.Stop();

  EXPECT_EQ(overEws.status, 0) << overEws.out << overEws.err;
  EXPECT_EQ(Normalized(overEws.out, server.url()), Normalized(direct.out, ""));
  int wouldLines = 0;
  for (const std::string& line : Lines(overEws.out))
    wouldLines += line.rfind("Dry run: would ", 0) == 0;
  EXPECT_EQ(wouldLines, 6) << overEws.out;
  EXPECT_EQ(Lines(overEws.out).back(), "Dry run: nothing was changed");
  const std::set<std::string> reading = {"ResolveNames", "ConvertId", "GetFolder",
                                         "FindFolder",   "FindItem",  "GetItem"};
  std::set<std::string> seen;
  for (const SeenRequest& r : requests) {
    if (r.operation.empty()) continue;
    seen.insert(r.operation);
    EXPECT_TRUE(reading.count(r.operation)) << "a dry run sent " << r.operation;
  }
  EXPECT_TRUE(seen.count("FindItem") && seen.count("GetFolder")) << seen.size();
  EXPECT_EQ(Export("viaews").dump(), before);
}

}  // namespace
}  // namespace oa::ews::testing
