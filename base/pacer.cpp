#include "base/pacer.h"

#include <algorithm>

namespace oa::backoff {

using std::chrono::nanoseconds;

// A virtual schedule (the generic cell rate algorithm): each request moves the due time on by
// one interval; a group may go once the due time is no more than the tolerance ahead. Over any
// stretch of time T this sends at most T / interval + burst + largestGroup requests, so with the
// interval below no window of the service's length sees more than its limit, whatever the
// phase.
Pacer::Pacer(int64_t limit, std::chrono::milliseconds window, int64_t largestGroup) {
  if (limit <= 0 || window.count() <= 0) return;
  const nanoseconds widened =
      nanoseconds(window) + std::max<nanoseconds>(nanoseconds(window) / 100, kMinPacingMargin);
  const int64_t burst = limit / 100;
  const int64_t even = std::max<int64_t>(limit - burst - std::max<int64_t>(largestGroup, 1), 1);
  interval_ = widened / even;
  tolerance_ = interval_ * burst;
}

Pacer::clock::time_point Pacer::When(int64_t cost, clock::time_point now) const {
  clock::time_point at = std::max(now, heldUntil_);
  if (!pacing() || cost <= 0) return at;
  return std::max(at, due_ - tolerance_);
}

void Pacer::Sent(int64_t cost, clock::time_point now) {
  if (!pacing() || cost <= 0) return;
  due_ = std::max(due_, now) + interval_ * cost;
}

void Pacer::HoldUntil(clock::time_point until) {
  heldUntil_ = std::max(heldUntil_, until);
}

}  // namespace oa::backoff
