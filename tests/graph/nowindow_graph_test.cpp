// The window-less cleanups run twice on copies of one store: once on the store file, once as
// Exchange Online over the loopback Graph server serving the copy. Both give the same stdout line
// for line, the same exit status and the same mailbox afterwards; no secret reaches a request URL,
// a log line, stdout or stderr.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <regex>
#include <set>

#include "tests/graph/graph_test_server.h"
#include "tests/nowindow/run_fixture.h"

namespace oa::graph::testing {
namespace {

using nlohmann::json;
using oa::testing::ChildResult;
using oa::testing::Dump;
using oa::testing::Fault;
using oa::testing::HandheldsID;
using oa::testing::Lines;
using oa::testing::LogonLines;
using oa::testing::MailboxStore;

std::string Outcome(json dump) {
  dump.erase("faults");
  return dump.dump(1);
}

std::vector<GraphMailbox> MailboxesOf(const json& dump) {
  std::vector<GraphMailbox> out;
  for (const auto& s : dump["stores"])
    if (s.value("kind", "") == "mailbox")
      out.push_back({s.value("alias", ""), s.value("address", "")});
  return out;
}

class NoWindowOverGraph : public oa::testing::RunFixture {
 protected:
  struct Runs {
    ChildResult direct, overGraph;
    std::vector<SeenRequest> requests;
    std::string log;
  };

  GraphServerOptions ServerFor(const std::string& storeFile, const json& dump) {
    GraphServerOptions o;
    o.storeFile = storeFile;
    o.mailboxes = MailboxesOf(dump);
    o.certDir = dir.path().string();
    o.lifetime = std::chrono::seconds(300);
    return o;
  }

  // The program's environment for a sign-in with the client secret, read from a file.
  void UseServer(const GraphTestServer& server) {
    const std::string secretFile = dir / "graph-secret";
    oa::testing::WriteFile(secretFile, server.options().clientSecret + "\n");
    chmod(secretFile.c_str(), 0600);
    env["OA_EWS_CAFILE"] = server.caFile();
    env["OA_GRAPH_TENANT"] = server.options().tenant;
    env["OA_GRAPH_CLIENT_ID"] = server.options().clientId;
    env["OA_GRAPH_SECRET_FILE"] = secretFile;
    env["OA_GRAPH_LOGIN_URL"] = server.url();
    env["OA_GRAPH_URL"] = server.url();
  }

  Runs RunBoth(const json& dump, const std::string& mailbox,
               const std::vector<Trouble>& troubles = {},
               const std::function<void(GraphServerOptions&)>& tweak = {}) {
    Import(dump, "demo");
    CopyStore(StoreFile("demo"), "viagraph");
    Runs runs;
    runs.direct = Cleanup({"--server", "demo", "--mailbox", mailbox});
    GraphServerOptions options = ServerFor(StoreFile("viagraph"), dump);
    if (tweak) tweak(options);
    GraphTestServer server(options);
    EXPECT_TRUE(server.Start());
    for (const Trouble& t : troubles) server.AddTrouble(t);
    UseServer(server);
    runs.overGraph = Cleanup({"--server", "graph", "--mailbox", mailbox});
    runs.requests = server.Requests();
    server.Stop();
    std::ifstream in(logFile);
    runs.log.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());

    EXPECT_EQ(runs.overGraph.status, runs.direct.status) << runs.overGraph.err;
    std::vector<std::string> graphLines;
    for (std::string line : Lines(runs.overGraph.out)) {
      for (size_t p; (p = line.find("graph")) != std::string::npos;) line.replace(p, 5, "demo");
      graphLines.push_back(line);
    }
    EXPECT_EQ(graphLines, Lines(runs.direct.out));
    EXPECT_EQ(Outcome(Export("viagraph")), Outcome(Export("demo")));
    const std::string secret = server.options().clientSecret;
    for (const auto& r : runs.requests) {
      EXPECT_EQ(r.target.find(secret), std::string::npos) << r.target;
      if (r.operation != "token") {
        EXPECT_EQ(r.body.find(secret), std::string::npos);
      }
      // Never a plain DELETE, which moves what it deletes into Deleted Items.
      EXPECT_NE(r.method, "DELETE") << r.target;
    }
    for (const std::string* text : {&runs.overGraph.out, &runs.overGraph.err, &runs.log}) {
      EXPECT_EQ(text->find(secret), std::string::npos);
    }
    return runs;
  }
};

TEST_F(NoWindowOverGraph, CompletedRun) {
  Runs r = RunBoth(Dump({MailboxStore({.alias = "jdoe", .items = 3})}), "jdoe");
  EXPECT_EQ(r.direct.status, 0);
  EXPECT_EQ(Lines(r.direct.out).back(), "pointed agent to new Handhelds folder");
  int tokens = 0;
  for (const auto& req : r.requests) tokens += req.operation == "token";
  // One sign-in for the whole run: the token is kept.
  EXPECT_EQ(tokens, 1);
}

TEST_F(NoWindowOverGraph, MailboxByAddress) {
  Runs r = RunBoth(Dump({MailboxStore({.alias = "jdoe", .items = 2})}), "jdoe@example.com");
  EXPECT_EQ(r.direct.status, 0);
}

TEST_F(NoWindowOverGraph, FolderNotFound) {
  Runs r = RunBoth(Dump({MailboxStore({.alias = "jdoe", .handheldsExists = false})}), "jdoe");
  EXPECT_NE(r.direct.status, 0);
}

TEST_F(NoWindowOverGraph, NoAgentMessage) {
  Runs r = RunBoth(Dump({MailboxStore({.alias = "jdoe", .agentMessage = false})}), "jdoe");
  EXPECT_EQ(r.direct.status, 3);
}

TEST_F(NoWindowOverGraph, RenameFailed) {
  RunBoth(Dump({MailboxStore({.alias = "jdoe", .items = 4})},
               {Fault("Folder.Delete", "jdoe-hh"), Fault("Folder.Save", "jdoe-hh")}),
          "jdoe");
}

TEST_F(NoWindowOverGraph, PointingFailed) {
  RunBoth(Dump({MailboxStore({.alias = "jdoe"})}, {Fault("Mail.Save", "jdoe-agent")}), "jdoe");
}

TEST_F(NoWindowOverGraph, NewFolderNotCreated) {
  RunBoth(Dump({MailboxStore({.alias = "jdoe"})}, {Fault("Folders.Add", "jdoe-top")}), "jdoe");
}

TEST_F(NoWindowOverGraph, ItemByItemEmptyingThroughThrottlingAndDroppedConnections) {
  Runs r = RunBoth(
      Dump({MailboxStore({.alias = "jdoe", .items = 130})}, {Fault("Folder.Delete", "jdoe-hh", 1)}),
      "jdoe",
      {{Trouble::Kind::Http429, "deleteMessage", 10, 2, 1000},
       {Trouble::Kind::Http503, "messages", 1, 1, 0},
       {Trouble::Kind::Http504, "deleteMessage", 60, 1, 0},
       {Trouble::Kind::Drop, "deleteMessage", 90, 1, 0},
       {Trouble::Kind::Slow, "deleteMessage", 100, 1, 300}});
  EXPECT_EQ(r.direct.status, 0);
  EXPECT_EQ(Lines(r.direct.out).back(), "Deleted all items, attempting to delete folder");
  int throttled = 0;
  for (const auto& req : r.requests) throttled += req.status == 429 || req.status == 503;
  EXPECT_EQ(throttled, 3);
}

// The service asks for a wait beyond the longest allowed (20 minutes against Graph's 10): the
// emptying ends with the items left in the renamed folder, the last line tells how many there
// really are, and nothing more goes to the mailbox after the refusal, the logoff's neither.
TEST_F(NoWindowOverGraph, AWaitBeyondMaxWaitEndsTheEmptyingWithTheTrueCountAndNoMoreRequests) {
  const json dump =
      Dump({MailboxStore({.alias = "jdoe", .items = 130})}, {Fault("Folder.Delete", "jdoe-hh", 1)});
  Import(dump, "viagraph");
  GraphTestServer server(ServerFor(StoreFile("viagraph"), dump));
  ASSERT_TRUE(server.Start());
  // The third group's first delete; the service refuses the mailbox everything meanwhile.
  server.AddTrouble({Trouble::Kind::Http429, "deleteMessage", 40, 1, 20 * 60 * 1000});
  UseServer(server);
  ChildResult r = Cleanup({"--server", "graph", "--mailbox", "jdoe"});
  const auto seen = server.Requests();
  server.Stop();
  ASSERT_FALSE(Lines(r.out).empty()) << r.err;
  EXPECT_EQ(Lines(r.out).back(), "Could not delete 90 items; kept renamed folder Handhelds -1");
  const json after = Export("viagraph");
  const json* kept =
      oa::testing::FindTopFolder(*oa::testing::FindStore(after, "jdoe"), "Handhelds -1");
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->value("count", -1), 90);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().operation, "batch");
  int refused = 0, batches = 0;
  std::set<std::string> deleted;
  for (const auto& q : seen) {
    refused += q.status == 429;
    batches += q.operation == "batch";
    if (q.operation == "deleteMessage" && q.status >= 200 && q.status < 300) {
      EXPECT_TRUE(deleted.insert(q.target).second) << "deleted twice: " << q.target;
    }
  }
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(batches, 3);
  EXPECT_EQ(deleted.size(), 40u);
}

// Graph reaches no public folders (no all-public-folders folder, no public store): a Handhelds
// folder named by a public path is not found, with the lines and the status of a store without
// public folders.
json PublicPathAgent(const std::string& hhEntryId) {
  json store = MailboxStore({.alias = "jdoe"});
  json& named = store["root"]["folders"][0]["messages"][0]["named"];
  if (hhEntryId.empty())
    named.erase("HHEntryID");
  else
    named["HHEntryID"] = hhEntryId;
  named["HHPath"] = "\\\\Public Folders\\All Public Folders\\Devices\\Handhelds";
  return Dump({store});
}

std::vector<std::string> PublicPathLines(const std::string& server, bool withEntryId) {
  std::vector<std::string> lines = {"instantiating RDO",
                                    "Logging on with jdoe " + server,
                                    "LoggedOn = True",
                                    "retrieving agent folders",
                                    "GetAgentMessage filter returned agent message ID",
                                    "GetAgentMessage found existing agent message"};
  if (withEntryId)
    lines.push_back(
        "Unable to get Handhelds folder using EntryID 00000000DEADBEEF00000000DEADBEEF");
  lines.push_back("GetFolderFromPath error: Public Folder Infostore not available!");
  lines.push_back(
      "Unable to get Handhelds folder at \\\\Public Folders\\All Public "
      "Folders\\Devices\\Handhelds");
  return lines;
}

TEST_F(NoWindowOverGraph, PublicFolderPathWithoutEntryId) {
  Runs r = RunBoth(PublicPathAgent(""), "jdoe");
  EXPECT_EQ(r.direct.status, 1);
  EXPECT_EQ(r.overGraph.status, 1);
  EXPECT_EQ(Lines(r.direct.out), PublicPathLines("demo", false));
  EXPECT_EQ(Lines(r.overGraph.out), PublicPathLines("graph", false));
}

// The entry ID names no folder: the second try asks for the public store, which Graph lacks too.
TEST_F(NoWindowOverGraph, PublicFolderPathAfterAnEntryIdOfNoFolder) {
  Runs r = RunBoth(PublicPathAgent("00000000DEADBEEF00000000DEADBEEF"), "jdoe");
  EXPECT_EQ(r.direct.status, 1);
  EXPECT_EQ(r.overGraph.status, 1);
  EXPECT_EQ(Lines(r.direct.out), PublicPathLines("demo", true));
  EXPECT_EQ(Lines(r.overGraph.out), PublicPathLines("graph", true));
}

TEST_F(NoWindowOverGraph, RefusedSecretFailsTheLogonWithTheServiceDescription) {
  Import(Dump({MailboxStore({.alias = "jdoe"})}), "demo");
  GraphServerOptions o = ServerFor(StoreFile("demo"), Dump({MailboxStore({.alias = "jdoe"})}));
  GraphTestServer server(o);
  ASSERT_TRUE(server.Start());
  UseServer(server);
  const std::string wrong = dir / "wrong-secret";
  oa::testing::WriteFile(wrong, "not-the-secret\n");
  chmod(wrong.c_str(), 0600);
  env["OA_GRAPH_SECRET_FILE"] = wrong;
  ChildResult r = Cleanup({"--server", "graph", "--mailbox", "jdoe"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(Lines(r.out).back(),
            "RDO.LoggedOn = False -2147221231 The sign-in was refused: AADSTS7000215: Invalid "
            "client secret provided. Ensure the secret being sent in the request is the client "
            "secret value, not the client secret ID.");
  EXPECT_EQ(server.lastRefusal(), "secret");
  EXPECT_EQ(r.out.find("not-the-secret"), std::string::npos);
  EXPECT_EQ(r.err.find("not-the-secret"), std::string::npos);
}

TEST_F(NoWindowOverGraph, CertificateSignInVerifiedByThePublicKey) {
  ASSERT_TRUE(MakeAppCertificate(dir.path().string(), "app"));
  const json dump = Dump({MailboxStore({.alias = "jdoe", .items = 2})});
  Import(dump, "demo");
  GraphServerOptions o = ServerFor(StoreFile("demo"), dump);
  o.clientSecret.clear();
  o.appCertificate = dir / "app-cert.pem";
  GraphTestServer server(o);
  ASSERT_TRUE(server.Start());
  UseServer(server);
  env.erase("OA_GRAPH_SECRET_FILE");
  env["OA_GRAPH_CERTIFICATE"] = dir / "app-cert.pem";
  env["OA_GRAPH_KEY"] = dir / "app-key.pem";
  ChildResult r = Cleanup({"--server", "graph:" + o.tenant, "--mailbox", "jdoe"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(server.lastRefusal(), "");
  // Another key under the same certificate is refused.
  ASSERT_TRUE(MakeAppCertificate(dir.path().string(), "other"));
  env["OA_GRAPH_CERTIFICATE"] = dir / "other-cert.pem";
  env["OA_GRAPH_KEY"] = dir / "other-key.pem";
  r = Cleanup({"--server", "graph", "--mailbox", "jdoe"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(server.lastRefusal(), "x5t#S256 names another certificate");
}

int CountOf(const std::vector<SeenRequest>& requests, const std::string& operation) {
  int n = 0;
  for (const auto& r : requests) n += r.operation == operation;
  return n;
}

// The service refuses translateExchangeIds to an application signed in on its own: entry IDs
// come from the objects' PR_ENTRYID, through a delete refused, a rename, the agent pointed at
// the new folder and the renamed one emptied.
TEST_F(NoWindowOverGraph, EntryIdsComeFromTheMailboxNotFromTranslateExchangeIds) {
  Runs r = RunBoth(
      Dump({MailboxStore({.alias = "jdoe", .items = 5})}, {Fault("Folder.Delete", "jdoe-hh", 1)}),
      "jdoe");
  EXPECT_EQ(r.direct.status, 0);
  EXPECT_EQ(Lines(r.direct.out).back(), "Deleted all items, attempting to delete folder");
  EXPECT_EQ(CountOf(r.requests, "translateExchangeIds"), 0);
  int expanded = 0;
  for (const auto& req : r.requests)
    expanded += req.target.find("Binary%200x0FFF") != std::string::npos ||
                req.target.find("Binary 0x0FFF") != std::string::npos;
  EXPECT_GT(expanded, 0);
}

// A cleanup whose folder goes in one call: what the run has read is kept until it changes
// something (a message found by the listing is not read again, a folder found by the walk is not
// fetched again for its count, a folder not found is not asked for twice), and a message read
// brings every named property the session knows. 12 requests for the cleanup itself (the token
// not counted) and 3 for the check the window-less run makes after its last line.
TEST_F(NoWindowOverGraph, OneCallCleanupKeepsWhatItHasRead) {
  Runs r = RunBoth(Dump({MailboxStore({.alias = "jdoe", .items = 3})}), "jdoe");
  EXPECT_EQ(r.direct.status, 0);
  std::string all;
  int requests = 0, deleted = -1, beforeDelete = 0;
  for (const auto& req : r.requests) {
    if (req.operation == "token") continue;
    all += req.method + " " + req.operation + " " + req.target + "\n";
    if (req.operation == "deleteFolder") deleted = requests;
    if (deleted < 0) beforeDelete += req.operation == "message" || req.operation == "folder";
    ++requests;
  }
  EXPECT_LE(requests, 15) << all;
  // Before the delete: the logon's top folder, the named properties (two reads, each name as the
  // run first asks for it) and the check's read of the message; nothing read twice.
  EXPECT_LE(beforeDelete, 4) << all;
}

// What an older service still answered gives the same run: the program does not ask it.
TEST_F(NoWindowOverGraph, TranslateExchangeIdsAllowedChangesNothing) {
  Runs r = RunBoth(Dump({MailboxStore({.alias = "jdoe", .items = 2})}), "jdoe", {},
                   [](GraphServerOptions& o) { o.translateForApps = true; });
  EXPECT_EQ(r.direct.status, 0);
  EXPECT_EQ(CountOf(r.requests, "translateExchangeIds"), 0);
}

// The reads pointing the agent needs are refused once the agent has been found (as for a
// credential that lacks the permission for them): the run ends before the old folder is
// touched, with a line that names the permission, and the mailbox is as it was.
TEST_F(NoWindowOverGraph, RepointReadsRefusedEndTheRunBeforeAnyChange) {
  const json dump = Dump({MailboxStore({.alias = "jdoe", .items = 3})});
  Import(dump, "demo");
  const json before = Export("demo");
  const std::string oldID = HandheldsID(before, "jdoe");
  GraphServerOptions o = ServerFor(StoreFile("demo"), dump);
  GraphTestServer server(o);
  ASSERT_TRUE(server.Start());
  // The agent lookup reads the message once (opened with its named properties); later reads
  // fail.
  server.AddTrouble({Trouble::Kind::Denied, "message", 1, -1, 0});
  UseServer(server);
  ChildResult r = Cleanup({"--server", "graph", "--mailbox", "jdoe"});
  const std::vector<SeenRequest> seen = server.Requests();
  server.Stop();
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  std::vector<std::string> expected = LogonLines("jdoe", "graph");
  expected.push_back("Retrieved Handhelds folder using EntryID " + oldID);
  expected.push_back("CleanupHH: message count = 3");
  expected.push_back(
      "Nothing changed: the agent could not be pointed at a new Handhelds folder: Microsoft "
      "Graph refused to read the agent message: the application needs the Mail.ReadWrite "
      "permission for this mailbox (Access is denied. Check credentials and try again.)");
  EXPECT_EQ(Lines(r.out), expected);
  EXPECT_EQ(Outcome(Export("demo")), Outcome(before));
  for (const char* change :
       {"deleteFolder", "patchFolder", "createFolder", "patchMessage", "deleteMessage", "batch"})
    EXPECT_EQ(CountOf(seen, change), 0) << change;
}

// An entry ID the run has not read is looked for in the folder listings, within a bound: in a
// mailbox of 80 folders an entry ID of no folder costs at most 30 listings, and the run reports
// it as the store does.
TEST_F(NoWindowOverGraph, LookupOfAnUnknownEntryIdIsBounded) {
  json store = MailboxStore({.alias = "jdoe", .handheldsExists = false});
  for (int i = 1; i <= 80; ++i)
    store["root"]["folders"][1]["folders"].push_back({{"name", "F" + std::to_string(i)}});
  Runs r = RunBoth(Dump({store}), "jdoe");
  EXPECT_EQ(r.direct.status, 1);
  EXPECT_EQ(Lines(r.overGraph.out).back(),
            "Unable to get Handhelds folder using EntryID 00000000DEADBEEF00000000DEADBEEF");
  // The agent's folder, then the lookup.
  EXPECT_LE(CountOf(r.requests, "childFolders"), 1 + 30);
  EXPECT_GE(CountOf(r.requests, "childFolders"), 1 + 2);
}

// A mailbox named by its address needs no directory permission: without User.Read.All the run
// is the same.
TEST_F(NoWindowOverGraph, AddressWithoutUserReadAll) {
  Runs r = RunBoth(Dump({MailboxStore({.alias = "jdoe", .items = 2})}), "jdoe@example.com", {},
                   [](GraphServerOptions& o) { o.userReadAll = false; });
  EXPECT_EQ(r.direct.status, 0);
  EXPECT_EQ(CountOf(r.requests, "users"), 1);
}

// The identity platform's refusal spans four lines; it reaches stdout and the log as one: the
// code, its first sentence and the correlation ID.
TEST_F(NoWindowOverGraph, IdentityPlatformRefusalIsOneLine) {
  const json dump = Dump({MailboxStore({.alias = "jdoe"})});
  Import(dump, "demo");
  GraphServerOptions o = ServerFor(StoreFile("demo"), dump);
  o.tokenRefusal =
      "AADSTS70011: The provided request must include a 'scope' input parameter. The provided "
      "value for the input parameter 'scope' is not valid.\r\nTrace ID: "
      "0c1e7a54-3f1b-4d7e-9a0b-2b6f5d1c9e00\r\nCorrelation ID: "
      "5d8a4b7e-91c2-4f0a-8e3d-6a2b1c0f7e11\r\nTimestamp: 2026-12-10 16:00:00Z";
  GraphTestServer server(o);
  ASSERT_TRUE(server.Start());
  UseServer(server);
  env["OA_GRAPH_SECRET_FILE"] = dir / "wrong-secret";
  oa::testing::WriteFile(dir / "wrong-secret", "not-the-secret\n");
  chmod((dir / "wrong-secret").c_str(), 0600);
  ChildResult r = Cleanup({"--server", "graph", "--mailbox", "jdoe"});
  EXPECT_EQ(r.status, 3);
  const std::string line =
      "RDO.LoggedOn = False -2147221231 The sign-in was refused: AADSTS70011: The provided "
      "request must include a 'scope' input parameter. Correlation ID: "
      "5d8a4b7e-91c2-4f0a-8e3d-6a2b1c0f7e11";
  EXPECT_EQ(Lines(r.out).back(), line);
  EXPECT_EQ(r.out.find("Trace ID"), std::string::npos) << r.out;
  const std::vector<std::string> log = LogLines();
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.back().find(line), std::string::npos) << log.back();
  for (const std::string& l : log) EXPECT_EQ(l.find("Timestamp"), std::string::npos) << l;
}

TEST_F(NoWindowOverGraph, NationalCloudRefusedAtLogon) {
  Import(Dump({MailboxStore({.alias = "jdoe"})}), "demo");
  const std::string secretFile = dir / "graph-secret";
  oa::testing::WriteFile(secretFile, "x\n");
  chmod(secretFile.c_str(), 0600);
  env["OA_GRAPH_TENANT"] = "contoso.us";
  env["OA_GRAPH_CLIENT_ID"] = "c";
  env["OA_GRAPH_SECRET_FILE"] = secretFile;
  env["OA_GRAPH_URL"] = "https://graph.microsoft.us";
  ChildResult r = Cleanup({"--server", "graph", "--mailbox", "jdoe"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(Lines(r.out).back().find("national cloud"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace oa::graph::testing
