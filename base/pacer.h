// A service's request budget (at most `limit` requests in any `window`) kept on our side: the
// requests are spread evenly over the window instead of being sent in a burst and refused, and
// a wait the service asked for holds every later request back until it ends.
#pragma once

#include <chrono>
#include <cstdint>

namespace oa::backoff {

// The shortest safety margin added to the window: answers reach the service a little later or
// earlier than they were sent, and a request sent one window after another must not arrive
// inside the same window there.
inline constexpr std::chrono::milliseconds kMinPacingMargin{100};

class Pacer {
 public:
  using clock = std::chrono::steady_clock;

  // `limit` requests per `window`, sent in groups of at most `largestGroup` at once (a group
  // goes whole); a limit or window of 0 paces nothing. The window is taken a hundredth longer
  // (at least kMinPacingMargin), and a hundredth of the limit may go ahead of the even pace.
  Pacer(int64_t limit, std::chrono::milliseconds window, int64_t largestGroup = 1);

  // When `cost` requests may go, sent at `now` or later: `now` when there is room.
  clock::time_point When(int64_t cost, clock::time_point now) const;
  // Notes `cost` requests sent at `now`.
  void Sent(int64_t cost, clock::time_point now);

  // The service's own wait: nothing goes before `until` (the later of two holds counts).
  void HoldUntil(clock::time_point until);
  clock::time_point heldUntil() const { return heldUntil_; }

  bool pacing() const { return interval_.count() > 0; }

 private:
  // The even spacing of requests, and how far ahead of it a request may go (the burst).
  std::chrono::nanoseconds interval_{0};
  std::chrono::nanoseconds tolerance_{0};
  // When the next request is due on the even schedule.
  clock::time_point due_{};
  clock::time_point heldUntil_{};
};

}  // namespace oa::backoff
