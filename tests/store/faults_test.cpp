// Declared faults: each effect, after and times, and counts that carry on across sessions and
// processes because they live in the store file.
#include "mailbox/model/fault_session.h"
#include "tests/store/store_test_support.h"

namespace oa::store::testing {
namespace {

Json FaultDump(Json faults) {
  Json top = {{"name", "Top of Information Store"},
              {"ipmRoot", true},
              {"folders", Json::array({{{"name", "Handhelds"}, {"key", "hh"}, {"items", 4}}})}};
  return Dump(Json::array({Mailbox("jdoe", Json::array({top}))}), std::move(faults));
}

class FaultsTest : public StoreTest {
 protected:
  std::shared_ptr<mb::RDOFolder> Handhelds(const std::shared_ptr<mb::RDOSession>& s) {
    return s->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds");
  }
};

TEST_F(FaultsTest, EffectNoneFailsAndChangesNothing) {
  Import(FaultDump(Json::array({{{"op", "Folder.Delete"},
                                 {"target", "hh"},
                                 {"error", "0x80040111"},
                                 {"description", "No deleting today"}}})));
  auto s = Logon();
  auto hh = Handhelds(s);
  const std::string id = hh->EntryID();
  hh->Delete();
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_LOGON_FAILED);
  EXPECT_EQ(oa::Err().Description(), "No deleting today");
  EXPECT_TRUE(s->GetFolderFromID(id));
  // Other folders are not its target.
  oa::Err().Clear();
  auto other = s->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Add("Other");
  other->Delete();
  EXPECT_FALSE(oa::Err().Pending());
}

TEST_F(FaultsTest, EffectAppliedDoesTheWorkAndReports) {
  Import(FaultDump(Json::array({{{"op", "Folder.Delete"},
                                 {"target", "hh"},
                                 {"error", "0x80004005"},
                                 {"effect", "applied"}}})));
  auto s = Logon();
  auto hh = Handhelds(s);
  const std::string id = hh->EntryID();
  hh->Delete();
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_CALL_FAILED);
  EXPECT_EQ(oa::Err().Description(), "Unspecified error");  // the store's own text
  EXPECT_EQ(s->GetFolderFromID(id), nullptr);
}

TEST_F(FaultsTest, EffectSilentReportsSuccessAndChangesNothing) {
  Import(FaultDump(Json::array({{{"op", "Folder.Delete"}, {"effect", "silent"}},
                                {{"op", "Mail.Delete"}, {"effect", "silent"}}})));
  auto s = Logon();
  auto hh = Handhelds(s);
  hh->Delete();
  EXPECT_FALSE(oa::Err().Pending());
  EXPECT_TRUE(s->GetFolderFromID(hh->EntryID()));
  hh->Items()->GetFirst()->Delete(C::dfHardDelete);
  EXPECT_FALSE(oa::Err().Pending());
  EXPECT_EQ(hh->Items()->Count(), 4);
}

TEST_F(FaultsTest, AfterAndTimesCountMatchingCalls) {
  Import(FaultDump(Json::array({{{"op", "Items.Count"},
                                 {"target", "hh"},
                                 {"error", "0x8004010F"},
                                 {"after", 1},
                                 {"times", 2}}})));
  auto s = Logon();
  auto items = Handhelds(s)->Items();
  std::vector<int32_t> counts;
  std::vector<bool> failed;
  for (int i = 0; i < 4; ++i) {
    oa::Err().Clear();
    counts.push_back(items->Count());
    failed.push_back(oa::Err().Pending());
  }
  EXPECT_EQ(counts, (std::vector<int32_t>{4, 0, 0, 4}));
  EXPECT_EQ(failed, (std::vector<bool>{false, true, true, false}));
}

TEST_F(FaultsTest, CountsCarryOnAcrossSessionsAndIntoTheExport) {
  Import(FaultDump(Json::array(
      {{{"op", "Mail.Delete"}, {"target", "hh"}, {"error", "0x80004005"}, {"times", 3}}})));
  {
    auto s = Logon();
    // Mail.Delete's target is the message; a folder target never matches it.
    Handhelds(s)->Items()->GetFirst()->Delete(0);
    EXPECT_FALSE(oa::Err().Pending());
  }
  Import(FaultDump(Json::array({{{"op", "Mail.Delete"}, {"error", "0x80004005"}, {"times", 3}}})));
  {
    auto s = Logon();
    auto items = Handhelds(s)->Items();
    items->GetFirst()->Delete(0);
    items->GetFirst()->Delete(0);
    EXPECT_EQ(items->Count(), 4);
  }
  const Json j = ExportJson();
  ASSERT_EQ(j["faults"].size(), 1u);
  EXPECT_EQ(j["faults"][0]["times"], 1);
  auto s = Logon();
  auto items = Handhelds(s)->Items();
  items->GetFirst()->Delete(0);
  EXPECT_EQ(items->Count(), 4);
  oa::Err().Clear();
  items->GetFirst()->Delete(0);  // spent
  EXPECT_FALSE(oa::Err().Pending());
  EXPECT_EQ(items->Count(), 3);
}

TEST_F(FaultsTest, CompareEntryIdsAnswerCanBeForced) {
  Import(FaultDump(
      Json::array({{{"op", "Store.CompareEntryIDs"}, {"target", "hh"}, {"result", false}}})));
  auto s = Logon();
  auto hh = Handhelds(s);
  auto store = hh->Store();
  EXPECT_FALSE(store->CompareEntryIDs(hh->EntryID(), hh->EntryID()));
  EXPECT_FALSE(oa::Err().Pending());
  auto top = s->Stores()->DefaultStore()->IPMRootFolder();
  EXPECT_TRUE(store->CompareEntryIDs(top->EntryID(), top->EntryID()));
}

TEST_F(FaultsTest, LogonFaults) {
  Import(FaultDump(Json::array({{{"op", "Session.LogonExchangeMailbox"},
                                 {"target", "jdoe"},
                                 {"effect", "silent"},
                                 {"times", 1}},
                                {{"op", "Session.LogonExchangeMailbox"},
                                 {"error", "0x80040115"},
                                 {"description", "Network down"},
                                 {"after", 1},
                                 {"times", 1}}})));
  auto s = NewEmbeddedSession();
  oa::Err().Clear();
  s->LogonExchangeMailbox("jdoe", path);
  EXPECT_FALSE(s->LoggedOn());
  EXPECT_FALSE(oa::Err().Pending());
  s->LogonExchangeMailbox("jdoe", path);
  EXPECT_FALSE(s->LoggedOn());
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_NETWORK_ERROR);
  EXPECT_EQ(oa::Err().Description(), "Network down");
  oa::Err().Clear();
  s->LogonExchangeMailbox("jdoe", path);
  EXPECT_TRUE(s->LoggedOn());
}

TEST_F(FaultsTest, AnyLedgerInFrontOfThePlainStoreAimsByEntryId) {
  Import(FaultDump(Json::array()));
  auto ledger = std::make_shared<mb::MemoryFaultLedger>();
  auto plain = NewPlainEmbeddedSession();
  auto s = mb::NewFaultSession(plain, [ledger] { return ledger; });
  s->LogonExchangeMailbox("jdoe", path);
  ASSERT_TRUE(s->LoggedOn());
  auto hh = Handhelds(s);
  std::string id = hh->EntryID();
  for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  mb::FaultRule applied;
  applied.op = mb::FaultOp::FolderDelete;
  applied.target = id;  // entry IDs in either case
  applied.effect = mb::FaultOutcome::Effect::Applied;
  applied.description = "Deleted, but said no";
  ledger->Add(applied);
  mb::FaultRule silent;
  silent.op = mb::FaultOp::MailSubject;
  silent.effect = mb::FaultOutcome::Effect::Silent;
  silent.after = 1;
  ledger->Add(silent);

  auto item = hh->Items()->GetFirst();
  EXPECT_EQ(item->Subject(), "Item 1");
  EXPECT_EQ(item->Subject(), "");
  EXPECT_FALSE(oa::Err().Pending());
  // Another folder is no target; the plain session underneath knows of no fault.
  auto other = s->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Add("Other");
  other->Delete();
  EXPECT_FALSE(oa::Err().Pending());
  hh->Delete();
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_CALL_FAILED);
  EXPECT_EQ(oa::Err().Description(), "Deleted, but said no");
  oa::Err().Clear();
  EXPECT_EQ(plain->GetFolderFromID(hh->EntryID()), nullptr);
  EXPECT_EQ(ledger->Seen(0), 1);
  EXPECT_EQ(ledger->Seen(1), 2);
}

}  // namespace
}  // namespace oa::store::testing
