// What item listings ask the server for: the emptying reads no property of the items it
// deletes, so its listings ask for IDs only; the agent-message scan reads every item's class,
// and gets the classes of a page's items in a few requests, not one an item.
#include <gtest/gtest.h>

#include <set>

#include "base/mapi_error.h"
#include "console/form.h"
#include "handhelds/folder_ops.h"
#include "mailbox/agent_message.h"
#include "mailbox/ews/objects.h"
#include "mailbox/ews/soap.h"
#include "tests/ews/server_fixture.h"
#include "tests/support/recording_console.h"

namespace oa::ews::testing {

using console::ActivityLog;
using console::Form;
using handhelds::DeleteFolderItems;
using handhelds::FolderEmptying;
using mailbox::GetAgentMessage;
using mailbox::RunContext;

namespace {

using namespace oa::mailbox;
using nlohmann::json;
using oa::testing::Dump;
using oa::testing::MailboxStore;

struct SentShape {
  std::string operation;
  std::string baseShape;
  std::set<std::string> fields;
  size_t itemIds = 0;
};

// The item shape of every FindItem and GetItem the server received.
std::vector<SentShape> ItemShapesSent(EwsTestServer& server) {
  std::vector<SentShape> out;
  for (const auto& r : server.Requests()) {
    if (r.operation != "FindItem" && r.operation != "GetItem") continue;
    pugi::xml_document doc;
    doc.load_buffer(r.body.data(), r.body.size());
    auto op = Child(Child(Child(doc, "Envelope"), "Body"), r.operation.c_str());
    auto shape = Child(op, "ItemShape");
    SentShape s{r.operation, ChildText(shape, "BaseShape"), {}, 0};
    for (auto f : Children(Child(shape, "AdditionalProperties"), "FieldURI"))
      s.fields.insert(Attr(f, "FieldURI"));
    s.itemIds = Children(Child(op, "ItemIds"), "ItemId").size();
    out.push_back(std::move(s));
  }
  return out;
}

const std::set<std::string> kBasics{"item:ItemClass", "item:Subject", "item:DateTimeCreated"};

class ListingShape : public LoggedOnServedStore {
 protected:
  oa::testing::RecordingConsole console;
};

TEST_F(ListingShape, TheEmptyingAsksForIdsAndTheScanForClassesAPageGroupAtATime) {
  // Two agent messages the filter cannot find (their subject differs), and 120 notes.
  json store = MailboxStore({.alias = "jdoe", .items = 30});
  json& agentFolder = store["root"]["folders"][0];
  agentFolder["messages"] = json::array();
  agentFolder["messages"].push_back({{"key", "newer"},
                                     {"class", "ondavel.Agent"},
                                     {"subject", "newer"},
                                     {"created", "2026-03-01T09:00:00Z"}});
  agentFolder["messages"].push_back({{"key", "older"},
                                     {"class", "ondavel.Agent"},
                                     {"subject", "older"},
                                     {"created", "2026-02-01T09:00:00Z"}});
  // After them, so that the export (of a folder's first 100 messages) lists them.
  for (int i = 0; i < 120; ++i)
    agentFolder["messages"].push_back({{"subject", "note " + std::to_string(i)}});
  Serve(Dump({store}));
  auto s = Logon();
  Form form(console, ActivityLog(dir / "log"));
  form.run().RDO = s;
  auto root = s->Stores()->DefaultStore();

  server->ClearRequests();
  FolderEmptying outcome;
  EXPECT_TRUE(
      DeleteFolderItems(form.run(), root->IPMRootFolder()->Folders()->Item("Handhelds"), &outcome));
  EXPECT_EQ(outcome.deleted, 30);
  auto shapes = ItemShapesSent(*server);
  ASSERT_EQ(shapes.size(), 1u);
  EXPECT_EQ(shapes[0].operation, "FindItem");
  EXPECT_EQ(shapes[0].baseShape, "IdOnly");
  EXPECT_TRUE(shapes[0].fields.empty());

  server->ClearRequests();
  RunContext& run = form.run();
  run.agentInfoFolder = root->RootFolder()->Folders()->Item("ondavelAgentInfo");
  ASSERT_TRUE(run.agentInfoFolder);
  auto kept = GetAgentMessage(run);
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->Subject(), "older");
  EXPECT_EQ(run.outcome.extraAgentMessagesDeleted, 1);
  shapes = ItemShapesSent(*server);
  // The filter's table with its columns, the listing of IDs, then the classes of the 122 items
  // in two groups.
  ASSERT_EQ(shapes.size(), 4u);
  EXPECT_EQ(shapes[0].operation, "FindItem");
  EXPECT_EQ(shapes[0].fields, kBasics);
  EXPECT_EQ(shapes[1].operation, "FindItem");
  EXPECT_TRUE(shapes[1].fields.empty());
  for (size_t i : {2u, 3u}) {
    EXPECT_EQ(shapes[i].operation, "GetItem");
    EXPECT_EQ(shapes[i].fields, kBasics);
  }
  EXPECT_EQ(shapes[2].itemIds, 100u);
  EXPECT_EQ(shapes[3].itemIds, 22u);

  // The scan's delete reached the server's store: the newer one went, the older one is kept.
  s->Logoff();
  json dump = oa::testing::ExportStore(storeFile);
  std::set<std::string> agents;
  for (const auto& f : (*oa::testing::FindStore(dump, "jdoe"))["root"]["folders"]) {
    if (f.value("name", "") != "ondavelAgentInfo") continue;
    EXPECT_EQ(f.value("count", -1), 121);
    for (const auto& m : f["messages"])
      if (m.value("class", "") == "ondavel.Agent") agents.insert(m.value("subject", ""));
  }
  EXPECT_EQ(agents, std::set<std::string>{"older"});
}

TEST_F(ListingShape, ACollectionAskedForClassesListsItsNextPagesWithThem) {
  Serve(Dump({MailboxStore({.alias = "jdoe", .items = 1005})}));
  auto s = Logon();
  auto items = s->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds")->Items();
  ASSERT_EQ(items->Count(), 1005);
  server->ClearRequests();
  auto first = items->Item(1);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->MessageClass(), "IPM.Note");
  auto last = items->Item(1005);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->MessageClass(), "IPM.Note");
  const auto shapes = ItemShapesSent(*server);
  ASSERT_EQ(shapes.size(), 3u);
  EXPECT_TRUE(shapes[0].fields.empty());
  EXPECT_EQ(shapes[1].operation, "GetItem");
  EXPECT_EQ(shapes[2].operation, "FindItem");
  EXPECT_EQ(shapes[2].fields, kBasics);
}

}  // namespace
}  // namespace oa::ews::testing
