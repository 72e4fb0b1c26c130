// Dates as the mailbox code and the log write them.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "base/variant.h"

namespace oa {

// Days from 1 January 1970 to a civil date (proleptic Gregorian; month 1-12, day 1-31).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d);

// Local wall-clock date from a UTC instant in milliseconds since 1970, and back.
Date DateFromUnixMillis(int64_t unixMillis);
int64_t UnixMillisFromDate(Date date);
Date DateFromTimePoint(std::chrono::system_clock::time_point tp);

// The general date format of the user's locale (LC_TIME): the short date, a blank, the long
// time; a time of exactly midnight gives the date alone.
std::string GeneralDateText(Date date);

}  // namespace oa
