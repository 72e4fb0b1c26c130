// The pace kept on our side of a budget: a sender that sends each group as soon as the pacer
// lets it never puts more than the limit into any window of the service's length, yet comes
// close to the limit over a long run; the service's own wait holds every group back. Simulated
// time: nothing sleeps.
#include "base/pacer.h"

#include <gtest/gtest.h>

#include <deque>

namespace oa::backoff {
namespace {

using std::chrono::milliseconds;
using Clock = Pacer::clock;

struct Sent {
  Clock::time_point at;
  int64_t count;
};

// Sends groups of `group` as early as allowed for `length`, then checks every window that
// starts at a send: the most requests seen in one window of `window`.
int64_t MostInAWindow(Pacer& pacer, int64_t group, milliseconds window, milliseconds length,
                      int64_t* total) {
  const Clock::time_point start{};
  std::deque<Sent> sent;
  *total = 0;
  for (Clock::time_point now = start; now < start + length;) {
    const Clock::time_point at = pacer.When(group, now);
    pacer.Sent(group, at);
    sent.push_back({at, group});
    *total += group;
    now = at;
  }
  // Two ends moving forward: the window starting at send i ends before send j.
  int64_t most = 0, in = 0;
  for (size_t i = 0, j = 0; i < sent.size(); in -= sent[i++].count) {
    for (; j < sent.size() && sent[j].at < sent[i].at + window; ++j) in += sent[j].count;
    most = std::max(most, in);
  }
  return most;
}

TEST(Pacer, NoWindowSeesMoreThanTheLimitAndALongRunComesCloseToIt) {
  // The service's budget: 10,000 requests per 10 minutes, in batches of 20 and one by one.
  for (int64_t group : {int64_t{20}, int64_t{1}}) {
    Pacer pacer(10000, std::chrono::minutes(10), 20);
    int64_t total = 0;
    const int64_t most =
        MostInAWindow(pacer, group, std::chrono::minutes(10), std::chrono::hours(1), &total);
    EXPECT_LE(most, 10000) << group;
    // Six windows' worth, less the safety margin.
    EXPECT_GE(total, 6 * 10000 * 97 / 100) << group;
  }
  // A budget scaled down as the tests' and the bench's, with the shortest margin.
  Pacer small(200, std::chrono::seconds(2), 20);
  int64_t total = 0;
  EXPECT_LE(MostInAWindow(small, 20, std::chrono::seconds(2), std::chrono::seconds(20), &total),
            200);
  EXPECT_GE(total, 10 * 200 * 85 / 100);
}

TEST(Pacer, TheServicesWaitHoldsEveryGroupBack) {
  Pacer pacer(10000, std::chrono::minutes(10), 20);
  const Clock::time_point now{};
  EXPECT_EQ(pacer.When(1, now), now);
  pacer.HoldUntil(now + std::chrono::seconds(30));
  pacer.HoldUntil(now + std::chrono::seconds(5));  // the later of two holds counts
  EXPECT_EQ(pacer.When(1, now), now + std::chrono::seconds(30));
  EXPECT_EQ(pacer.When(20, now + std::chrono::seconds(31)), now + std::chrono::seconds(31));
  // No budget: nothing is paced, a hold still holds.
  Pacer none(0, milliseconds(0));
  for (int i = 0; i < 1000; ++i) none.Sent(20, now);
  EXPECT_EQ(none.When(20, now), now);
  none.HoldUntil(now + milliseconds(10));
  EXPECT_EQ(none.When(20, now), now + milliseconds(10));
}

}  // namespace
}  // namespace oa::backoff
