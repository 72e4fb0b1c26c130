// The EWS backend against the loopback server: the object model over the wire, the item
// emptying's round trips, throttling, failures of the transport and of the logon.
#include <gtest/gtest.h>

#include <chrono>

#include "base/mapi_error.h"
#include "mailbox/backends.h"
#include "mailbox/basRDO.h"
#include "mailbox/ews/objects.h"
#include "mailbox/ews/soap.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/model/session_registry.h"
#include "tests/ews/server_fixture.h"

namespace oa::ews::testing {
namespace {

using namespace oa::mailbox;
using namespace oa::mailbox::ConstMAPI;
using oa::testing::Dump;
using oa::testing::Fault;
using oa::testing::MailboxStore;

class EwsBackend : public ServedStore {
 protected:
  std::shared_ptr<EwsSession> Logon(const std::string& mailbox = "jdoe") {
    auto s = std::make_shared<EwsSession>(oa::testing::BackendOptionsFromEnvironment().ews, waiter);
    Err().Clear();
    s->LogonExchangeMailbox(mailbox, server->url());
    return s;
  }
  std::shared_ptr<RDOFolder> Handhelds(RDOSession& s) {
    return s.Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds");
  }
};

TEST_F(EwsBackend, ObjectModelOverTheWire) {
  Serve(Dump({MailboxStore({.alias = "jdoe", .items = 3}), MailboxStore({.alias = "mary"})}));
  auto s = Logon("JDOE@example.com");
  ASSERT_TRUE(s->LoggedOn()) << Err().Description();
  auto store = s->Stores()->DefaultStore();
  EXPECT_EQ(store->Name(), "Mailbox - jdoe");
  EXPECT_FALSE(store->EntryID().empty());

  auto info = store->RootFolder()->Folders()->Item("ONDAVELAGENTINFO");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->Name(), "ondavelAgentInfo");
  auto ids = oa::mailbox::FindMessageIDs(info, "ondavel.agent", "ONDAVELAGENT");
  ASSERT_EQ(ids.size(), 1u);
  auto agent = s->GetMessageFromID(ids[0], "");
  ASSERT_TRUE(agent);
  EXPECT_EQ(agent->EntryID(), ids[0]);
  EXPECT_EQ(agent->MessageClass(), "ondavel.Agent");
  EXPECT_TRUE(agent->Store()->CompareEntryIDs(agent->EntryID(), ids[0]));
  EXPECT_FALSE(agent->Store()->CompareEntryIDs(agent->EntryID(), store->EntryID()));

  const int32_t hhTag =
      oa::mailbox::GetNamedPropTag(agent.get(), Variant::String("HHEntryID"), PT_STRING8, "");
  const int32_t pathTag =
      oa::mailbox::GetNamedPropTag(agent.get(), Variant::String("HHPath"), PT_STRING8, "");
  const std::string hhID = agent->Fields(hhTag).ToText();
  EXPECT_EQ(agent->Fields(pathTag).ToText(), "\\\\Mailbox - jdoe\\Handhelds");
  auto hh = s->GetFolderFromID(hhID, "");
  ASSERT_TRUE(hh);
  EXPECT_EQ(hh->Name(), "Handhelds");
  EXPECT_EQ(hh->EntryID(), hhID);
  EXPECT_EQ(hh->Items()->Count(), 3);
  EXPECT_EQ(hh->Parent()->Name(), "Top of Information Store");

  // A value that does not fit the type is refused before anything is sent, on messages and
  // folders alike, and stages nothing.
  const int32_t longTag =
      static_cast<int32_t>((static_cast<uint32_t>(hhTag) & 0xFFFF0000u) | PT_LONG);
  Err().Clear();
  EXPECT_FALSE(agent->SetFields(longTag, Variant::String("12")));
  EXPECT_EQ(Err().Number(), MAPI_E_INVALID_PARAMETER);
  EXPECT_EQ(Err().Description(), "The value does not fit the property's type.");
  Err().Clear();
  EXPECT_FALSE(hh->SetFields(longTag, Variant::Boolean(true)));
  EXPECT_EQ(Err().Number(), MAPI_E_INVALID_PARAMETER);

  // Written through UpdateItem and read back by a fresh session.
  ASSERT_TRUE(agent->SetFields(hhTag, Variant::String("00AB")));
  ASSERT_TRUE(agent->Save());
  auto fresh = Logon();
  auto again = fresh->GetMessageFromID(ids[0], "");
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Fields(hhTag).ToText(), "00AB");

  // The other mailbox by its alias, through the same server.
  EXPECT_EQ(Logon("mary")->Stores()->DefaultStore()->Name(), "Mailbox - mary");
}

TEST_F(EwsBackend, FolderOperationsAndTheirErrors) {
  Serve(Dump({MailboxStore({.alias = "jdoe", .items = 2})}));
  auto s = Logon();
  ASSERT_TRUE(s->LoggedOn());
  auto top = s->Stores()->DefaultStore()->IPMRootFolder();
  Err().Clear();
  EXPECT_FALSE(top->Folders()->Add("handhelds"));
  EXPECT_EQ(Err().Number(), MAPI_E_COLLISION);

  auto hh = Handhelds(*s);
  ASSERT_TRUE(hh);
  const std::string id = hh->EntryID();
  ASSERT_TRUE(hh->SetName("Handhelds -1"));
  ASSERT_TRUE(hh->Save());
  EXPECT_EQ(s->GetFolderFromID(id, "")->Name(), "Handhelds -1");
  EXPECT_FALSE(top->Folders()->Item("Handhelds"));

  auto added = top->Folders()->Add("Handhelds");
  ASSERT_TRUE(added);
  EXPECT_EQ(added->Name(), "Handhelds");
  EXPECT_NE(added->EntryID(), id);

  Err().Clear();
  hh->Delete();
  EXPECT_FALSE(Err().Pending()) << Err().Description();
  EXPECT_FALSE(s->GetFolderFromID(id, ""));
  EXPECT_EQ(Err().Number(), MAPI_E_NOT_FOUND);
  Err().Clear();
  EXPECT_FALSE(s->GetFolderFromID("XYZ", ""));
  EXPECT_EQ(Err().Number(), MAPI_E_INVALID_ENTRYID);
  Err().Clear();
  EXPECT_FALSE(s->GetDefaultFolder(olPublicFoldersAllPublicFolders));
  EXPECT_TRUE(Err().Pending());
}

TEST_F(EwsBackend, DeclaredStoreFaultsArriveWithTheStoresText) {
  Serve(Dump({MailboxStore({.alias = "jdoe"})},
             {Fault("Folder.Delete", "jdoe-hh", 1, "0x80004005", "Folder is in use")}));
  auto s = Logon();
  auto hh = Handhelds(*s);
  ASSERT_TRUE(hh);
  Err().Clear();
  hh->Delete();
  EXPECT_EQ(Err().Number(), MAPI_E_CALL_FAILED);
  EXPECT_EQ(Err().Description(), "Folder is in use");
}

TEST_F(EwsBackend, EmptyingItemByItemSendsTheDeletesInGroups) {
  Serve(Dump({MailboxStore({.alias = "jdoe", .items = 250})}));
  auto s = Logon();
  auto items = Handhelds(*s)->Items();
  server->ClearRequests();
  int32_t count = items->Count();
  ASSERT_EQ(count, 250);
  int deleted = 0;
  while (items->Count() > 0 && deleted < 300) {
    auto first = items->GetFirst();
    ASSERT_TRUE(first);
    // The emptying loop reads each item's entry ID: the page's IDs convert together.
    EXPECT_FALSE(first->EntryID().empty());
    first->Delete();
    ++deleted;
  }
  EXPECT_EQ(deleted, 250);
  // Two full groups have gone out; the last one goes before the next request.
  EXPECT_EQ(server->OperationCount("DeleteItem"), 2);
  EXPECT_EQ(Handhelds(*s)->Items()->Count(), 0);
  EXPECT_EQ(server->OperationCount("DeleteItem"), 3);
  EXPECT_EQ(server->OperationCount("FindItem"), 1);
  EXPECT_EQ(server->OperationCount("ConvertId"), 1);
  EXPECT_LE(server->OperationCount(), 10);
}

TEST_F(EwsBackend, ThrottlingIsWaitedOutWithEventsProcessed) {
  Serve(Dump({MailboxStore({.alias = "jdoe"})}));
  auto s = Logon();
  int events = 0;
  SetWhileWaiting([&] { ++events; });
  server->AddTrouble({Trouble::Kind::ServerBusy, "FindFolder", 0, 2, 150});
  server->AddTrouble({Trouble::Kind::Http503, "FindFolder", 0, 1, 0});
  server->AddTrouble({Trouble::Kind::ExceededConnectionCount, "FindFolder", 0, 1, 0});
  const auto start = std::chrono::steady_clock::now();
  Err().Clear();
  EXPECT_TRUE(Handhelds(*s));
  EXPECT_FALSE(Err().Pending()) << Err().Description();
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(150 + 150 + 500 + 1000));
  EXPECT_GT(events, 10);
  SetWhileWaiting({});
}

TEST_F(EwsBackend, ThrottlingGivesUpAtTheCallsBudgetOrAtLogoff) {
  Serve(Dump({MailboxStore({.alias = "jdoe"})}));
  setenv("OA_EWS_MAX_WAIT_MS", "400", 1);
  auto s = Logon();
  server->AddTrouble({Trouble::Kind::ServerBusy, "FindFolder", 0, 1, 1000});
  Err().Clear();
  EXPECT_FALSE(Handhelds(*s));
  EXPECT_EQ(Err().Number(), MAPI_E_CALL_FAILED);
  EXPECT_EQ(Err().Description(),
            "The server cannot service this request right now. Try again later.");

  unsetenv("OA_EWS_MAX_WAIT_MS");
  auto t = Logon();
  server->AddTrouble({Trouble::Kind::ServerBusy, "FindFolder", 0, -1, 200});
  // A Cancel in the window logs the session off while the call waits.
  SetWhileWaiting([&] { t->Logoff(); });
  Err().Clear();
  EXPECT_FALSE(Handhelds(*t));
  EXPECT_EQ(Err().Number(), MAPI_E_END_OF_SESSION);
  SetWhileWaiting({});
}

TEST_F(EwsBackend, LogoffDropsTheConnectionThatObjectsStillHold) {
  Serve(Dump({MailboxStore({.alias = "jdoe"})}));
  auto s = Logon();
  auto hh = Handhelds(*s);
  ASSERT_TRUE(hh);
  s->Logoff();
  Err().Clear();
  EXPECT_FALSE(hh->Items());
  EXPECT_EQ(Err().Number(), MAPI_E_END_OF_SESSION);
  // The server waits for its open connections when it stops; a connection kept alive for the
  // folder would hold it for the server's keep-alive time (30 s).
  const auto start = std::chrono::steady_clock::now();
  server->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(EwsBackend, TransportFailuresAreNetworkErrors) {
  Serve(Dump({MailboxStore({.alias = "jdoe"})}));
  setenv("OA_EWS_TIMEOUT_MS", "500", 1);
  auto s = Logon();
  ASSERT_TRUE(s->LoggedOn());
  server->AddTrouble({Trouble::Kind::Slow, "FindFolder", 0, 1, 1500});
  Err().Clear();
  EXPECT_FALSE(Handhelds(*s));
  EXPECT_EQ(Err().Number(), MAPI_E_NETWORK_ERROR);
  server->AddTrouble({Trouble::Kind::Slow, "FindFolder", 0, 1, 100});
  EXPECT_TRUE(Handhelds(*s));

  // One dropped connection is retried on a new one; a second drop in a row is an error.
  server->AddTrouble({Trouble::Kind::Drop, "GetFolder", 0, 1, 0});
  Err().Clear();
  EXPECT_EQ(Handhelds(*s)->Items()->Count(), 3);
  EXPECT_FALSE(Err().Pending());
  server->AddTrouble({Trouble::Kind::Drop, "GetFolder", 0, 2, 0});
  EXPECT_EQ(Handhelds(*s)->Items()->Count(), 0);
  EXPECT_EQ(Err().Number(), MAPI_E_NETWORK_ERROR);
  EXPECT_EQ(Handhelds(*s)->Items()->Count(), 3);

  server->AddTrouble({Trouble::Kind::Http401, "FindFolder", 0, 1, 0});
  Err().Clear();
  EXPECT_FALSE(Handhelds(*s));
  EXPECT_EQ(Err().Number(), MAPI_E_LOGON_FAILED);
  EXPECT_TRUE(Handhelds(*s));
}

TEST_F(EwsBackend, LogonFailuresSayWhyWithoutTheCredentials) {
  Serve(Dump({MailboxStore({.alias = "jdoe"})}));
  setenv("OA_EWS_PASSWORD", "wrong-Pa55", 1);
  auto s = Logon();
  EXPECT_FALSE(s->LoggedOn());
  EXPECT_EQ(Err().Number(), MAPI_E_LOGON_FAILED);
  EXPECT_EQ(Err().Description().find("Pa55"), std::string::npos);

  setenv("OA_EWS_PASSWORD", password.c_str(), 1);
  unsetenv("OA_EWS_CAFILE");
  s = Logon();
  EXPECT_FALSE(s->LoggedOn());
  EXPECT_EQ(Err().Number(), MAPI_E_NETWORK_ERROR);
  EXPECT_NE(Err().Description().find("certificate"), std::string::npos) << Err().Description();

  s->LogonExchangeMailbox("jdoe", "http://mail.example.com/EWS/Exchange.asmx");
  EXPECT_FALSE(s->LoggedOn());
  EXPECT_EQ(Err().Number(), MAPI_E_LOGON_FAILED);

  s->LogonExchangeMailbox("jdoe", "https://127.0.0.1:1/EWS/Exchange.asmx");
  EXPECT_EQ(Err().Number(), MAPI_E_NETWORK_ERROR);
}

TEST_F(EwsBackend, RequestsAreWellFormedEscapedAndFreeOfCredentials) {
  const std::string alias = "a&b<c>\"d'";
  Serve(Dump({MailboxStore({.alias = alias})}));
  auto s = Logon(alias);
  ASSERT_TRUE(s->LoggedOn()) << Err().Description();
  EXPECT_EQ(s->Stores()->DefaultStore()->Name(), "Mailbox - " + alias);
  EXPECT_EQ(Handhelds(*s)->Items()->Count(), 3);
  auto requests = server->Requests();
  ASSERT_GE(requests.size(), 3u);
  bool sawAlias = false;
  for (const auto& r : requests) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_buffer(r.body.data(), r.body.size())) << r.body;
    EXPECT_EQ(
        Attr(Child(Child(Child(doc, "Envelope"), "Header"), "RequestServerVersion"), "Version"),
        "Exchange2010_SP2");
    EXPECT_EQ(r.body.find(password), std::string::npos);
    EXPECT_EQ(r.body.find(user), std::string::npos);
    if (r.operation == "ResolveNames") {
      EXPECT_EQ(ChildText(Child(Child(Child(doc, "Envelope"), "Body"), "ResolveNames"),
                          "UnresolvedEntry"),
                alias);
      sawAlias = true;
    }
  }
  EXPECT_TRUE(sawAlias);
  // Basic is answered once per connection's first challenge, then sent up front.
  int unauthorized = 0;
  for (const auto& r : requests) unauthorized += r.authorized ? 0 : 1;
  EXPECT_EQ(unauthorized, 1);
}

TEST_F(EwsBackend, ImpersonationNamesTheMailboxInHeaders) {
  Serve(Dump({MailboxStore({.alias = "jdoe"}), MailboxStore({.alias = "mary"})}));
  setenv("OA_EWS_ACCESS", "impersonate", 1);
  auto s = Logon("mary");
  ASSERT_TRUE(s->LoggedOn());
  EXPECT_EQ(s->Stores()->DefaultStore()->Name(), "Mailbox - mary");
  EXPECT_TRUE(Handhelds(*s));
  auto requests = server->Requests();
  const auto& last = requests.back();
  EXPECT_EQ(last.anchorMailbox, "mary@example.com");
  pugi::xml_document doc;
  doc.load_buffer(last.body.data(), last.body.size());
  EXPECT_EQ(ChildText(Child(Child(Child(Child(doc, "Envelope"), "Header"), "ExchangeImpersonation"),
                            "ConnectingSID"),
                      "PrimarySmtpAddress"),
            "mary@example.com");
}

TEST_F(EwsBackend, RouterPicksTheBackendByTheServerText) {
  Serve(Dump({MailboxStore({.alias = "jdoe"})}));
  oa::testing::RegisterFromEnvironment();
  auto s = CreateObject(kSessionProgID);
  ASSERT_TRUE(s);
  s->LogonExchangeMailbox("jdoe", storeFile);
  ASSERT_TRUE(s->LoggedOn()) << Err().Description();
  const std::string direct = s->Stores()->DefaultStore()->EntryID();
  server->ClearRequests();
  s->LogonExchangeMailbox("jdoe", server->url());
  ASSERT_TRUE(s->LoggedOn()) << Err().Description();
  EXPECT_EQ(s->Stores()->DefaultStore()->EntryID(), direct);
  EXPECT_GE(server->OperationCount("ResolveNames"), 1);
}

}  // namespace
}  // namespace oa::ews::testing
