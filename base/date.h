// Dates as the mailbox code and the log write them.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "base/variant.h"

namespace oa::mailbox {

// Local wall-clock date from a UTC instant in milliseconds since 1970, and back.
Date DateFromUnixMillis(int64_t unixMillis);
int64_t UnixMillisFromDate(Date date);
Date DateFromTimePoint(std::chrono::system_clock::time_point tp);

// The general date format of the user's locale (LC_TIME): the short date, a blank, the long
// time; a time of exactly midnight gives the date alone.
std::string GeneralDateText(Date date);

}  // namespace oa::mailbox
