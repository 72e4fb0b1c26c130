#include "base/backoff.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "base/date.h"

namespace oa::backoff {
namespace {

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Digits as a number, saturated at `limit` (so that "10000000000" is no overflow).
int64_t Saturated(std::string_view digits, int64_t limit) {
  int64_t n = 0;
  for (char c : digits) {
    n = n * 10 + (c - '0');
    if (n >= limit) return limit;
  }
  return n;
}

std::optional<int> Number(std::string_view s, size_t width) {
  if (s.size() != width || !AllDigits(s)) return std::nullopt;
  return static_cast<int>(Saturated(s, 100000));
}

// "Sun, 06 Nov 1994 08:49:37 GMT" as seconds since 1970.
std::optional<int64_t> ImfFixdate(std::string_view s) {
  static constexpr std::array<std::string_view, 7> kDays = {"Mon", "Tue", "Wed", "Thu",
                                                            "Fri", "Sat", "Sun"};
  static constexpr std::array<std::string_view, 12> kMonths = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (s.size() != 29 || s.substr(3, 2) != ", " || s[7] != ' ' || s[11] != ' ' || s[16] != ' ' ||
      s[19] != ':' || s[22] != ':' || s.substr(25) != " GMT")
    return std::nullopt;
  if (std::find(kDays.begin(), kDays.end(), s.substr(0, 3)) == kDays.end()) return std::nullopt;
  auto month = std::find(kMonths.begin(), kMonths.end(), s.substr(8, 3));
  auto day = Number(s.substr(5, 2), 2), year = Number(s.substr(12, 4), 4),
       hour = Number(s.substr(17, 2), 2), minute = Number(s.substr(20, 2), 2),
       second = Number(s.substr(23, 2), 2);
  if (month == kMonths.end() || !day || !year || !hour || !minute || !second) return std::nullopt;
  if (*day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60) return std::nullopt;
  const unsigned m = static_cast<unsigned>(month - kMonths.begin()) + 1;
  return oa::DaysFromCivil(*year, m, static_cast<unsigned>(*day)) * 86400 + *hour * 3600 +
         *minute * 60 + *second;
}

}  // namespace

std::optional<milliseconds> ParseRetryAfter(std::string_view value,
                                            std::chrono::system_clock::time_point now) {
  if (AllDigits(value)) {
    const int64_t limit = kMaxHintedWait.count() / 1000 + 1;
    return milliseconds(Saturated(value, limit) * 1000);
  }
  auto at = ImfFixdate(value);
  if (!at) return std::nullopt;
  const int64_t nowSeconds =
      std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
  const int64_t limit = kMaxHintedWait.count() / 1000 + 1;
  return milliseconds(std::clamp<int64_t>(*at - nowSeconds, 0, limit) * 1000);
}

std::optional<milliseconds> ParseMilliseconds(std::string_view value) {
  if (!AllDigits(value)) return std::nullopt;
  return milliseconds(Saturated(value, kMaxHintedWait.count() + 1));
}

BackOff::BackOff(milliseconds budget, std::chrono::steady_clock::time_point start)
    : deadline_(start + std::clamp(budget, milliseconds(0), kMaxBudget)) {}

milliseconds BackOff::Next(std::optional<milliseconds> hint) {
  if (hint && *hint >= kMinWait) return std::min(*hint, kMaxHintedWait);
  const milliseconds wait = guess_;
  guess_ = std::min(guess_ * 2, kMaxGuess);
  return wait;
}

bool BackOff::Fits(milliseconds d, std::chrono::steady_clock::time_point now) const {
  if (now >= deadline_) return d <= milliseconds(0);
  return d <= deadline_ - now;
}

}  // namespace oa::backoff
