// The emptying's bookkeeping on a collection that holds deletes back as a remote backend does:
// what is gone, skipped and left when the server refuses deletes it got in a group, when a
// delete fails silently, when the count cannot be read and when items arrive meanwhile.
#include "mailbox/item_deleter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "base/mapi_error.h"
#include "mailbox/model/const_mapi.h"

namespace oa::testing {
namespace {

using mailbox::ItemDeleter;

// A folder's items on a server, as a backend that sends deletes in groups shows them: a delete
// is held back until `group` are waiting, and the group goes out before the next fetch (a
// request; the count is kept locally and leaves held-back deletes out). group 0: each delete
// goes out at once. The server refuses the deletes of `refuse`; those of `stuck` it takes and
// ignores.
class GroupedItems : public mailbox::RDOItems {
 public:
  GroupedItems(int items, size_t group) : group_(group) {
    for (int i = 0; i < items; ++i) present.push_back("m" + std::to_string(i));
  }

  int32_t Count() override {
    if (countFails) {
      Err().Raise(mailbox::ConstMAPI::MAPI_E_CALL_FAILED, "no count");
      return 0;
    }
    return static_cast<int32_t>(Visible().size());
  }
  std::shared_ptr<mailbox::RDOMail> Item(int32_t index) override {
    if (held_.size() >= std::max<size_t>(group_, 1)) Send();
    const std::vector<std::string> visible = Visible();
    if (index < 1 || index > static_cast<int32_t>(visible.size())) {
      Err().Raise(mailbox::ConstMAPI::MAPI_E_NOT_FOUND, "no item there");
      return nullptr;
    }
    return std::make_shared<Mail>(this, visible[static_cast<size_t>(index - 1)]);
  }
  std::shared_ptr<mailbox::RDOMail> GetFirst() override { return Item(1); }
  std::shared_ptr<mailbox::MAPITable> MAPITable() override { return nullptr; }
  int32_t TakeRefusedDeletes(bool settle) override {
    if (settle && !held_.empty()) Send();
    return std::exchange(refused_, 0);
  }

  // The items the server holds, in its order.
  std::vector<std::string> present;
  std::set<std::string> refuse, stuck;
  bool countFails = false;
  // Every delete asked for, in order; how many groups went out.
  std::vector<std::string> deletesAsked;
  int sends = 0;
  // Runs at every delete (another program adding an item, say).
  std::function<void()> onDelete;

 private:
  class Mail : public mailbox::RDOMail {
   public:
    Mail(GroupedItems* items, std::string id) : items_(items), id_(std::move(id)) {}
    std::string EntryID() override { return id_; }
    int32_t GetIDsFromNames(const std::string&, const std::string&) override { return 0; }
    int32_t LookupIDsFromNames(const std::string&, const std::string&) override { return 0; }
    oa::Variant Fields(int32_t) override { return {}; }
    bool SetFields(int32_t, const oa::Variant&) override { return false; }
    bool Save() override { return false; }
    std::string MessageClass() override { return "IPM.Note"; }
    std::string Subject() override { return id_; }
    oa::Variant CreationTime() override { return {}; }
    std::shared_ptr<mailbox::RDOStore> Store() override { return nullptr; }
    void Delete(int32_t) override { items_->Delete(id_); }

   private:
    GroupedItems* items_;
    std::string id_;
  };

  void Delete(const std::string& id) {
    deletesAsked.push_back(id);
    if (onDelete) onDelete();
    held_.push_back(id);
    if (group_ == 0) Send();
  }
  void Send() {
    ++sends;
    for (const std::string& id : held_) {
      if (refuse.count(id)) {
        if (group_ > 0) ++refused_;
        continue;
      }
      if (stuck.count(id)) continue;
      present.erase(std::find(present.begin(), present.end(), id));
    }
    held_.clear();
  }
  std::vector<std::string> Visible() const {
    std::vector<std::string> out;
    for (const std::string& id : present)
      if (std::find(held_.begin(), held_.end(), id) == held_.end()) out.push_back(id);
    return out;
  }

  size_t group_;
  std::vector<std::string> held_;
  int32_t refused_ = 0;
};

// Runs the emptying as the program's loop does, without a window; the steps it took.
std::vector<ItemDeleter::Step> Empty(ItemDeleter& deleter) {
  std::vector<ItemDeleter::Step> steps;
  do {
    while (deleter.ItemsLeft()) steps.push_back(deleter.DeleteNext());
  } while (deleter.ItemsCameBack());
  return steps;
}

TEST(ItemDeleter, DeletesThatGoOutAtOnceEmptyTheCollectionItemByItem) {
  auto items = std::make_shared<GroupedItems>(3, 0);
  ItemDeleter deleter(items);
  ASSERT_TRUE(deleter.Start());
  EXPECT_EQ(deleter.left(), 3);
  const auto steps = Empty(deleter);
  ASSERT_EQ(steps.size(), 3u);
  for (const auto& s : steps) {
    EXPECT_TRUE(s.tried && s.gone);
    EXPECT_EQ(s.refusedEarlier, 0);
  }
  EXPECT_TRUE(deleter.Emptied());
  EXPECT_EQ(deleter.deleted(), 3);
  EXPECT_EQ(deleter.skipped(), 0);
  EXPECT_EQ(deleter.left(), 0);
  EXPECT_EQ(items->deletesAsked, (std::vector<std::string>{"m0", "m1", "m2"}));
}

TEST(ItemDeleter, AnItemThatStaysIsSkippedOnceAndTheNextOneTried) {
  auto items = std::make_shared<GroupedItems>(3, 0);
  items->stuck = {"m0"};
  ItemDeleter deleter(items);
  ASSERT_TRUE(deleter.Start());
  const auto steps = Empty(deleter);
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_FALSE(steps[0].gone);
  EXPECT_TRUE(steps[1].gone && steps[2].gone);
  EXPECT_FALSE(deleter.Emptied());
  EXPECT_EQ(deleter.deleted(), 2);
  EXPECT_EQ(deleter.skipped(), 1);
  EXPECT_EQ(deleter.left(), 1);
  EXPECT_EQ(items->deletesAsked, (std::vector<std::string>{"m0", "m1", "m2"}));
  EXPECT_EQ(items->present, std::vector<std::string>{"m0"});
}

TEST(ItemDeleter, RefusalsAFetchBringsBackMoveThePositionWithoutATry) {
  auto items = std::make_shared<GroupedItems>(5, 2);
  items->refuse = {"m0"};
  ItemDeleter deleter(items);
  ASSERT_TRUE(deleter.Start());
  const auto steps = Empty(deleter);
  // m0, m1 held; the fetch for the third sends them and m0 comes back ahead of the rest.
  ASSERT_GE(steps.size(), 3u);
  EXPECT_FALSE(steps[2].tried);
  EXPECT_EQ(steps[2].refusedEarlier, 1);
  EXPECT_EQ(std::count_if(steps.begin(), steps.end(), [](auto& s) { return !s.tried; }), 1);
  // Taken back from the deleted and counted skipped: never tried again.
  EXPECT_EQ(deleter.deleted(), 4);
  EXPECT_EQ(deleter.skipped(), 1);
  EXPECT_EQ(deleter.left(), 1);
  EXPECT_FALSE(deleter.Emptied());
  EXPECT_EQ(items->deletesAsked, (std::vector<std::string>{"m0", "m1", "m2", "m3", "m4"}));
  EXPECT_EQ(items->present, std::vector<std::string>{"m0"});
}

TEST(ItemDeleter, AGroupRefusedAfterTheCollectionLooksEmptyIsCountedAgain) {
  auto items = std::make_shared<GroupedItems>(4, 10);
  items->refuse = {"m1", "m3"};
  ItemDeleter deleter(items);
  ASSERT_TRUE(deleter.Start());
  while (deleter.ItemsLeft()) deleter.DeleteNext();
  // Nothing has gone out yet, and the count leaves the held-back deletes out.
  EXPECT_EQ(deleter.left(), 0);
  EXPECT_EQ(deleter.deleted(), 4);
  EXPECT_EQ(items->sends, 0);
  EXPECT_TRUE(deleter.ItemsCameBack());
  EXPECT_EQ(items->sends, 1);
  EXPECT_EQ(deleter.left(), 2);
  EXPECT_EQ(deleter.deleted(), 2);
  EXPECT_EQ(deleter.skipped(), 2);
  // Both are behind the position: nothing is left to try, and nothing more comes back.
  EXPECT_FALSE(deleter.ItemsLeft());
  EXPECT_FALSE(deleter.ItemsCameBack());
  EXPECT_FALSE(deleter.Emptied());
  EXPECT_EQ(items->deletesAsked.size(), 4u);
}

TEST(ItemDeleter, StoppingSendsWhatIsHeldBackSoTheCountIsTheFolders) {
  auto items = std::make_shared<GroupedItems>(4, 10);
  items->refuse = {"m1"};
  ItemDeleter deleter(items);
  ASSERT_TRUE(deleter.Start());
  deleter.DeleteNext();
  deleter.DeleteNext();
  EXPECT_EQ(deleter.left(), 2);
  deleter.Stop(true);
  EXPECT_EQ(items->sends, 1);
  EXPECT_EQ(deleter.left(), 3);
  EXPECT_EQ(static_cast<size_t>(deleter.left()), items->present.size());
  EXPECT_EQ(deleter.deleted(), 1);
  EXPECT_EQ(deleter.skipped(), 1);
}

TEST(ItemDeleter, StoppingWithTheSessionGoneSendsNothingAndReadsNoCount) {
  auto items = std::make_shared<GroupedItems>(4, 10);
  ItemDeleter deleter(items);
  ASSERT_TRUE(deleter.Start());
  deleter.DeleteNext();
  deleter.DeleteNext();
  items->countFails = true;
  Err().Clear();
  deleter.Stop(false);
  EXPECT_FALSE(Err().Pending()) << "no count was read";
  EXPECT_EQ(items->sends, 0);
  EXPECT_EQ(deleter.left(), 2);
  EXPECT_EQ(deleter.deleted(), 2);
}

TEST(ItemDeleter, ACountThatCannotBeReadStaysAsLastKnownAndEndsTheEmptying) {
  auto unreadable = std::make_shared<GroupedItems>(3, 0);
  unreadable->countFails = true;
  ItemDeleter never(unreadable);
  Err().Clear();
  EXPECT_FALSE(never.Start());
  EXPECT_TRUE(Err().Pending());
  Err().Clear();
  EXPECT_FALSE(never.ItemsLeft());

  auto items = std::make_shared<GroupedItems>(3, 0);
  ItemDeleter deleter(items);
  ASSERT_TRUE(deleter.Start());
  EXPECT_TRUE(deleter.DeleteNext().gone);
  items->countFails = true;
  // Deleted all the same, but nothing shows it: the item counts as one that stayed.
  EXPECT_FALSE(deleter.DeleteNext().gone);
  EXPECT_FALSE(deleter.ItemsLeft());
  EXPECT_FALSE(deleter.ItemsCameBack());
  EXPECT_FALSE(deleter.Emptied());
  EXPECT_EQ(deleter.left(), 2);
  EXPECT_EQ(deleter.deleted(), 1);
  EXPECT_EQ(deleter.skipped(), 1);
  Err().Clear();
}

TEST(ItemDeleter, ItemsAddedMeanwhileDoNotPassForItemsThatWouldNotGo) {
  auto items = std::make_shared<GroupedItems>(3, 0);
  int added = 0;
  items->onDelete = [&] {
    if (added < 2) items->present.push_back("added" + std::to_string(added++));
  };
  ItemDeleter deleter(items);
  ASSERT_TRUE(deleter.Start());
  const auto steps = Empty(deleter);
  EXPECT_EQ(steps.size(), 5u);
  for (const auto& s : steps) EXPECT_TRUE(s.gone);
  EXPECT_EQ(deleter.deleted(), 5);
  EXPECT_EQ(deleter.skipped(), 0);
  EXPECT_TRUE(deleter.Emptied());
  EXPECT_TRUE(items->present.empty());
}

}  // namespace
}  // namespace oa::testing
