// Properties, named-property IDs and the contents table with its restrictions.
#include "base/date.h"
#include "tests/store/store_test_support.h"

namespace oa::store::testing {
namespace {

Json Msg(const std::string& cls, const std::string& subject, const std::string& created) {
  return {{"class", cls}, {"subject", subject}, {"created", created}};
}

Json TableDump() {
  Json info = {
      {"name", "ondavelAgentInfo"},
      {"messages", Json::array({Msg("IPM.Note", "ondavelAgent", "2026-01-01T00:00:00Z"),
                                Msg("ONDAVEL.AGENT", "OndavelAgent", "2026-01-02T00:00:00Z"),
                                Msg("ondavel.Agent", "other", "2026-01-03T00:00:00Z"),
                                Msg("ondavel.Agent", "ondavelAgent", "2026-01-04T00:00:00.5Z")})}};
  return Dump(Json::array({Mailbox("jdoe", Json::array({info})), Mailbox("asmith")}));
}

class PropsTest : public StoreTest {
 protected:
  std::shared_ptr<mb::RDOFolder> Info(const std::shared_ptr<mb::RDOSession>& s) {
    return s->Stores()->DefaultStore()->RootFolder()->Folders()->Item("ondavelAgentInfo");
  }

  // Windows removes no file that is still open: the session goes before the directory does.
  void TearDown() override {
    session.reset();
    StoreTest::TearDown();
  }

  // Subjects of the rows a restriction finds, in table order.
  std::shared_ptr<mb::RDOSession> session;

  std::vector<std::string> Find(const std::shared_ptr<mb::RDOFolder>& folder, int32_t fuzzy,
                                const std::string& cls, const std::string& subject) {
    auto table = folder->Items()->MAPITable();
    EXPECT_TRUE(
        table->SetColumns({C::PR_LONGTERM_ENTRYID_FROM_TABLE, C::PR_SUBJECT, C::PR_MESSAGE_CLASS}));
    auto filter = table->Filter();
    auto content = [&](std::shared_ptr<mb::RDORestriction> r, int32_t tag, const std::string& v) {
      r->SetProp(oa::Variant::String(v));
      r->SetFuzzyLevel(fuzzy);
      r->SetPropTag(tag);
    };
    if (!cls.empty() && !subject.empty()) {
      auto a = filter->SetKind(C::RES_AND);
      content(a->Add(C::RES_CONTENT), C::PR_SUBJECT, subject);
      content(a->Add(C::RES_CONTENT), C::PR_MESSAGE_CLASS, cls);
    } else {
      content(filter->SetKind(C::RES_CONTENT), cls.empty() ? C::PR_SUBJECT : C::PR_MESSAGE_CLASS,
              cls.empty() ? subject : cls);
    }
    std::vector<std::string> found;
    for (bool ok = filter->FindFirst(true); ok; ok = filter->FindNext(true)) {
      const oa::VariantArray row = table->GetRow();
      EXPECT_EQ(row.size(), 3u);
      if (row.size() != 3) break;
      // The entry ID column is binary: an array of bytes that opens the message.
      EXPECT_EQ(oa::TypeName(row[0]), "Variant()");
      std::string hex;
      for (const auto& b : row[0].AsArray()) {
        char buf[3];
        std::snprintf(buf, sizeof buf, "%02X", b.AsByte());
        hex += buf;
      }
      EXPECT_EQ(session->GetMessageFromID(hex)->Subject(), row[1].AsString());
      found.push_back(row[1].AsString());
    }
    filter->Reset();
    return found;
  }
};

TEST_F(PropsTest, RestrictionsIgnoreCaseOnlyWhenAsked) {
  Import(TableDump());
  auto s = session = Logon();
  auto info = Info(s);
  const int32_t ignore = C::FL_FULLSTRING | C::FL_IGNORECASE;
  EXPECT_EQ(Find(info, ignore, "ondavel.Agent", "ondavelAgent"),
            (std::vector<std::string>{"OndavelAgent", "ondavelAgent"}));
  EXPECT_EQ(Find(info, C::FL_FULLSTRING, "ondavel.Agent", "ondavelAgent"),
            (std::vector<std::string>{"ondavelAgent"}));
  EXPECT_EQ(Find(info, ignore, "ondavel.agent", ""),
            (std::vector<std::string>{"OndavelAgent", "other", "ondavelAgent"}));
  EXPECT_EQ(Find(info, ignore, "", "ONDAVELAGENT"),
            (std::vector<std::string>{"ondavelAgent", "OndavelAgent", "ondavelAgent"}));
  EXPECT_EQ(Find(info, ignore, "ondavel", ""), std::vector<std::string>{});
  EXPECT_EQ(Find(info, C::FL_PREFIX | C::FL_IGNORECASE, "ondavel", ""),
            (std::vector<std::string>{"OndavelAgent", "other", "ondavelAgent"}));
}

TEST_F(PropsTest, TableRowsCarryEntryIdsThatOpenTheMessages) {
  Import(TableDump());
  auto s = Logon();
  auto info = Info(s);
  auto table = info->Items()->MAPITable();
  table->SetColumns({C::PR_LONGTERM_ENTRYID_FROM_TABLE, C::PR_CREATION_TIME});
  auto filter = table->Filter();
  ASSERT_TRUE(filter->FindFirst(true));
  ASSERT_TRUE(filter->FindNext(true));
  const oa::VariantArray row = table->GetRow();
  std::vector<uint8_t> bytes;
  for (const auto& b : row[0].AsArray()) bytes.push_back(b.AsByte());
  std::string hex;
  for (uint8_t b : bytes) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02X", b);
    hex += buf;
  }
  EXPECT_EQ(hex, info->Items()->Item(2)->EntryID());
  EXPECT_EQ(s->GetMessageFromID(hex)->Subject(), "OndavelAgent");
  EXPECT_EQ(row[1], info->Items()->Item(2)->CreationTime());
  EXPECT_FALSE(filter->FindNext(true) && filter->FindNext(true) && filter->FindNext(true));
  EXPECT_TRUE(table->GetRow().empty());
}

TEST_F(PropsTest, CreationTimeIsALocalDateWithMilliseconds) {
  Import(TableDump());
  auto s = Logon();
  const oa::Variant t = Info(s)->Items()->Item(4)->CreationTime();
  ASSERT_EQ(oa::TypeName(t), "Date");
  EXPECT_EQ(oa::UnixMillisFromDate(t.AsDate()), 1767484800500);
  EXPECT_LT(Info(s)->Items()->Item(3)->CreationTime().AsDate(), t.AsDate());
}

TEST_F(PropsTest, NamedPropertyIdsAreStablePerStore) {
  Import(TableDump());
  int32_t hhEntry = 0, hhPath = 0;
  {
    auto s = Logon();
    auto mail = Info(s)->Items()->GetFirst();
    hhEntry = mail->GetIDsFromNames(C::PS_PUBLIC_STRINGS, "HHEntryID");
    hhPath = mail->GetIDsFromNames("{00020329-0000-0000-c000-000000000046}", "HHPath");
    EXPECT_EQ(static_cast<uint32_t>(hhEntry), 0x80000000u);
    EXPECT_EQ(static_cast<uint32_t>(hhPath), 0x80010000u);
    EXPECT_EQ(Info(s)->GetIDsFromNames(C::PS_PUBLIC_STRINGS, "HHEntryID"), hhEntry);
    EXPECT_EQ(mail->GetIDsFromNames("not a guid", "HHPath"), 0);
    EXPECT_EQ(oa::Err().Number(), C::MAPI_E_INVALID_PARAMETER);
  }
  auto s = Logon();
  auto mail = Info(s)->Items()->Item(2);
  EXPECT_EQ(mail->GetIDsFromNames(C::PS_PUBLIC_STRINGS, "HHPath"), hhPath);
  EXPECT_EQ(mail->GetIDsFromNames(C::PS_PUBLIC_STRINGS, "HHEntryID"), hhEntry);
  // Another store keeps its own map.
  auto other = Logon("asmith");
  auto top = other->Stores()->DefaultStore()->IPMRootFolder();
  EXPECT_EQ(static_cast<uint32_t>(top->GetIDsFromNames(C::PS_PUBLIC_STRINGS, "HHPath")),
            0x80000000u);
}

TEST_F(PropsTest, SetFieldsAndSave) {
  Import(TableDump());
  auto s = Logon();
  auto mail = Info(s)->Items()->GetFirst();
  const int32_t tag = mail->GetIDsFromNames(C::PS_PUBLIC_STRINGS, "HHEntryID") | C::PT_STRING8;
  EXPECT_TRUE(mail->SetFields(tag, oa::Variant::String("ABC")));
  EXPECT_TRUE(mail->SetFields(C::PR_SUBJECT, oa::Variant::String("renamed")));
  EXPECT_FALSE(mail->SetFields(tag, oa::Variant::Long(3)));
  EXPECT_EQ(oa::Err().Number(), C::MAPI_E_INVALID_PARAMETER);
  EXPECT_FALSE(mail->SetFields(C::PR_ENTRYID, oa::Variant::Binary({1})));
  // Not written before Save.
  auto again = s->GetMessageFromID(mail->EntryID());
  EXPECT_EQ(again->Fields(tag), oa::Variant());
  EXPECT_TRUE(mail->Save());
  EXPECT_EQ(again->Fields(tag), oa::Variant::String("ABC"));
  EXPECT_EQ(again->Subject(), "renamed");
  EXPECT_EQ(again->Fields((tag & ~0xFFFF) | C::PT_UNICODE), oa::Variant::String("ABC"));
}

}  // namespace
}  // namespace oa::store::testing
