// The forwarding bases pass every call on to their target, arguments and results unchanged;
// the session wrappers built on them pass on every call they do not change, the ones that send
// held-back deletes and take refused ones included.
#include "mailbox/model/wrappers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/mapi_error.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/model/fault_session.h"
#include "mailbox/model/read_only_session.h"
#include "tests/mailbox/recording_model.h"

namespace oa::testing {
namespace {

using Calls = std::vector<std::string>;

TEST(ForwardingBases, EachPassesEveryCallToItsTarget) {
  RecordingModel m;

  mailbox::SessionWrapper session(m.session);
  session.LogonExchangeMailbox("jdoe", "srv");
  session.LogonExchangeMailboxReadOnly("ro", "srv2");
  EXPECT_TRUE(session.LoggedOn());
  EXPECT_EQ(session.Stores(), m.stores);
  EXPECT_EQ(session.GetDefaultFolder(6), m.folder);
  EXPECT_EQ(session.GetMessageFromID("M1", "S1"), m.mail);
  EXPECT_EQ(session.GetFolderFromID("F1", "S2"), m.folder);
  session.SendHeldBack();
  EXPECT_TRUE(session.CheckRepointReads("M2", *m.folder));
  session.Logoff();
  EXPECT_EQ(m.Take(), (Calls{"Session.LogonExchangeMailbox(jdoe,srv)",
                             "Session.LogonExchangeMailboxReadOnly(ro,srv2)", "Session.LoggedOn",
                             "Session.Stores", "Session.GetDefaultFolder(6)",
                             "Session.GetMessageFromID(M1,S1)", "Session.GetFolderFromID(F1,S2)",
                             "Session.SendHeldBack", "Folder.EntryID",
                             "Session.CheckRepointReads(M2,Folder-id)", "Session.Logoff"}));

  mailbox::StoresWrapper stores(m.stores);
  EXPECT_EQ(stores.DefaultStore(), m.store);
  EXPECT_EQ(stores.FindExchangePublicFoldersStore(), m.store);
  mailbox::StoreWrapper store(m.store);
  EXPECT_EQ(store.EntryID(), "store-id");
  EXPECT_EQ(store.Name(), "Mailbox");
  EXPECT_EQ(store.RootFolder(), m.folder);
  EXPECT_EQ(store.IPMRootFolder(), m.folder);
  EXPECT_TRUE(store.CompareEntryIDs("A", "B"));
  EXPECT_EQ(m.Take(), (Calls{"Stores.DefaultStore", "Stores.FindExchangePublicFoldersStore",
                             "Store.EntryID", "Store.Name", "Store.RootFolder",
                             "Store.IPMRootFolder", "Store.CompareEntryIDs(A,B)"}));

  mailbox::FolderWrapper folder(m.folder);
  EXPECT_EQ(folder.EntryID(), "Folder-id");
  EXPECT_EQ(folder.GetIDsFromNames("G", "N"), 0x8001);
  EXPECT_EQ(folder.LookupIDsFromNames("G", "N"), 0x8002);
  EXPECT_EQ(folder.Fields(0x3001001E), Variant::String("value"));
  EXPECT_TRUE(folder.SetFields(0x3001001E, Variant::String("x")));
  EXPECT_TRUE(folder.Save());
  EXPECT_EQ(folder.Name(), "name");
  EXPECT_TRUE(folder.SetName("n2"));
  EXPECT_EQ(folder.Parent(), m.folder);
  EXPECT_EQ(folder.Store(), m.store);
  EXPECT_EQ(folder.Items(), m.items);
  EXPECT_EQ(folder.Folders(), m.folders);
  folder.Delete();
  EXPECT_EQ(m.Take(), (Calls{"Folder.EntryID", "Folder.GetIDsFromNames(G,N)",
                             "Folder.LookupIDsFromNames(G,N)", "Folder.Fields(805371934)",
                             "Folder.SetFields(805371934,x)", "Folder.Save", "Folder.Name",
                             "Folder.SetName(n2)", "Folder.Parent", "Folder.Store", "Folder.Items",
                             "Folder.Folders", "Folder.Delete"}));

  mailbox::FoldersWrapper folders(m.folders);
  EXPECT_EQ(folders.Count(), 2);
  EXPECT_EQ(folders.Item(1), m.folder);
  EXPECT_EQ(folders.Item("Handhelds"), m.folder);
  EXPECT_EQ(folders.Add("New"), m.folder);
  mailbox::ItemsWrapper items(m.items);
  EXPECT_EQ(items.Count(), 11);
  EXPECT_EQ(items.Item(4), m.mail);
  EXPECT_EQ(items.GetFirst(), m.mail);
  EXPECT_EQ(items.MAPITable(), nullptr);
  EXPECT_EQ(items.TakeRefusedDeletes(true), 3);
  EXPECT_EQ(items.TakeRefusedDeletes(false), 3);
  EXPECT_EQ(m.Take(), (Calls{"Folders.Count", "Folders.Item(1)", "Folders.Item(Handhelds)",
                             "Folders.Add(New)", "Items.Count", "Items.Item(4)", "Items.GetFirst",
                             "Items.MAPITable", "Items.TakeRefusedDeletes(true)",
                             "Items.TakeRefusedDeletes(false)"}));

  mailbox::MailWrapper mail(m.mail);
  EXPECT_EQ(mail.EntryID(), "Mail-id");
  EXPECT_EQ(mail.GetIDsFromNames("G", "N"), 0x8001);
  EXPECT_EQ(mail.LookupIDsFromNames("G", "N"), 0x8002);
  EXPECT_EQ(mail.Fields(0x0037001E), Variant::String("value"));
  EXPECT_TRUE(mail.SetFields(0x0037001E, Variant::String("y")));
  EXPECT_TRUE(mail.Save());
  EXPECT_EQ(mail.MessageClass(), "IPM.Note");
  EXPECT_EQ(mail.Subject(), "subject");
  EXPECT_EQ(mail.CreationTime(), Variant());
  EXPECT_EQ(mail.Store(), m.store);
  mail.Delete(2);
  EXPECT_EQ(m.Take(), (Calls{"Mail.EntryID", "Mail.GetIDsFromNames(G,N)",
                             "Mail.LookupIDsFromNames(G,N)", "Mail.Fields(3604510)",
                             "Mail.SetFields(3604510,y)", "Mail.Save", "Mail.MessageClass",
                             "Mail.Subject", "Mail.CreationTime", "Mail.Store", "Mail.Delete(2)"}));
}

// A router before its first logon.
TEST(ForwardingBases, ASessionWithoutATargetIsOneNotLoggedOn) {
  mailbox::SessionWrapper session(nullptr);
  Err().Clear();
  EXPECT_FALSE(session.LoggedOn());
  session.Logoff();
  session.SendHeldBack();
  EXPECT_FALSE(Err().Pending());
  EXPECT_EQ(session.Stores(), nullptr);
  EXPECT_EQ(Err().Number(), mailbox::ConstMAPI::MAPI_E_NOT_INITIALIZED);
  EXPECT_EQ(Err().Description(), "The session is not logged on.");
  Err().Clear();
  RecordingModel m;
  EXPECT_FALSE(session.CheckRepointReads("M", *m.folder));
  EXPECT_EQ(Err().Number(), mailbox::ConstMAPI::MAPI_E_NOT_INITIALIZED);
  Err().Clear();
  EXPECT_EQ(session.GetFolderFromID("F", ""), nullptr);
  EXPECT_TRUE(Err().Pending());
  Err().Clear();
}

bool Has(const Calls& calls, const std::string& call) {
  return std::find(calls.begin(), calls.end(), call) != calls.end();
}

std::string Joined(const Calls& calls) {
  std::string out;
  for (const std::string& c : calls) out += (out.empty() ? "" : ", ") + c;
  return out;
}

// The calls a wrapper has no reason to change reach the session it wraps, through the session
// and through the objects it hands out.
void ExpectPassedOn(RecordingModel& m, mailbox::RDOSession& session) {
  m.Take();
  EXPECT_TRUE(session.LoggedOn());
  session.SendHeldBack();
  auto items = session.GetFolderFromID("F", "")->Items();
  ASSERT_NE(items, nullptr);
  EXPECT_NE(items, m.items) << "the items are handed out wrapped";
  EXPECT_EQ(items->TakeRefusedDeletes(true), 3);
  EXPECT_EQ(items->TakeRefusedDeletes(false), 3);
  const Calls calls = m.Take();
  for (const char* call : {"Session.LoggedOn", "Session.SendHeldBack",
                           "Items.TakeRefusedDeletes(true)", "Items.TakeRefusedDeletes(false)"}) {
    EXPECT_TRUE(Has(calls, call)) << call << " not among: " << Joined(calls);
  }
}

TEST(SessionWrappers, TheReadOnlySessionPassesOnWhatWritesNothing) {
  RecordingModel m;
  auto session = mailbox::NewReadOnlySession(m.session, std::make_shared<mailbox::RefusedCalls>());
  session->LogonExchangeMailbox("jdoe", "srv");
  EXPECT_EQ(m.Take(), Calls{"Session.LogonExchangeMailboxReadOnly(jdoe,srv)"});
  ExpectPassedOn(m, *session);
  EXPECT_TRUE(session->CheckRepointReads("M", *m.folder));
  EXPECT_EQ(m.Take(), (Calls{"Folder.EntryID", "Session.CheckRepointReads(M,Folder-id)"}));
}

// Every call that hands out an object hands out a guarded one: none of them lets a write through.
TEST(SessionWrappers, TheReadOnlySessionHandsOutNoObjectThatWrites) {
  RecordingModel m;
  auto refused = std::make_shared<mailbox::RefusedCalls>();
  auto session = mailbox::NewReadOnlySession(m.session, refused);
  session->LogonExchangeMailbox("jdoe", "srv");
  auto stores = session->Stores();
  auto folder = session->GetFolderFromID("F", "");
  auto mail = session->GetMessageFromID("M", "");
  const std::vector<std::shared_ptr<mailbox::RDOStore>> storesHandedOut = {
      stores->DefaultStore(), stores->FindExchangePublicFoldersStore(), folder->Store(),
      mail->Store()};
  std::vector<std::shared_ptr<mailbox::RDOFolder>> folders = {
      folder, session->GetDefaultFolder(6), folder->Parent(), folder->Folders()->Item(1),
      folder->Folders()->Item("x")};
  for (const auto& store : storesHandedOut) {
    folders.push_back(store->RootFolder());
    folders.push_back(store->IPMRootFolder());
  }
  const std::vector<std::shared_ptr<mailbox::RDOMail>> mails = {mail, folder->Items()->Item(1),
                                                                folder->Items()->GetFirst()};
  m.Take();
  for (const auto& f : folders) {
    f->Delete();
    f->SetName("n");
    f->SetFields(0x3001001E, Variant::String("n"));
    f->Save();
    f->Folders()->Add("n");
  }
  for (const auto& mm : mails) {
    mm->Delete(2);
    mm->SetFields(0x0037001E, Variant::String("s"));
    mm->Save();
  }
  Err().Clear();
  for (const std::string& call : m.Take()) {
    for (const char* write : {"Delete", "SetName", "SetFields", "Save", "Add("})
      EXPECT_EQ(call.find(write), std::string::npos) << call;
  }
  EXPECT_EQ(refused->Count(), folders.size() * 5 + mails.size() * 3);
}

TEST(SessionWrappers, TheFaultSessionPassesOnWhatNoFaultAimsAt) {
  RecordingModel m;
  auto ledger = std::make_shared<mailbox::MemoryFaultLedger>();
  auto session = mailbox::NewFaultSession(m.session, [ledger] { return ledger; });
  session->LogonExchangeMailbox("jdoe", "srv");
  ExpectPassedOn(m, *session);
  // The repoint check is made through the fault session's own calls, which faults can meet.
  EXPECT_TRUE(session->CheckRepointReads("M", *m.folder));
  const Calls calls = m.Take();
  EXPECT_TRUE(Has(calls, "Session.GetMessageFromID(M,)")) << Joined(calls);
}

}  // namespace
}  // namespace oa::testing
