// The object model on real store files: logon, stores, folders, items, entry IDs.
#include "tests/store/store_test_support.h"

namespace oa::store::testing {
namespace {

Json Folder(const std::string& name, Json extra = Json::object()) {
  Json f = {{"name", name}};
  f.update(extra);
  return f;
}

Json TwoMailboxesAndPublic() {
  return Dump(Json::array(
      {Mailbox("jdoe",
               Json::array(
                   {Folder("Top of Information Store",
                           {{"ipmRoot", true},
                            {"folders",
                             Json::array({Folder("Handhelds", {{"key", "hh"}, {"items", 3}})})}}),
                    Folder("ondavelAgentInfo", {{"key", "info"}})})),
       Mailbox("asmith"),
       Json{{"kind", "public"},
            {"displayName", "Public Folders"},
            {"root",
             {{"folders",
               Json::array({Folder(
                   "IPM_SUBTREE",
                   {{"allPublicFolders", true},
                    {"folders", Json::array({Folder("Handhelds",
                                                    {{"key", "pubhh"}, {"items", 2}})})}})})}}}}}));
}

class SessionTest : public StoreTest {};

TEST_F(SessionTest, LogonByAliasOrAddressInAnyCase) {
  Import(TwoMailboxesAndPublic());
  for (const char* who : {"jdoe", "JDOE", "JDoe@Example.COM"}) {
    auto s = NewEmbeddedSession();
    s->LogonExchangeMailbox(who, path);
    ASSERT_TRUE(s->LoggedOn()) << who << ": " << oa::Err().Description();
    EXPECT_EQ(s->Stores()->DefaultStore()->Name(), "Mailbox - jdoe");
  }
  auto s = Logon("asmith@example.com");
  EXPECT_EQ(s->Stores()->DefaultStore()->Name(), "Mailbox - asmith");
}

TEST_F(SessionTest, ServerNameFoundInStoreDirectory) {
  setenv("OA_STORE_DIR", dir.c_str(), 1);
  const std::string storeDirectory = StoreDirectoryFromEnvironment();
  Import(TwoMailboxesAndPublic(), dir + "/lab.oastore");
  auto s = NewEmbeddedSession(storeDirectory);
  s->LogonExchangeMailbox("jdoe", "lab");
  EXPECT_TRUE(s->LoggedOn()) << oa::Err().Description();
  s->LogonExchangeMailbox("jdoe", "nosuchserver");
  EXPECT_FALSE(s->LoggedOn());
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_NETWORK_ERROR);
  EXPECT_NE(oa::Err().Description().find("nosuchserver"), std::string::npos);
  unsetenv("OA_STORE_DIR");
}

TEST_F(SessionTest, UnknownMailboxFailsNamingIt) {
  Import(TwoMailboxesAndPublic());
  auto s = NewEmbeddedSession();
  s->LogonExchangeMailbox("nobody", path);
  EXPECT_FALSE(s->LoggedOn());
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_LOGON_FAILED);
  EXPECT_NE(oa::Err().Description().find("nobody"), std::string::npos);
  EXPECT_EQ(s->Stores(), nullptr);
}

TEST_F(SessionTest, TreeRootsAndPublicFolders) {
  Import(TwoMailboxesAndPublic());
  auto s = Logon();
  auto store = s->Stores()->DefaultStore();
  auto root = store->RootFolder();
  ASSERT_TRUE(root);
  EXPECT_EQ(root->Folders()->Count(), 2);
  EXPECT_EQ(store->IPMRootFolder()->Name(), "Top of Information Store");
  auto info = root->Folders()->Item("ONDAVELAGENTINFO");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->Name(), "ondavelAgentInfo");
  EXPECT_EQ(root->Folders()->Item(2)->Name(), "ondavelAgentInfo");
  EXPECT_EQ(root->Folders()->Item("missing"), nullptr);

  auto all = s->GetDefaultFolder(C::olPublicFoldersAllPublicFolders);
  ASSERT_TRUE(all);
  EXPECT_EQ(all->Name(), "IPM_SUBTREE");
  auto pub = s->Stores()->FindExchangePublicFoldersStore();
  ASSERT_TRUE(pub);
  EXPECT_EQ(all->Store()->EntryID(), pub->EntryID());
  EXPECT_EQ(all->Folders()->Item("handhelds")->Items()->Count(), 2);
}

TEST_F(SessionTest, NoPublicStoreMeansNoDefaultFolder18) {
  Import(Dump(Json::array({Mailbox("jdoe")})));
  auto s = Logon();
  EXPECT_EQ(s->GetDefaultFolder(C::olPublicFoldersAllPublicFolders), nullptr);
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_NOT_FOUND);
  EXPECT_EQ(s->Stores()->FindExchangePublicFoldersStore(), nullptr);
  // Import added the IPM root.
  EXPECT_EQ(s->Stores()->DefaultStore()->IPMRootFolder()->Name(), "Top of Information Store");
}

TEST_F(SessionTest, EntryIdsRoundTripAndRouteByStore) {
  Import(TwoMailboxesAndPublic());
  auto s = Logon();
  auto hh = s->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds");
  const std::string id = hh->EntryID();
  EXPECT_EQ(id.size(), 58u);
  EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  std::string lower = id;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto again = s->GetFolderFromID(lower);
  ASSERT_TRUE(again) << oa::Err().Description();
  EXPECT_EQ(again->EntryID(), id);
  EXPECT_TRUE(hh->Store()->CompareEntryIDs(id, lower));

  auto mail = hh->Items()->GetFirst();
  ASSERT_TRUE(mail);
  EXPECT_EQ(s->GetMessageFromID(mail->EntryID())->Subject(), "Item 1");

  // A public folder opens only with the public store's ID.
  auto pubhh = s->GetDefaultFolder(18)->Folders()->Item("Handhelds");
  oa::Err().Clear();
  EXPECT_EQ(s->GetFolderFromID(pubhh->EntryID()), nullptr);
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_NOT_FOUND);
  const std::string pubId = s->Stores()->FindExchangePublicFoldersStore()->EntryID();
  auto viaPublic = s->GetFolderFromID(pubhh->EntryID(), pubId);
  ASSERT_TRUE(viaPublic);
  EXPECT_TRUE(viaPublic->Store()->CompareEntryIDs(viaPublic->EntryID(), pubhh->EntryID()));
  EXPECT_FALSE(viaPublic->Store()->CompareEntryIDs(viaPublic->EntryID(), id));

  oa::Err().Clear();
  EXPECT_EQ(s->GetFolderFromID("00"), nullptr);
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_INVALID_ENTRYID);
  EXPECT_EQ(s->GetMessageFromID(id), nullptr);  // a folder's ID
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_INVALID_ENTRYID);
}

TEST_F(SessionTest, FolderNamesCollideWithoutRegardToCase) {
  Import(TwoMailboxesAndPublic());
  auto s = Logon();
  auto top = s->Stores()->DefaultStore()->IPMRootFolder();
  EXPECT_EQ(top->Folders()->Add("HANDHELDS"), nullptr);
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_COLLISION);
  auto other = top->Folders()->Add("Handhelds -1");
  ASSERT_TRUE(other);
  EXPECT_EQ(top->Folders()->Count(), 2);
  EXPECT_EQ(top->Folders()->Item(2)->Name(), "Handhelds -1");
  oa::Err().Clear();
  EXPECT_TRUE(other->SetName("handhelds"));
  EXPECT_FALSE(other->Save());
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_COLLISION);
  EXPECT_EQ(other->Name(), "Handhelds -1");
  EXPECT_TRUE(other->SetName("HANDHELDS -1"));
  EXPECT_TRUE(other->Save());
  EXPECT_EQ(top->Folders()->Item("handhelds -1")->Name(), "HANDHELDS -1");
}

TEST_F(SessionTest, DeletesAndCounts) {
  Import(TwoMailboxesAndPublic());
  auto s = Logon();
  auto hh = s->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds");
  auto items = hh->Items();
  EXPECT_EQ(items->Count(), 3);
  EXPECT_EQ(items->Item(3)->Subject(), "Item 3");
  auto first = items->GetFirst();
  const std::string firstId = first->EntryID();
  first->Delete(C::dfHardDelete);
  EXPECT_EQ(items->Count(), 2);
  EXPECT_EQ(items->GetFirst()->Subject(), "Item 2");
  EXPECT_EQ(s->GetMessageFromID(firstId), nullptr);
  items->GetFirst()->Delete(0);
  EXPECT_EQ(items->Count(), 1);

  const std::string hhId = hh->EntryID();
  oa::Err().Clear();
  hh->Delete();
  EXPECT_FALSE(oa::Err().Pending()) << oa::Err().Description();
  EXPECT_EQ(s->GetFolderFromID(hhId), nullptr);
  EXPECT_EQ(items->Count(), 0);
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_OBJECT_DELETED);
  // A new folder of the same name gets a new entry ID.
  auto fresh = s->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Add("Handhelds");
  ASSERT_TRUE(fresh);
  EXPECT_NE(fresh->EntryID(), hhId);
}

TEST_F(SessionTest, ItemsByPositionFollowChangesMadeBetweenTheCalls) {
  Json messages = Json::array();
  for (int i = 1; i <= 5; ++i)
    messages.push_back({{"key", "m" + std::to_string(i)}, {"subject", "m" + std::to_string(i)}});
  Import(Dump(Json::array({Mailbox(
      "jdoe",
      Json::array({Folder(
          "Top of Information Store",
          {{"ipmRoot", true},
           {"folders", Json::array({Folder("Handhelds", {{"messages", messages}})})}})}))})));
  auto walker = Logon();
  auto other = Logon();
  auto items =
      walker->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds")->Items();
  auto theirs =
      other->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds")->Items();
  EXPECT_EQ(items->Item(1)->Subject(), "m1");
  auto second = items->Item(2);
  EXPECT_EQ(second->Subject(), "m2");
  // Another connection deletes the first: m2, m3, m4, m5 are left.
  theirs->Item(1)->Delete(C::dfHardDelete);
  EXPECT_EQ(items->Item(3)->Subject(), "m4");
  // This one deletes m2 by its entry ID: m3, m4, m5 are left.
  walker->GetMessageFromID(second->EntryID())->Delete(C::dfHardDelete);
  oa::Err().Clear();
  EXPECT_EQ(items->Item(4), nullptr);
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_NOT_FOUND);
  EXPECT_EQ(items->Item(3)->Subject(), "m5");
}

TEST_F(SessionTest, ObjectsFailAfterLogoff) {
  Import(TwoMailboxesAndPublic());
  auto s = Logon();
  auto root = s->Stores()->DefaultStore()->RootFolder();
  s->Logoff();
  EXPECT_FALSE(s->LoggedOn());
  oa::Err().Clear();
  EXPECT_EQ(root->Name(), "");
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_END_OF_SESSION);
  EXPECT_EQ(root->Folders(), nullptr);
}

}  // namespace
}  // namespace oa::store::testing
