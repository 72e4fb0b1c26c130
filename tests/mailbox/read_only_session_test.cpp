// The dry run's guard on a real store file: reading calls go through, every write is refused
// with MAPI_E_NO_ACCESS and recorded, and the store is the same afterwards.
#include "mailbox/model/read_only_session.h"

#include <gtest/gtest.h>

#include "tests/mailbox/store_fixture.h"

namespace oa::testing {

namespace {

using mailbox::ConstMAPI::MAPI_E_NO_ACCESS;

const char* kPublicStrings = "{00020329-0000-0000-C000-000000000046}";

class ReadOnlySession : public StoreRun {};

TEST_F(ReadOnlySession, RefusesAndRecordsEveryWriteAndLetsReadsThrough) {
  Import(GuardedDump());
  const Json before = Export();
  auto refused = std::make_shared<mailbox::RefusedCalls>();
  auto session = mailbox::NewReadOnlySession(store::NewEmbeddedSession(), refused);
  session->LogonExchangeMailbox("jdoe", storePath);
  ASSERT_TRUE(session->LoggedOn());

  const std::string hhID = EntryIDOf("hh"), agentID = EntryIDOf("agent");
  auto hh = session->GetFolderFromID(hhID);
  auto agent = session->GetMessageFromID(agentID);
  ASSERT_TRUE(hh && agent);
  // Reads.
  EXPECT_EQ(hh->Items()->Count(), 3);
  EXPECT_EQ(agent->Subject(), "ondavelAgent");
  const int32_t hhEntryTag = agent->GetIDsFromNames(kPublicStrings, "HHEntryID");
  EXPECT_NE(hhEntryTag, 0) << "a name that has its ID is found";
  EXPECT_EQ(agent->Fields(hhEntryTag | 0x1E).ToText(), hhID);
  // A name without an ID gets none: asking is no write.
  Err().Clear();
  EXPECT_EQ(agent->GetIDsFromNames(kPublicStrings, "NeverSeenBefore"), 0);
  EXPECT_FALSE(Err().Pending());

  // Writes: each fails, raises MAPI_E_NO_ACCESS and is recorded with its object.
  auto top = session->Stores()->DefaultStore()->IPMRootFolder();
  std::vector<std::function<void()>> writes = {
      [&] { hh->Delete(); },
      [&] { hh->SetName("Handhelds -1"); },
      [&] { hh->Save(); },
      [&] { hh->SetFields(0x3001001E, oa::Variant::String("x")); },
      [&] { top->Folders()->Add("Handhelds 2"); },
      [&] { agent->SetFields(hhEntryTag | 0x1E, oa::Variant::String("00")); },
      [&] { agent->Save(); },
      [&] { agent->Delete(2); },
      [&] { hh->Items()->GetFirst()->Delete(2); },
  };
  for (size_t i = 0; i < writes.size(); ++i) {
    Err().Clear();
    writes[i]();
    EXPECT_EQ(Err().Number(), MAPI_E_NO_ACCESS) << "write " << i;
  }
  const std::vector<mailbox::RefusedCall> calls = refused->All();
  ASSERT_EQ(calls.size(), writes.size());
  const std::vector<std::string> ops = {"Folder.Delete", "Folder.Name", "Folder.Save",
                                        "Folder.Fields", "Folders.Add", "Mail.Fields",
                                        "Mail.Save",     "Mail.Delete", "Mail.Delete"};
  for (size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].operation, ops[i]);
  EXPECT_EQ(calls[0].target, hhID);
  EXPECT_EQ(calls[4].target, top->EntryID());
  EXPECT_EQ(calls[7].target, agentID);
  session->Logoff();
  EXPECT_EQ(Export(), before);
}

}  // namespace
}  // namespace oa::testing
