// The grouped deletes: what goes out together, what the listeners are told and when.
#include "mailbox/remote/delete_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/mapi_error.h"

namespace oa::remote {
namespace {

struct Told : DeletionListener {
  std::vector<std::string> events;
  void ItemDeleted(const std::string& id) override { events.push_back("deleted " + id); }
  void DeleteRefused(const std::string& id) override { events.push_back("refused " + id); }
  void DeletesSettled() override { events.push_back("settled"); }
};

class DeleteGroups : public ::testing::Test {
 protected:
  // What was sent, one text a group ("kind: a b c"); the service refuses the ids in `refuse`.
  std::vector<std::string> sent;
  std::vector<std::string> refuse;
  std::shared_ptr<Told> told = std::make_shared<Told>();
  DeleteQueue queue{3,
                    [this](const std::vector<std::string>& ids, const std::string& kind,
                           std::vector<bool>& gone) {
                      std::string group = kind + ":";
                      for (size_t i = 0; i < ids.size(); ++i) {
                        group += " " + ids[i];
                        gone[i] = std::find(refuse.begin(), refuse.end(), ids[i]) == refuse.end();
                      }
                      sent.push_back(group);
                      // The service's error on the way stays with the queue.
                      Err().Raise(0x80004005, "refused on the way");
                    },
                    [this](const std::string& id) {
                      for (auto& l : queue.Listeners()) l->ItemDeleted(id);
                    }};
  void SetUp() override {
    Err().Clear();
    queue.AddListener(told);
  }
};

TEST_F(DeleteGroups, AFullGroupGoesAtOnceAndEachDeleteIsToldAsItIsQueued) {
  queue.Queue("a", "Soft");
  queue.Queue("b", "Soft");
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(told->events, (std::vector<std::string>{"deleted a", "deleted b"}));
  queue.Queue("c", "Soft");
  EXPECT_EQ(sent, (std::vector<std::string>{"Soft: a b c"}));
  EXPECT_EQ(told->events.back(), "settled");
  // The pending error is the caller's, not the service's.
  EXPECT_FALSE(Err().Pending());
}

TEST_F(DeleteGroups, ADeleteOfAnotherKindSendsTheGroupFirstAndAQueuedItemIsNotQueuedTwice) {
  queue.Queue("a", "Soft");
  queue.Queue("a", "Soft");
  queue.Queue("b", "Hard");
  queue.SendQueued();
  EXPECT_EQ(sent, (std::vector<std::string>{"Soft: a", "Hard: b"}));
  EXPECT_EQ(told->events,
            (std::vector<std::string>{"deleted a", "settled", "deleted b", "settled"}));
}

TEST_F(DeleteGroups, RefusedItemsAreToldBeforeTheGroupIsSettled) {
  refuse = {"b"};
  queue.Queue("a");
  queue.Queue("b");
  queue.SendQueued();
  ASSERT_EQ(told->events.size(), 4u);
  EXPECT_EQ(told->events[2], "refused b");
  EXPECT_EQ(told->events[3], "settled");
  // Nothing queued: nothing goes, nothing is told.
  queue.SendQueued();
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_EQ(told->events.size(), 4u);
}

TEST_F(DeleteGroups, AGroupThatCannotGoCountsAsRefusedWhole) {
  queue.Queue("a");
  queue.Queue("b");
  queue.SendQueued(false);
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(told->events, (std::vector<std::string>{"deleted a", "deleted b", "refused a",
                                                    "refused b", "settled"}));
}

TEST_F(DeleteGroups, AListenerThatIsGoneIsNotTold) {
  told.reset();
  auto other = std::make_shared<Told>();
  queue.AddListener(other);
  queue.Queue("a");
  EXPECT_EQ(queue.Listeners().size(), 1u);
  EXPECT_EQ(other->events, (std::vector<std::string>{"deleted a"}));
}

}  // namespace
}  // namespace oa::remote
