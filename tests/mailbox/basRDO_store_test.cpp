// The property functions on real store objects: named-property tags and the filtered table.
#include <gtest/gtest.h>

#include "mailbox/basRDO.h"
#include "mailbox/model/const_mapi.h"
#include "tests/mailbox/store_fixture.h"

namespace oa::testing {
namespace {

namespace ConstMAPI = mailbox::ConstMAPI;

class Properties : public StoreRun {
 protected:
  void SetUp() override {
    StoreRun::SetUp();
    // The run's lookup would resolve the matching messages as duplicates, so they live in a
    // folder of their own beside the agent-info folder.
    Json search{
        {"name", "Search"},
        {"messages",
         Json::array(
             {Message("agent", "2026-03-01T09:00:00Z", "ondavelAgent", "ondavel.Agent",
                      {{"HHEntryID", "0A0B"}, {"HHPath", "\\Handhelds"}}),
              Message("cased", "2026-03-01T09:00:00Z", "ONDAVELAGENT", "ondavel.Agent"),
              Message("other", "2026-03-01T09:00:00Z", "ondavelAgent", "IPM.Note"),
              Message("padded", "2026-03-01T09:00:00Z", "ondavelAgent x", "ondavel.Agent")})}};
    Import(Dump(Json::array({MailboxStore(
        "jdoe",
        Json::array({AgentInfoFolder(Json::array({Message("info-agent", "2026-03-01T09:00:00Z")})),
                     search}))})));
    ASSERT_TRUE(Connect("jdoe"));
    ASSERT_TRUE(host.run().agentInfoFolder);
    folder = host.run().agentInfoFolder->Parent()->Folders()->Item(std::string("Search"));
    ASSERT_TRUE(folder);
  }
  std::shared_ptr<mailbox::RDOFolder> folder;
};

TEST_F(Properties, NamedPropertyTagsReadTheAgentValues) {
  std::shared_ptr<mailbox::RDOMail> mail = host.run().RDO->GetMessageFromID(EntryIDOf("agent"));
  ASSERT_TRUE(mail);
  const int32_t tag =
      mailbox::GetNamedPropTag(mail.get(), Variant::String("HHEntryID"), ConstMAPI::PT_STRING8, "");
  EXPECT_EQ(tag & 0xFFFF, 0x001E);
  EXPECT_LT(tag, 0) << "named property IDs are 0x8000 and above";
  EXPECT_EQ(tag, mailbox::GetNamedPropTag(mail.get(), Variant::String("HHEntryID"),
                                          ConstMAPI::PT_STRING8, ConstMAPI::PS_PUBLIC_STRINGS));
  EXPECT_EQ(mail->Fields(tag), Variant::String("0A0B"));

  const int32_t pathTag =
      mailbox::GetNamedPropTag(mail.get(), Variant::String("HHPath"), ConstMAPI::PT_STRING8, "");
  EXPECT_NE(pathTag, tag);
  EXPECT_EQ(mail->Fields(pathTag), Variant::String("\\Handhelds"));
}

TEST_F(Properties, FindByClassAndSubjectIgnoresCase) {
  const std::vector<std::string> ids =
      mailbox::FindMessageIDs(folder, "ondavel.agent", "OndavelAgent");
  EXPECT_EQ(ids, (std::vector<std::string>{EntryIDOf("agent"), EntryIDOf("cased")}));
}

TEST_F(Properties, FindByOneCriterion) {
  EXPECT_EQ(mailbox::FindMessageIDs(folder, "IPM.Note", ""),
            (std::vector<std::string>{EntryIDOf("other")}));
  EXPECT_EQ(mailbox::FindMessageIDs(folder, "", "ondavelagent x"),
            (std::vector<std::string>{EntryIDOf("padded")}));
  EXPECT_EQ(mailbox::FindMessageIDs(folder, "", "ondavelAgent").size(), 3u);
}

TEST_F(Properties, FindWithoutCriteriaOrMatchesGivesNothing) {
  EXPECT_TRUE(mailbox::FindMessageIDs(folder, "", "").empty());
  EXPECT_TRUE(mailbox::FindMessageIDs(folder, "IPM.Contact", "ondavelAgent").empty());
}

TEST_F(Properties, FindLeavesNoErrorPending) {
  oa::Err().Clear();
  mailbox::FindMessageIDs(folder, "ondavel.Agent", "ondavelAgent");
  mailbox::GetNamedPropTag(nullptr, Variant::String("HHPath"), ConstMAPI::PT_STRING8, "");
  EXPECT_FALSE(oa::Err().Pending());
}

}  // namespace
}  // namespace oa::testing
