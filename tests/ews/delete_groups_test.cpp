// Item deletes over EWS go out in groups: when a group is full, before any other request, when
// the run pauses for the user, on Cancel and at logoff. The emptying loop keeps its count and
// its skipped items right, and the server's store is checked after every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "base/mapi_error.h"
#include "console/form.h"
#include "handhelds/folder_ops.h"
#include "mailbox/ews/client.h"
#include "mailbox/ews/objects.h"
#include "mailbox/ews/soap.h"
#include "tests/ews/server_fixture.h"
#include "tests/support/recording_console.h"

namespace oa::ews::testing {

using console::ActivityLog;
using console::Form;
using handhelds::DeleteFolderItems;
using handhelds::FolderEmptying;
using mailbox::RunHost;

namespace {

using namespace oa::mailbox;
using nlohmann::json;
using oa::testing::Dump;
using oa::testing::Fault;
using oa::testing::MailboxStore;

// The mailbox "jdoe" with `items` plain items in Handhelds, and `messages` listed after them.
json Mailbox(int items, const std::vector<json>& messages = {}) {
  json store = MailboxStore({.alias = "jdoe", .items = items});
  for (json& f : store["root"]["folders"][1]["folders"]) {
    if (f["name"] == "Handhelds") f["messages"] = messages;
  }
  return store;
}

json Message(const std::string& key, const std::string& cls) {
  return {{"key", key}, {"class", cls}, {"subject", key}};
}

class DeleteGroups : public LoggedOnServedStore {
 protected:
  std::shared_ptr<RDOFolder> Handhelds(RDOSession& s) {
    return s.Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds");
  }
  // One DeleteItem of every Handhelds item, sent as a client that knows nothing of calendar
  // items and tasks would send it; `elements` gets the items' element names.
  std::optional<Response> DeleteAllAsAPlainClient(RDOSession& s,
                                                  std::vector<std::string>* elements = nullptr) {
    auto hh = std::static_pointer_cast<EwsFolder>(Handhelds(s));
    if (!hh) return std::nullopt;
    ClientOptions o;
    o.url = server->url();
    o.user = user;
    o.password = password;
    o.caFile = server->caFile();
    Client client(o);
    auto find = client.NewRequest("FindItem");
    find->op().append_attribute("Traversal") = "Shallow";
    AddText(find->op().append_child("m:ItemShape"), "t:BaseShape", "IdOnly");
    find->op().append_child("m:ParentFolderIds").append_child("t:FolderId").append_attribute("Id") =
        hh->ref().id.c_str();
    auto found = client.Call(*find);
    if (!found) return std::nullopt;
    auto del = client.NewRequest("DeleteItem");
    del->op().append_attribute("DeleteType") = "HardDelete";
    auto ids = del->op().append_child("m:ItemIds");
    for (auto e : Child(Child(found->messages.front().node, "RootFolder"), "Items").children()) {
      if (elements) elements->push_back(std::string(LocalName(e.name())));
      ids.append_child("t:ItemId").append_attribute("Id") = Attr(Child(e, "ItemId"), "Id").c_str();
    }
    return client.Call(*del);
  }
  // The item IDs of every DeleteItem the server received, one list per request.
  std::vector<std::vector<std::string>> DeleteGroupsSent() {
    std::vector<std::vector<std::string>> groups;
    for (const auto& r : server->Requests()) {
      if (r.operation != "DeleteItem") continue;
      pugi::xml_document doc;
      doc.load_buffer(r.body.data(), r.body.size());
      auto op = Child(Child(Child(doc, "Envelope"), "Body"), "DeleteItem");
      EXPECT_EQ(Attr(op, "SendMeetingCancellations"), "SendToNone");
      EXPECT_EQ(Attr(op, "AffectedTaskOccurrences"), "AllOccurrences");
      groups.emplace_back();
      for (auto id : Children(Child(op, "ItemIds"), "ItemId"))
        groups.back().push_back(Attr(id, "Id"));
    }
    return groups;
  }
  // No item was sent twice; the number of items sent.
  size_t ItemsSentOnce() {
    std::set<std::string> seen;
    size_t n = 0;
    for (const auto& g : DeleteGroupsSent()) {
      for (const auto& id : g) {
        EXPECT_TRUE(seen.insert(id).second) << "sent twice: " << id;
        ++n;
      }
    }
    return n;
  }
  // The Handhelds folder as the server's store holds it now.
  json StoredHandhelds() {
    json dump = oa::testing::ExportStore(storeFile);
    const json* f = oa::testing::FindTopFolder(*oa::testing::FindStore(dump, "jdoe"), "Handhelds");
    return f ? *f : json();
  }
  int64_t StoredCount() { return StoredHandhelds().value("count", int64_t{-1}); }

  oa::testing::RecordingConsole console;
};

TEST_F(DeleteGroups, FullGroupsGoOutAndTheLastOneBeforeTheFolderCountsAsEmpty) {
  Serve(Dump({Mailbox(250)}));
  auto s = Logon();
  auto folder = Handhelds(*s);
  Form form(console, ActivityLog(dir / "log"));
  server->ClearRequests();
  FolderEmptying outcome;
  EXPECT_TRUE(DeleteFolderItems(form.run(), folder, &outcome));
  EXPECT_EQ(outcome.deleted, 250);
  EXPECT_EQ(outcome.skipped, 0);
  EXPECT_EQ(outcome.remaining, 0);
  auto groups = DeleteGroupsSent();
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups[0].size(), 100u);
  EXPECT_EQ(groups[1].size(), 100u);
  EXPECT_EQ(groups[2].size(), 50u);
  EXPECT_EQ(ItemsSentOnce(), 250u);
  // The count, one page of IDs, their entry IDs and the three groups.
  EXPECT_LE(server->OperationCount(), 6);
  // The label counted down item by item all the same.
  ASSERT_EQ(console.progress.size(), 251u);
  EXPECT_EQ(console.progress[1], "Count = 249");
  EXPECT_EQ(console.progress.back(), "Count = 0");
  EXPECT_EQ(StoredCount(), 0);
}

TEST_F(DeleteGroups, QueuedDeletesGoOutBeforeAnyOtherRequestAndAtLogoff) {
  Serve(Dump({Mailbox(10)}));
  auto s = Logon();
  auto items = Handhelds(*s)->Items();
  ASSERT_EQ(items->Count(), 10);
  server->ClearRequests();
  for (int i = 0; i < 3; ++i) items->GetFirst()->Delete();
  // The first fetch read the page; the deletes wait, and the count leaves them out.
  EXPECT_EQ(server->OperationCount("DeleteItem"), 0);
  EXPECT_EQ(items->Count(), 7);
  EXPECT_EQ(StoredCount(), 10);

  ASSERT_TRUE(Handhelds(*s));
  std::vector<std::string> ops;
  for (const auto& r : server->Requests()) ops.push_back(r.operation);
  const auto del = std::find(ops.begin(), ops.end(), "DeleteItem");
  ASSERT_NE(del, ops.end());
  // The deletes went out first, then the lookup's requests.
  EXPECT_EQ(del - ops.begin(), 1) << "after the page of IDs";
  EXPECT_EQ(ops.front(), "FindItem");
  EXPECT_GT(ops.end() - del, 1);
  EXPECT_EQ(StoredCount(), 7);

  items->GetFirst()->Delete();
  items->GetFirst()->Delete();
  EXPECT_EQ(StoredCount(), 7);
  s->Logoff();
  EXPECT_EQ(StoredCount(), 5);
  EXPECT_EQ(ItemsSentOnce(), 5u);
  // Deleting an item twice before its group goes out sends it once.
  auto again = Logon();
  auto more = Handhelds(*again)->Items();
  auto first = more->GetFirst();
  first->Delete();
  first->Delete();
  EXPECT_EQ(more->Count(), 4);
  again->Logoff();
  EXPECT_EQ(StoredCount(), 4);
  EXPECT_EQ(ItemsSentOnce(), 6u);
}

TEST_F(DeleteGroups, APauseForTheUserOrAMessageBoxSendsTheGroup) {
  Serve(Dump({Mailbox(10)}));
  auto s = Logon();
  auto items = Handhelds(*s)->Items();
  Form form(console, ActivityLog(dir / "log"));
  form.run().RDO = s;
  RunHost& host = form.run().host();
  items->GetFirst()->Delete();
  items->GetFirst()->Delete();
  host.DoEvents();  // nothing for the user: the group keeps waiting
  EXPECT_EQ(StoredCount(), 10);
  console.inputHandled = true;
  host.DoEvents();
  EXPECT_EQ(StoredCount(), 8);
  console.inputHandled = false;
  items->GetFirst()->Delete();
  host.MsgBox("shown");
  EXPECT_EQ(StoredCount(), 7);
  EXPECT_EQ(console.msgBoxes, std::vector<std::string>{"shown"});
  EXPECT_EQ(ItemsSentOnce(), 3u);
}

TEST_F(DeleteGroups, CancelSendsTheGroupSoTheCountToldIsTheFolders) {
  Serve(Dump({Mailbox(250)}));
  auto s = Logon();
  auto folder = Handhelds(*s);
  Form form(console, ActivityLog(dir / "log"));
  int calls = 0;
  console.onEvents = [&] {
    if (++calls == 2 * 130) form.run().bCancel = true;
  };
  FolderEmptying outcome;
  EXPECT_FALSE(DeleteFolderItems(form.run(), folder, &outcome));
  EXPECT_TRUE(outcome.stopped);
  EXPECT_EQ(outcome.deleted, 130);
  EXPECT_EQ(outcome.remaining, 120);
  // Sent before the loop returned, not at some later request.
  EXPECT_EQ(StoredCount(), 120);
  EXPECT_EQ(ItemsSentOnce(), 130u);
  EXPECT_EQ(folder->Items()->Count(), 120);
}

TEST_F(DeleteGroups, AnItemRefusedInsideAGroupIsSkippedAndCountedAgain) {
  Serve(Dump({Mailbox(0, {Message("a", "IPM.Note"), Message("kept", "IPM.Note"),
                          Message("b", "IPM.Note")})},
             {Fault("Mail.Delete", "kept", -1, "0x80070005", "Access is denied")}));
  auto s = Logon();
  auto folder = Handhelds(*s);
  Form form(console, ActivityLog(dir / "log"));
  FolderEmptying outcome;
  EXPECT_FALSE(DeleteFolderItems(form.run(), folder, &outcome));
  EXPECT_FALSE(outcome.stopped);
  EXPECT_EQ(outcome.deleted, 2);
  EXPECT_EQ(outcome.skipped, 1);
  EXPECT_EQ(outcome.remaining, 1);
  EXPECT_EQ(console.progress.back(), "Count = 1");
  EXPECT_EQ(ItemsSentOnce(), 3u);
  json stored = StoredHandhelds();
  EXPECT_EQ(stored.value("count", -1), 1);
  ASSERT_EQ(stored["messages"].size(), 1u);
  EXPECT_EQ(stored["messages"][0].value("subject", ""), "kept");
}

TEST_F(DeleteGroups, RefusalsInAFullGroupMoveThePositionPastThem) {
  std::vector<json> messages;
  for (int i = 0; i < 230; ++i) messages.push_back(Message("m" + std::to_string(i), "IPM.Note"));
  Serve(Dump({Mailbox(0, messages)},
             {Fault("Mail.Delete", "m10", -1), Fault("Mail.Delete", "m150", -1),
              Fault("Mail.Delete", "m229", -1)}));
  auto s = Logon();
  auto folder = Handhelds(*s);
  Form form(console, ActivityLog(dir / "log"));
  FolderEmptying outcome;
  EXPECT_FALSE(DeleteFolderItems(form.run(), folder, &outcome));
  EXPECT_EQ(outcome.deleted, 227);
  EXPECT_EQ(outcome.skipped, 3);
  EXPECT_EQ(outcome.remaining, 3);
  EXPECT_EQ(ItemsSentOnce(), 230u);
  json stored = StoredHandhelds();
  EXPECT_EQ(stored.value("count", -1), 3);
  std::set<std::string> left;
  for (const auto& m : stored["messages"]) left.insert(m.value("subject", ""));
  EXPECT_EQ(left, (std::set<std::string>{"m10", "m150", "m229"}));
}

TEST_F(DeleteGroups, CalendarItemsAndTasksAreRefusedWithoutTheirAttributes) {
  Serve(Dump({Mailbox(0, {Message("meeting", "IPM.Appointment"), Message("todo", "IPM.Task"),
                          Message("note", "IPM.Note")})}));
  // As Exchange answers a DeleteItem that leaves them out.
  auto s = Logon();
  std::vector<std::string> elements;
  auto r = DeleteAllAsAPlainClient(*s, &elements);
  EXPECT_EQ(elements, (std::vector<std::string>{"CalendarItem", "Task", "Message"}));
  ASSERT_TRUE(r);
  ASSERT_EQ(r->messages.size(), 3u);
  EXPECT_EQ(r->messages[0].responseClass, "Error");
  EXPECT_EQ(r->messages[0].code, "ErrorSendMeetingCancellationsRequired");
  EXPECT_EQ(r->messages[1].code, "ErrorAffectedTaskOccurrencesRequired");
  EXPECT_TRUE(r->messages[2].ok());
  EXPECT_EQ(StoredCount(), 2);

  // The backend's deletes carry both, so the emptying takes them.
  server->ClearRequests();
  Form form(console, ActivityLog(dir / "log"));
  FolderEmptying outcome;
  EXPECT_TRUE(DeleteFolderItems(form.run(), Handhelds(*s), &outcome));
  EXPECT_EQ(outcome.deleted, 2);
  EXPECT_EQ(StoredCount(), 0);
  EXPECT_EQ(ItemsSentOnce(), 2u);
}

TEST_F(DeleteGroups, OneRequestsDeletesStandOrFailItemByItem) {
  json applied = Fault("Mail.Delete", "d", 1, "0x80004005", "Deleted, then failed");
  applied["effect"] = "applied";
  json silent = Fault("Mail.Delete", "e", 1);
  silent["effect"] = "silent";
  Serve(Dump(
      {Mailbox(0, {Message("a", "IPM.Note"), Message("b", "IPM.Note"), Message("c", "IPM.Note"),
                   Message("d", "IPM.Note"), Message("e", "IPM.Note"), Message("f", "IPM.Note")})},
      {Fault("Mail.Delete", "b", 1, "0x80070005", "Access is denied"), applied, silent}));
  auto s = Logon();
  auto r = DeleteAllAsAPlainClient(*s);
  ASSERT_TRUE(r);
  ASSERT_EQ(r->messages.size(), 6u);
  std::vector<std::string> codes;
  for (const auto& m : r->messages) codes.push_back(m.code);
  EXPECT_EQ(codes, (std::vector<std::string>{"NoError", "ErrorAccessDenied", "NoError",
                                             "ErrorInternalServerError", "NoError", "NoError"}));
  EXPECT_EQ(r->messages[1].text, "Access is denied");
  EXPECT_EQ(r->messages[3].text, "Deleted, then failed");
  // The refused one and the one left in place silently are there; the rest is gone.
  json stored = StoredHandhelds();
  EXPECT_EQ(stored.value("count", -1), 2);
  std::set<std::string> left;
  for (const auto& m : stored["messages"]) left.insert(m.value("subject", ""));
  EXPECT_EQ(left, (std::set<std::string>{"b", "e"}));

  // The faults were counted with the deletes: spent now, they let the items go.
  r = DeleteAllAsAPlainClient(*s);
  ASSERT_TRUE(r);
  ASSERT_EQ(r->messages.size(), 2u);
  EXPECT_TRUE(r->messages[0].ok());
  EXPECT_TRUE(r->messages[1].ok());
  EXPECT_EQ(StoredCount(), 0);
}

}  // namespace
}  // namespace oa::ews::testing
