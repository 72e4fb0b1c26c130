// The restriction tree a server-side filter is built from: what the table is handed to search
// with, and the members a restriction may not have.
#include "mailbox/model/restriction_tree.h"

#include <gtest/gtest.h>

#include "base/mapi_error.h"
#include "mailbox/model/const_mapi.h"

namespace oa::testing {
namespace {

using namespace mailbox::ConstMAPI;
using mailbox::MemberKinds;
using mailbox::RestrictionNode;

class RecordingSearch : public mailbox::RestrictionSearch {
 public:
  bool Find(const std::shared_ptr<RestrictionNode>& root, bool next) override {
    searched.push_back({root, next});
    return root != nullptr;
  }
  void ClearPosition() override { ++cleared; }

  std::vector<std::pair<std::shared_ptr<RestrictionNode>, bool>> searched;
  int cleared = 0;
};

TEST(RestrictionTree, TheTableSearchesWithTheTreeAsBuilt) {
  auto search = std::make_shared<RecordingSearch>();
  auto filter = mailbox::NewTreeFilter(search, MemberKinds::AndOr);
  auto root = filter->SetKind(RES_AND);
  auto subject = root->Add(RES_CONTENT);
  ASSERT_TRUE(subject);
  subject->SetPropTag(PR_SUBJECT);
  subject->SetFuzzyLevel(FL_FULLSTRING | FL_IGNORECASE);
  subject->SetProp(Variant::String("ondavelAgent"));
  auto either = root->Add(RES_OR);
  ASSERT_TRUE(either);
  either->Add(RES_CONTENT)->SetPropTag(PR_MESSAGE_CLASS);
  EXPECT_EQ(either->Kind(), RES_OR);

  EXPECT_TRUE(filter->FindFirst(true));
  EXPECT_TRUE(filter->FindNext(true));
  ASSERT_EQ(search->searched.size(), 2u);
  EXPECT_FALSE(search->searched[0].second);
  EXPECT_TRUE(search->searched[1].second);
  const RestrictionNode& tree = *search->searched[0].first;
  EXPECT_EQ(tree.kind, RES_AND);
  ASSERT_EQ(tree.members.size(), 2u);
  EXPECT_EQ(tree.members[0]->tag, PR_SUBJECT);
  EXPECT_EQ(tree.members[0]->fuzzy, FL_FULLSTRING | FL_IGNORECASE);
  EXPECT_EQ(tree.members[0]->value.AsString(), "ondavelAgent");
  ASSERT_EQ(tree.members[1]->members.size(), 1u);
  EXPECT_EQ(tree.members[1]->members[0]->tag, PR_MESSAGE_CLASS);

  // Reset drops the tree and the table's place in it.
  filter->Reset();
  EXPECT_EQ(search->cleared, 1);
  EXPECT_FALSE(filter->FindFirst(true));
}

TEST(RestrictionTree, OnlyTheBackendsParentKindsTakeMembers) {
  oa::ErrScope scope;
  auto search = std::make_shared<RecordingSearch>();
  auto andOr = mailbox::NewTreeFilter(search, MemberKinds::AndOr);
  Err().Clear();
  EXPECT_EQ(andOr->SetKind(RES_CONTENT)->Add(RES_CONTENT), nullptr);
  EXPECT_EQ(Err().Number(), MAPI_E_INVALID_PARAMETER);
  EXPECT_EQ(Err().Description(), "Only AND and OR restrictions have members.");
  Err().Clear();
  EXPECT_EQ(andOr->SetKind(RES_NOT)->Add(RES_CONTENT), nullptr);
  EXPECT_EQ(Err().Number(), MAPI_E_INVALID_PARAMETER);

  auto withNot = mailbox::NewTreeFilter(search, MemberKinds::AndOrNot);
  Err().Clear();
  EXPECT_NE(withNot->SetKind(RES_NOT)->Add(RES_CONTENT), nullptr);
  EXPECT_FALSE(Err().Pending());
  EXPECT_EQ(withNot->SetKind(RES_CONTENT)->Add(RES_AND), nullptr);
  EXPECT_EQ(Err().Description(), "Only AND, OR and NOT restrictions have members.");
}

}  // namespace
}  // namespace oa::testing
