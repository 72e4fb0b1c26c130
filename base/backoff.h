// One rule for waiting out a busy service, whichever service it is: the server's own hint read
// strictly and bounded, our own guess growing while it gives none, and a total budget per call
// that no hint can stretch.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace oa::backoff {

using std::chrono::milliseconds;

// The shortest wait: a hint below it (0, or a few milliseconds) tells nothing and is treated as
// no hint, so a server that keeps answering "now" gets the growing guess instead of a storm.
inline constexpr milliseconds kMinWait{500};
// Our own guesses: the first, doubled each time up to the last.
inline constexpr milliseconds kFirstGuess{500};
inline constexpr milliseconds kMaxGuess{30000};
// The longest wait a hint is taken for; a longer one is cut to it (and, beyond the call's
// budget, fails the call as a server that stays busy).
inline constexpr milliseconds kMaxHintedWait{std::chrono::hours(1)};
// The longest budget a call is given, so that deadlines stay far from the clock's range.
inline constexpr milliseconds kMaxBudget{std::chrono::hours(24 * 366)};

// A Retry-After header: delta-seconds (digits only) or an HTTP date (IMF-fixdate, as in
// "Sun, 06 Nov 1994 08:49:37 GMT"), taken relative to `now`. A date in the past is a zero wait.
// Anything else: nullopt.
std::optional<milliseconds> ParseRetryAfter(std::string_view value,
                                            std::chrono::system_clock::time_point now);
// EWS's BackOffMilliseconds: digits only; nullopt for anything else.
std::optional<milliseconds> ParseMilliseconds(std::string_view value);

// The waits of one call.
class BackOff {
 public:
  BackOff(milliseconds budget, std::chrono::steady_clock::time_point start);

  // The wait before the next attempt: the hint when it is one, bounded; otherwise our guess,
  // which then grows.
  milliseconds Next(std::optional<milliseconds> hint);
  // Whether a wait of `d` starting at `now` ends within the budget (compared as what is left
  // of it, so that no sum can overflow).
  bool Fits(milliseconds d, std::chrono::steady_clock::time_point now) const;

 private:
  std::chrono::steady_clock::time_point deadline_;
  milliseconds guess_ = kFirstGuess;
};

}  // namespace oa::backoff
