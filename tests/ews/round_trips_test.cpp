// Round trips over EWS: a cleanup whose folder goes in one call asks the server at most twelve
// times, in a fixed order, with the lines of a run on the store file; what the session keeps of
// its reads is dropped by its own changes, so that a read after a change goes to the server.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "base/mapi_error.h"
#include "mailbox/basRDO.h"
#include "mailbox/ews/objects.h"
#include "mailbox/model/const_mapi.h"
#include "tests/ews/ews_test_server.h"
#include "tests/ews/server_fixture.h"
#include "tests/nowindow/run_fixture.h"

namespace oa::ews::testing {
namespace {

using namespace oa::mailbox;
using namespace oa::mailbox::ConstMAPI;
using nlohmann::json;
using oa::testing::ChildResult;
using oa::testing::Dump;
using oa::testing::Fault;
using oa::testing::Lines;
using oa::testing::MailboxStore;

// The bound for a cleanup whose Handhelds folder is deleted in one call; authentication rounds
// (requests the server answered with a challenge) are not counted.
constexpr size_t kMaxRequestsPerCleanup = 12;

std::vector<std::string> OperationsAnswered(const std::vector<SeenRequest>& requests) {
  std::vector<std::string> ops;
  for (const SeenRequest& r : requests)
    if (r.authorized) ops.push_back(r.operation);
  return ops;
}

// Every folder of an export's store, depth first.
void AllFolders(const json& folder, std::vector<const json*>* out) {
  if (!folder.contains("folders")) return;
  for (const json& f : folder.at("folders")) {
    out->push_back(&f);
    AllFolders(f, out);
  }
}

const json& AgentMessage(const json& store) {
  for (const json& f : store["root"]["folders"])
    if (f.value("name", "") == "ondavelAgentInfo")
      for (const json& m : f["messages"])
        if (m.value("class", "") == "ondavel.Agent") return m;
  static const json none;
  return none;
}

class RoundTrips : public oa::testing::RunFixture {
 protected:
  // Serves the dump imported as "viaews" and runs the cleanup of jdoe over the server; the
  // same dump imported as "demo" is cleaned up on the store file for the lines to compare.
  void Run(const json& dump) {
    Import(dump, "demo");
    Import(dump, "viaews");
    before = Export("viaews");
    direct = Cleanup({"--server", "demo", "--mailbox", "jdoe"});
    ServerOptions o;
    o.storeFile = StoreFile("viaews");
    o.mailboxes = MailboxesOf(dump);
    o.certDir = dir.path().string();
    o.lifetime = std::chrono::seconds(300);
    EwsTestServer server(o);
    ASSERT_TRUE(server.Start());
    env["OA_EWS_CAFILE"] = server.caFile();
    env["OA_EWS_USER"] = o.user;
    env["OA_EWS_PASSWORD"] = o.password;
    url = server.url();
    overEws = Cleanup({"--server", url, "--mailbox", "jdoe"});
    ops = OperationsAnswered(server.Requests());
    server.Stop();
    after = Export("viaews");
  }

  // Lines with every entry ID as one placeholder: two imports of a dump differ in them.
  static std::vector<std::string> WithoutEntryIDs(const std::vector<std::string>& in) {
    static const std::regex kEntryId("[0-9A-F]{40,}");
    std::vector<std::string> out;
    for (const std::string& line : in) out.push_back(std::regex_replace(line, kEntryId, "<ID>"));
    return out;
  }

  // The run's lines with the server's URL as the store file's name.
  std::vector<std::string> LinesOverEws() const {
    std::vector<std::string> lines;
    for (std::string line : Lines(overEws.out)) {
      if (auto p = line.find(url); p != std::string::npos) line.replace(p, url.size(), "demo");
      lines.push_back(line);
    }
    return lines;
  }

  json before, after;
  ChildResult direct, overEws;
  std::string url;
  std::vector<std::string> ops;
};

TEST_F(RoundTrips, AOneCallCleanupAsksTwelveTimesInThisOrder) {
  Run(Dump({MailboxStore({.alias = "jdoe", .items = 10})}));
  ASSERT_EQ(overEws.status, 0) << overEws.out << overEws.err;
  const std::string oldID = oa::testing::HandheldsID(before, "jdoe");
  ASSERT_FALSE(oldID.empty());

  // The lines, byte for byte, and as on the store file (whose entry IDs are its own).
  const std::vector<std::string> expected = {"instantiating RDO",
                                             "Logging on with jdoe demo",
                                             "LoggedOn = True",
                                             "retrieving agent folders",
                                             "GetAgentMessage filter returned agent message ID",
                                             "GetAgentMessage found existing agent message",
                                             "Retrieved Handhelds folder using EntryID " + oldID,
                                             "CleanupHH: message count = 10",
                                             "CleanupHH: attempting to delete folder",
                                             "successfully deleted existing folder",
                                             "Created new Handhelds folder in mailbox",
                                             "pointed agent to new Handhelds folder"};
  EXPECT_EQ(LinesOverEws(), expected);
  EXPECT_EQ(WithoutEntryIDs(LinesOverEws()), WithoutEntryIDs(Lines(direct.out)));

  // What each request is for: the logon (the address, then both stores in one GetFolder), the
  // agent folder and its message with its entry ID and properties, the old folder by its entry
  // ID with its item count, its delete (known gone without asking again), the new folder's
  // lookup, creation and entry ID, and the agent message's update.
  const std::vector<std::string> order = {
      "ResolveNames", "GetFolder",    "FindFolder", "FindItem",     "GetItem",   "ConvertId",
      "GetFolder",    "DeleteFolder", "FindFolder", "CreateFolder", "ConvertId", "UpdateItem"};
  // Then the program without a window reads the result back to judge it: the agent message
  // and the folder it names (the old one is known gone).
  const std::vector<std::string> readBack = {"GetItem", "GetFolder"};
  ASSERT_EQ(ops.size(), order.size() + readBack.size()) << ::testing::PrintToString(ops);
  EXPECT_LE(order.size(), kMaxRequestsPerCleanup);
  EXPECT_EQ(std::vector<std::string>(ops.begin(), ops.begin() + order.size()), order);
  EXPECT_EQ(std::vector<std::string>(ops.begin() + order.size(), ops.end()), readBack);

  // The server's mailbox: the old folder is gone everywhere, the new one is at the top and
  // empty, and both of the agent's properties lead to it.
  const json* store = oa::testing::FindStore(after, "jdoe");
  ASSERT_TRUE(store);
  std::vector<const json*> folders;
  AllFolders((*store)["root"], &folders);
  int handhelds = 0;
  for (const json* f : folders) {
    EXPECT_NE(f->value("entryId", ""), oldID) << f->dump();
    handhelds += f->value("name", "") == "Handhelds";
  }
  EXPECT_EQ(handhelds, 1);
  const json* fresh = oa::testing::FindTopFolder(*store, "Handhelds");
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->value("count", -1), 0);
  const json& agent = AgentMessage(*store);
  ASSERT_TRUE(agent.contains("named"));
  EXPECT_EQ(agent["named"].value("HHEntryID", ""), fresh->value("entryId", "?"));
  EXPECT_EQ(agent["named"].value("HHPath", ""), "\\\\Mailbox - jdoe\\Handhelds");
}

TEST_F(RoundTrips, ARenamedFolderIsReadAgainAfterEachChangeAndEmptied) {
  Run(Dump({MailboxStore({.alias = "jdoe", .items = 7})}, {Fault("Folder.Delete", "jdoe-hh", 1)}));
  ASSERT_EQ(overEws.status, 0) << overEws.out << overEws.err;
  EXPECT_EQ(WithoutEntryIDs(LinesOverEws()), WithoutEntryIDs(Lines(direct.out)));
  ASSERT_GE(Lines(overEws.out).size(), 2u);
  EXPECT_EQ(Lines(overEws.out).back(), "Deleted all items, attempting to delete folder");

  // The refused delete, and then the rename, are each followed by a read of the folder from the
  // server: neither answer may come from what the session read before.
  auto next = [&](const std::string& op) {
    for (size_t i = 0; i + 1 < ops.size(); ++i)
      if (ops[i] == op) return ops[i + 1];
    return std::string("(no ") + op + ")";
  };
  EXPECT_EQ(next("DeleteFolder"), "GetFolder");
  EXPECT_EQ(next("UpdateFolder"), "GetFolder");

  // The set-aside folder went after its items; the agent points at the new folder.
  const json* store = oa::testing::FindStore(after, "jdoe");
  ASSERT_TRUE(store);
  const json* fresh = oa::testing::FindTopFolder(*store, "Handhelds");
  ASSERT_TRUE(fresh);
  EXPECT_FALSE(oa::testing::FindTopFolder(*store, "Handhelds -1"));
  EXPECT_EQ(AgentMessage(*store)["named"].value("HHEntryID", ""), fresh->value("entryId", "?"));
}

// The session's own reads against its own changes, request by request.
class SessionCache : public LoggedOnServedStore {
 protected:
  struct Agent {
    std::string entryID;
    int32_t hhTag = 0;
    std::string hhEntryID;
  };
  Agent FindAgent(RDOSession& s) {
    Agent a;
    auto info = s.Stores()->DefaultStore()->RootFolder()->Folders()->Item("ondavelAgentInfo");
    if (!info) return a;
    auto ids = oa::mailbox::FindMessageIDs(info, "ondavel.Agent", "ondavelAgent");
    if (ids.size() != 1) return a;
    a.entryID = ids[0];
    auto agent = s.GetMessageFromID(a.entryID, "");
    if (!agent) return a;
    a.hhTag =
        oa::mailbox::GetNamedPropTag(agent.get(), Variant::String("HHEntryID"), PT_STRING8, "");
    a.hhEntryID = agent->Fields(a.hhTag).ToText();
    return a;
  }
};

TEST_F(SessionCache, AMessageIsReadOnceUntilTheSessionChangesIt) {
  Serve(Dump({MailboxStore({.alias = "jdoe"})}));
  auto s = Logon();
  const Agent a = FindAgent(*s);
  ASSERT_FALSE(a.hhEntryID.empty()) << Err().Description();

  server->ClearRequests();
  auto again = s->GetMessageFromID(a.entryID, "");
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Fields(a.hhTag).ToText(), a.hhEntryID);
  EXPECT_EQ(again->MessageClass(), "ondavel.Agent");
  EXPECT_EQ(server->OperationCount(), 0) << "read again what the session had read";

  ASSERT_TRUE(again->SetFields(a.hhTag, Variant::String("00AB")));
  ASSERT_TRUE(again->Save());
  server->ClearRequests();
  auto third = s->GetMessageFromID(a.entryID, "");
  ASSERT_TRUE(third);
  EXPECT_EQ(third->Fields(a.hhTag).ToText(), "00AB");
  EXPECT_GE(server->OperationCount("GetItem"), 1) << "a changed message was not read again";
}

TEST_F(SessionCache, AFolderTheServerDeletedIsGoneAndWhatItHeldIsReadAgain) {
  Serve(Dump({MailboxStore({.alias = "jdoe", .items = 3})}));
  auto s = Logon();
  const Agent a = FindAgent(*s);
  auto hh = s->GetFolderFromID(a.hhEntryID, "");
  ASSERT_TRUE(hh);
  auto item = hh->Items()->Item(1);
  ASSERT_TRUE(item);
  const std::string itemID = item->EntryID();
  ASSERT_TRUE(s->GetMessageFromID(itemID, ""));

  Err().Clear();
  hh->Delete();
  ASSERT_FALSE(Err().Pending()) << Err().Description();
  server->ClearRequests();
  EXPECT_FALSE(s->GetFolderFromID(a.hhEntryID, ""));
  EXPECT_EQ(Err().Number(), MAPI_E_NOT_FOUND);
  EXPECT_EQ(server->OperationCount(), 0) << "asked again for a folder the server deleted";

  // The message lay in the deleted folder: the server is asked, and has it no more.
  Err().Clear();
  EXPECT_FALSE(s->GetMessageFromID(itemID, ""));
  EXPECT_TRUE(Err().Pending());
  EXPECT_EQ(server->OperationCount("GetItem"), 1);
  // The agent message lies elsewhere: still as read.
  server->ClearRequests();
  auto agent = s->GetMessageFromID(a.entryID, "");
  ASSERT_TRUE(agent);
  EXPECT_EQ(agent->Fields(a.hhTag).ToText(), a.hhEntryID);
  EXPECT_EQ(server->OperationCount(), 0);
}

TEST_F(SessionCache, AFailedDeleteLeavesTheAnswerToTheServer) {
  // The store deletes the folder and reports a failure all the same.
  json applied = Fault("Folder.Delete", "jdoe-hh", 1);
  applied["effect"] = "applied";
  Serve(Dump({MailboxStore({.alias = "jdoe"})}, {applied}));
  auto s = Logon();
  const Agent a = FindAgent(*s);
  auto hh = s->GetFolderFromID(a.hhEntryID, "");
  ASSERT_TRUE(hh);
  Err().Clear();
  hh->Delete();
  EXPECT_TRUE(Err().Pending());
  server->ClearRequests();
  Err().Clear();
  EXPECT_FALSE(s->GetFolderFromID(a.hhEntryID, ""));
  EXPECT_EQ(Err().Number(), MAPI_E_NOT_FOUND);
  EXPECT_EQ(server->OperationCount("GetFolder"), 1);
}

TEST_F(SessionCache, AFoldersCountAndNameAreReadAgainAfterAChange) {
  Serve(Dump({MailboxStore({.alias = "jdoe", .items = 3})}));
  auto s = Logon();
  const Agent a = FindAgent(*s);
  auto hh = s->GetFolderFromID(a.hhEntryID, "");
  ASSERT_TRUE(hh);
  server->ClearRequests();
  EXPECT_EQ(hh->Items()->Count(), 3);
  EXPECT_EQ(server->OperationCount(), 0) << "the count came with the folder";

  // One item goes through another collection: the folder's next collection asks the server.
  auto items = hh->Items();
  auto first = items->GetFirst();
  ASSERT_TRUE(first);
  first->Delete();
  server->ClearRequests();
  EXPECT_EQ(hh->Items()->Count(), 2);
  EXPECT_EQ(server->OperationCount("GetFolder"), 1);

  // A rename is read back from the server.
  ASSERT_TRUE(hh->SetName("Handhelds -1"));
  ASSERT_TRUE(hh->Save());
  server->ClearRequests();
  auto renamed = s->GetFolderFromID(a.hhEntryID, "");
  ASSERT_TRUE(renamed);
  EXPECT_EQ(renamed->Name(), "Handhelds -1");
  EXPECT_EQ(server->OperationCount("GetFolder"), 1);
}

}  // namespace
}  // namespace oa::ews::testing
