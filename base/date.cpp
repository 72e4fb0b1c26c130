#include "base/date.h"

#include <cmath>
#include <ctime>

#include "base/locale_text.h"
#include "base/platform.h"

namespace oa {
namespace {

constexpr double kMillisPerDay = 86400000.0;
// Days from 30 December 1899 to 1 January 1970.
constexpr double kEpochOffsetDays = 25569.0;

}  // namespace

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

Date DateFromUnixMillis(int64_t unixMillis) {
  const std::time_t secs = static_cast<std::time_t>(std::floor(unixMillis / 1000.0));
  std::tm local{};
  oa::LocalTime(secs, &local);
  const int64_t days = DaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
                       static_cast<int64_t>(kEpochOffsetDays);
  const int64_t millisOfDay = (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) * 1000LL +
                              (unixMillis - static_cast<int64_t>(secs) * 1000);
  return Date{static_cast<double>(days) + millisOfDay / kMillisPerDay};
}

int64_t UnixMillisFromDate(Date date) {
  const double dayPart = std::floor(date.value);
  int64_t millisOfDay = std::llround((date.value - dayPart) * kMillisPerDay);
  std::tm local{};
  // Civil date from the day count.
  int64_t z = static_cast<int64_t>(dayPart) - static_cast<int64_t>(kEpochOffsetDays) + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  local.tm_year = static_cast<int>(y + (m <= 2)) - 1900;
  local.tm_mon = static_cast<int>(m) - 1;
  local.tm_mday = static_cast<int>(d);
  local.tm_sec = static_cast<int>(millisOfDay / 1000);
  local.tm_isdst = -1;
  const std::time_t secs = std::mktime(&local);
  return static_cast<int64_t>(secs) * 1000 + millisOfDay % 1000;
}

Date DateFromTimePoint(std::chrono::system_clock::time_point tp) {
  return DateFromUnixMillis(
      std::chrono::duration_cast<std::chrono::milliseconds>(tp.time_since_epoch()).count());
}

std::string GeneralDateText(Date date) {
  const double dayPart = std::floor(date.value);
  const int64_t secondsOfDay = std::llround((date.value - dayPart) * 86400.0);
  const std::time_t secs = static_cast<std::time_t>(UnixMillisFromDate(date) / 1000);
  std::tm local{};
  oa::LocalTime(secs, &local);
  return oa::LocaleDateTimeText(local, secondsOfDay % 86400 == 0);
}

}  // namespace oa
