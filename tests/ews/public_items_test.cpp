// Messages in public folders over EWS: opened by the entry IDs the store gives them, converted
// together with their folder's ID, and their own EntryID the store's again; entry IDs that name
// nothing, or nothing valid, fail with the errors the object model promises.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>

#include "base/mapi_error.h"
#include "console/form.h"
#include "mailbox/agent_message.h"
#include "mailbox/basRDO.h"
#include "mailbox/ews/objects.h"
#include "mailbox/ews/soap.h"
#include "mailbox/model/const_mapi.h"
#include "tests/ews/server_fixture.h"
#include "tests/support/recording_console.h"

namespace oa::ews::testing {

using console::ActivityLog;
using console::Form;
using mailbox::GetMessage;

namespace {

using namespace oa::mailbox;
using namespace oa::mailbox::ConstMAPI;
using nlohmann::json;
using oa::testing::Dump;
using oa::testing::MailboxStore;

json Note(const std::string& key, const std::string& subject) {
  return {{"key", key}, {"class", "IPM.Note"}, {"subject", subject}};
}

// A mailbox beside a public store: Shared (two messages) with Deeper (one) below it, and Other.
json PublicDump() {
  json deeper = {{"name", "Deeper"}, {"key", "deeper"}, {"messages", {Note("pub3", "Third")}}};
  json shared = {{"name", "Shared"},
                 {"key", "shared"},
                 {"messages", {Note("pub1", "First"), Note("pub2", "Second")}},
                 {"folders", {deeper}}};
  json other = {{"name", "Other"}, {"items", 2}};
  json subtree = {
      {"name", "IPM_SUBTREE"}, {"allPublicFolders", true}, {"folders", {other, shared}}};
  json pub = {{"kind", "public"},
              {"key", "public"},
              {"displayName", "Public Folders"},
              {"root", {{"folders", {subtree}}}}};
  return Dump({MailboxStore({.alias = "jdoe"}), pub});
}

// The entry ID that the store's export gives the object with that key.
std::string IdOf(const json& node, const std::string& key) {
  if (node.is_object()) {
    if (node.value("key", "") == key) return node.value("entryId", "");
    for (const auto& [name, child] : node.items())
      if (auto id = IdOf(child, key); !id.empty()) return id;
  } else if (node.is_array()) {
    for (const auto& child : node)
      if (auto id = IdOf(child, key); !id.empty()) return id;
  }
  return "";
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// The AlternatePublicFolderItemId sources of the ConvertId requests, as (format, folder, item).
std::vector<std::vector<std::string>> PublicItemSources(const std::vector<SeenRequest>& requests) {
  std::vector<std::vector<std::string>> out;
  for (const auto& r : requests) {
    if (r.operation != "ConvertId") continue;
    pugi::xml_document doc;
    doc.load_buffer(r.body.data(), r.body.size());
    auto op = Child(Child(Child(doc, "Envelope"), "Body"), "ConvertId");
    for (auto s : Children(Child(op, "SourceIds"), "AlternatePublicFolderItemId"))
      out.push_back({Attr(s, "Format"), Attr(s, "FolderId"), Attr(s, "ItemId")});
  }
  return out;
}

int CountOf(const std::vector<SeenRequest>& requests, const std::string& operation) {
  return static_cast<int>(
      std::count_if(requests.begin(), requests.end(),
                    [&](const SeenRequest& r) { return r.operation == operation; }));
}

class PublicFolderItems : public ServedStore {
 protected:
  void SetUp() override {
    Serve(PublicDump());
    exported = oa::testing::ExportStore(storeFile);
    session = Logon();
    ASSERT_TRUE(session->LoggedOn()) << Err().Description();
    auto pub = session->Stores()->FindExchangePublicFoldersStore();
    ASSERT_TRUE(pub) << Err().Description();
    pubID = pub->EntryID();
  }
  void TearDown() override {
    // Its kept-alive connection would hold the server's stop up.
    session.reset();
    ServedStore::TearDown();
  }
  std::shared_ptr<EwsSession> Logon() {
    auto s = std::make_shared<EwsSession>(oa::testing::BackendOptionsFromEnvironment().ews);
    Err().Clear();
    s->LogonExchangeMailbox("jdoe", server->url());
    return s;
  }
  std::shared_ptr<RDOMail> Open(const std::string& entryID, const std::string& storeID) {
    Err().Clear();
    return session->GetMessageFromID(entryID, storeID);
  }

  json exported;
  std::shared_ptr<EwsSession> session;
  std::string pubID;
};

TEST_F(PublicFolderItems, OpenByEntryIdInAnyFolderWithTheirFoldersIdsConvertedAlong) {
  EXPECT_EQ(pubID, IdOf(exported, "public"));
  for (const auto& [key, folder, subject] :
       std::vector<std::tuple<std::string, std::string, std::string>>{
           {"pub1", "shared", "First"}, {"pub3", "deeper", "Third"}}) {
    const std::string hex = IdOf(exported, key);
    ASSERT_FALSE(hex.empty());
    server->ClearRequests();
    auto mail = Open(hex, pubID);
    ASSERT_TRUE(mail) << key << ": " << Err().Description();
    EXPECT_EQ(mail->EntryID(), hex);
    EXPECT_EQ(mail->Subject(), subject);
    EXPECT_EQ(mail->Store()->EntryID(), pubID);
    EXPECT_TRUE(mail->Store()->CompareEntryIDs(mail->EntryID(), hex));
    // The item's entry ID went to the server together with the entry ID of its folder.
    const auto sources = PublicItemSources(server->Requests());
    const std::vector<std::string> wanted{"HexEntryId", IdOf(exported, folder), hex};
    EXPECT_NE(std::find(sources.begin(), sources.end(), wanted), sources.end()) << key;
  }

  // Hexadecimal in lower case names the same message.
  const std::string second = IdOf(exported, "pub2");
  auto lower = Open(Lower(second), pubID);
  ASSERT_TRUE(lower) << Err().Description();
  EXPECT_EQ(lower->EntryID(), second);
  EXPECT_EQ(lower->Fields(PR_SUBJECT).ToText(), "Second");

  // A message opened once opens again without converting anything.
  server->ClearRequests();
  ASSERT_TRUE(Open(IdOf(exported, "pub3"), pubID));
  EXPECT_EQ(server->OperationCount("ConvertId"), 0);
  EXPECT_EQ(server->OperationCount("GetItem"), 1);
}

TEST_F(PublicFolderItems, EachStoreOpensOnlyItsOwnMessages) {
  const std::string agent = IdOf(exported, "jdoe-agent");
  auto mail = Open(agent, "");
  ASSERT_TRUE(mail) << Err().Description();
  EXPECT_EQ(mail->EntryID(), agent);
  EXPECT_EQ(mail->Store()->EntryID(), IdOf(exported, "jdoe"));

  EXPECT_FALSE(Open(agent, pubID));
  EXPECT_EQ(Err().Number(), MAPI_E_NOT_FOUND);
  EXPECT_EQ(Err().Description(),
            "No public folder holds a message with the entry ID " + agent + ".");
  EXPECT_FALSE(Open(IdOf(exported, "pub1"), ""));
  EXPECT_EQ(Err().Number(), MAPI_E_NOT_FOUND);
}

TEST_F(PublicFolderItems, ListedItemsGiveTheStoresEntryIdsAndDeleteInTheirFolder) {
  auto shared =
      session->GetDefaultFolder(olPublicFoldersAllPublicFolders)->Folders()->Item("Shared");
  ASSERT_TRUE(shared) << Err().Description();
  EXPECT_EQ(shared->EntryID(), IdOf(exported, "shared"));
  auto items = shared->Items();
  ASSERT_EQ(items->Count(), 2);
  std::set<std::string> listed;
  for (int32_t i = 1; i <= 2; ++i) listed.insert(items->Item(i)->EntryID());
  EXPECT_EQ(listed, (std::set<std::string>{IdOf(exported, "pub1"), IdOf(exported, "pub2")}));
  // The contents table's entry IDs are the same.
  EXPECT_EQ(oa::mailbox::FindMessageIDs(shared, "IPM.Note", "Second"),
            std::vector<std::string>{IdOf(exported, "pub2")});

  // Listed items open by entry ID without looking through the folders again.
  server->ClearRequests();
  ASSERT_TRUE(Open(IdOf(exported, "pub1"), pubID)) << Err().Description();
  EXPECT_EQ(server->OperationCount("FindFolder"), 0);

  Err().Clear();
  items->GetFirst()->Delete(dfHardDelete);
  EXPECT_FALSE(Err().Pending()) << Err().Description();
  EXPECT_EQ(shared->Items()->Count(), 1);
  const json after = oa::testing::ExportStore(storeFile);
  EXPECT_NE(IdOf(after, "pub1").empty(), IdOf(after, "pub2").empty());
}

TEST_F(PublicFolderItems, GetMessageFindsAPublicMessageByItsRetryOverEws) {
  oa::testing::RecordingConsole console;
  Form form(console, ActivityLog(dir / "OA-Cleanup.log"));
  form.run().RDO = session;
  const std::string hex = IdOf(exported, "pub3");
  auto mail = GetMessage(form.run(), hex, "");
  form.run().RDO.reset();
  ASSERT_TRUE(mail);
  EXPECT_EQ(mail->EntryID(), hex);
  EXPECT_EQ(form.run().messageStoreIDCache, pubID);
  EXPECT_TRUE(console.results.empty());
}

TEST_F(PublicFolderItems, MalformedAndUnknownEntryIdsSayWhy) {
  const std::string notHex =
      "The entry ID is not valid: it must be hexadecimal digits, two for each byte.";
  for (const std::string& bad : {std::string("XYZ"), std::string(""), std::string("ABC")}) {
    server->ClearRequests();
    EXPECT_FALSE(Open(bad, pubID));
    EXPECT_EQ(Err().Number(), MAPI_E_INVALID_ENTRYID) << bad;
    EXPECT_EQ(Err().Description(), notHex);
    EXPECT_EQ(server->Requests().size(), 0u);
  }

  // The store's layout, but no such message: every public folder is asked once.
  std::string gone = IdOf(exported, "pub1");
  gone.replace(gone.size() - 8, 8, "7FFFFFFF");
  server->ClearRequests();
  EXPECT_FALSE(Open(gone, pubID));
  EXPECT_EQ(Err().Number(), MAPI_E_NOT_FOUND);
  EXPECT_EQ(Err().Description(),
            "No public folder holds a message with the entry ID " + gone + ".");
  std::set<std::string> asked;
  for (const auto& s : PublicItemSources(server->Requests())) asked.insert(s[1]);
  EXPECT_EQ(asked.size(), 4u);  // all public folders, Other, Shared, Deeper
  EXPECT_TRUE(asked.count(IdOf(exported, "deeper")));

  // A folder's entry ID is no message's.
  EXPECT_FALSE(Open(IdOf(exported, "shared"), pubID));
  EXPECT_EQ(Err().Number(), MAPI_E_NOT_FOUND);
}

// Exchange's own long-term entry IDs name the folder of a public message: its ID goes to the
// server with that folder's, and nothing is searched.
std::string ExchangeId(uint8_t type, bool message) {
  std::vector<uint8_t> id(4, 0);
  for (int i = 0; i < 16; ++i) id.push_back(static_cast<uint8_t>(0xA0 + i));
  id.push_back(type);
  id.push_back(0);
  for (int part = 0; part < (message ? 2 : 1); ++part) {
    for (int i = 0; i < 16; ++i) id.push_back(static_cast<uint8_t>(0x10 * part + i));
    for (int i = 0; i < 6; ++i) id.push_back(static_cast<uint8_t>(0x30 + part * 8 + i));
    id.push_back(0);
    id.push_back(0);
  }
  return HexEncode(id);
}

TEST_F(PublicFolderItems, ExchangeEntryIdsNameTheirFolder) {
  const std::string message = ExchangeId(0x09, true);
  server->ClearRequests();
  EXPECT_FALSE(Open(message, pubID));
  EXPECT_TRUE(Err().Pending());
  const auto sources = PublicItemSources(server->Requests());
  ASSERT_EQ(sources.size(), 1u);
  EXPECT_EQ(sources[0], (std::vector<std::string>{"HexEntryId", ExchangeId(0x03, false), message}));
  EXPECT_EQ(CountOf(server->Requests(), "FindFolder"), 0);

  server->ClearRequests();
  EXPECT_FALSE(Open(ExchangeId(0x07, true), pubID));
  EXPECT_EQ(Err().Number(), MAPI_E_NOT_FOUND);
  EXPECT_EQ(Err().Description(),
            "The entry ID names a message in a mailbox, not in the public folders.");
  EXPECT_FALSE(Open(ExchangeId(0x03, false), pubID));
  EXPECT_EQ(Err().Number(), MAPI_E_INVALID_ENTRYID);
  EXPECT_EQ(Err().Description(), "The entry ID names a folder, not a message.");
  EXPECT_EQ(server->Requests().size(), 0u);
}

}  // namespace
}  // namespace oa::ews::testing
