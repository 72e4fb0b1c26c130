// What the Graph session keeps of what it has read, against the changes the run makes: a folder
// delete leaves the messages known to lie elsewhere as read, and only those; a new folder
// changes no message; the deleted folder is known gone without asking again.
#include <gtest/gtest.h>

#include "mailbox/model/const_mapi.h"
#include "tests/graph/served_mailbox.h"

namespace oa::graph::testing {
namespace {

class ReadCache : public ServedMailbox {};

TEST_F(ReadCache, AFolderDeleteKeepsOnlyTheMessagesKnownOutsideIt) {
  Serve(oa::testing::Dump({Mailbox(2)}));
  auto s = Logon();
  auto hh = Handhelds(*s);
  ASSERT_TRUE(hh);
  const std::string hhEntryID = hh->EntryID();
  auto inside = hh->Items()->GetFirst();
  ASSERT_TRUE(inside);
  const std::string insideEntryID = inside->EntryID();
  auto info = s->Stores()->DefaultStore()->RootFolder()->Folders()->Item("ondavelAgentInfo");
  ASSERT_TRUE(info);
  auto agent = info->Items()->GetFirst();
  ASSERT_TRUE(agent);
  const std::string agentEntryID = agent->EntryID();
  const std::string agentSubject = agent->Subject();

  Err().Clear();
  hh->Delete();
  ASSERT_FALSE(Err().Pending()) << Err().Description();
  const int64_t messagesBefore = server->Count("message");
  const int64_t foldersBefore = server->Count("folder");

  // The agent lies in a folder beside the deleted one: read as before, without a request.
  auto again = s->GetMessageFromID(agentEntryID, "");
  ASSERT_TRUE(again);
  EXPECT_EQ(again->Subject(), agentSubject);
  EXPECT_EQ(server->Count("message"), messagesBefore);
  // An item of the deleted folder is asked for, and the service has it no more.
  EXPECT_FALSE(s->GetMessageFromID(insideEntryID, ""));
  EXPECT_EQ(server->Count("message"), messagesBefore + 1);
  // The deleted folder is known gone.
  Err().Clear();
  EXPECT_FALSE(s->GetFolderFromID(hhEntryID, ""));
  EXPECT_EQ(Err().Number(), oa::mailbox::ConstMAPI::MAPI_E_NOT_FOUND);
  EXPECT_EQ(server->Count("folder"), foldersBefore);

  // A new folder changes no message; a change of the message itself is read again.
  ASSERT_TRUE(s->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Add("Handhelds"));
  ASSERT_TRUE(s->GetMessageFromID(agentEntryID, ""));
  EXPECT_EQ(server->Count("message"), messagesBefore + 1);
  const int32_t tag = again->GetIDsFromNames(oa::mailbox::ConstMAPI::PS_PUBLIC_STRINGS, "HHPath") |
                      oa::mailbox::ConstMAPI::PT_STRING8;
  ASSERT_TRUE(again->SetFields(tag, oa::Variant::String("\\\\Mailbox - jdoe\\New")));
  ASSERT_TRUE(again->Save());
  ASSERT_TRUE(s->GetMessageFromID(agentEntryID, ""));
  EXPECT_EQ(server->Count("message"), messagesBefore + 2);
}

// A failed delete leaves nothing known: the next reads go to the service.
TEST_F(ReadCache, ARefusedFolderDeleteKeepsNothing) {
  Serve(oa::testing::Dump({Mailbox(1)}, {oa::testing::Fault("Folder.Delete", "jdoe-hh")}));
  auto s = Logon();
  auto hh = Handhelds(*s);
  ASSERT_TRUE(hh);
  const std::string hhEntryID = hh->EntryID();
  auto info = s->Stores()->DefaultStore()->RootFolder()->Folders()->Item("ondavelAgentInfo");
  ASSERT_TRUE(info);
  const std::string agentEntryID = info->Items()->GetFirst()->EntryID();
  Err().Clear();
  hh->Delete();
  EXPECT_TRUE(Err().Pending());
  const int64_t messagesBefore = server->Count("message");
  const int64_t foldersBefore = server->Count("folder");
  EXPECT_TRUE(s->GetFolderFromID(hhEntryID, ""));
  EXPECT_GT(server->Count("folder"), foldersBefore);
  EXPECT_TRUE(s->GetMessageFromID(agentEntryID, ""));
  EXPECT_EQ(server->Count("message"), messagesBefore + 1);
}

}  // namespace
}  // namespace oa::graph::testing
