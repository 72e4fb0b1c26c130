// The activity log on Windows: the time stamp in the user's locale (its short date and long
// time) and each line in the system's ANSI code page. Under Wine the user locale is that of the
// session that started Wine (the C locale and en_US both give English (United States), code page
// 1252); a Windows process cannot change it for the processes it starts.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "tests/nowindow/run_fixture.h"

namespace oa::testing {
namespace {

struct Stamp {
  int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
  bool operator==(const Stamp&) const = default;
};

Stamp LocalStamp(std::time_t t) {
  std::tm tm{};
  localtime_s(&tm, &t);
  return {tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

class WindowsLogFile : public RunFixture {
 protected:
  // The stamp and message of a log line, read the way `parse` reads the locale's stamp.
  template <typename Parse>
  void ExpectStamped(const std::string& line, const std::string& message, Parse parse) {
    const size_t colon = line.find(':' + message);
    ASSERT_NE(colon, std::string::npos) << line;
    ASSERT_EQ(colon + 1 + message.size(), line.size()) << line;
    Stamp s;
    ASSERT_TRUE(parse(line.substr(0, colon), &s)) << line;
    bool within = false;
    for (std::time_t t = runStart; t <= runEnd && !within; ++t) within = LocalStamp(t) == s;
    EXPECT_TRUE(within) << line;
  }
  ChildResult Run() {
    Import(Dump({MailboxStore({.alias = "jdoe"})}));
    return Cleanup({"--server", "demo", "--mailbox", "J\xC3\xBCrgen"});
  }
};

// United States: month/day/year, then the 12-hour clock with AM or PM.
bool ParseUs(const std::string& text, Stamp* s) {
  char half[3] = {};
  int consumed = 0;
  if (std::sscanf(text.c_str(), "%d/%d/%d %d:%d:%d %2s%n", &s->month, &s->day, &s->year, &s->hour,
                  &s->minute, &s->second, half, &consumed) != 7 ||
      consumed != static_cast<int>(text.size()))
    return false;
  if (s->hour < 1 || s->hour > 12) return false;
  const std::string h = half;
  if (h != "AM" && h != "PM") return false;
  s->hour = s->hour % 12 + (h == "PM" ? 12 : 0);
  return true;
}

TEST_F(WindowsLogFile, UnitedStatesStampAndCodePage1252) {
  const ChildResult r = Run();
  // No such mailbox in the store: the logon fails, after two lines.
  EXPECT_EQ(r.status, 3) << r.err;
  // The box (standard output) has the name in UTF-8, the file in code page 1252.
  ASSERT_GE(Lines(r.out).size(), 2u);
  EXPECT_EQ(Lines(r.out)[1], "Logging on with J\xC3\xBCrgen demo");
  const std::vector<std::string> file = LogLines();
  ASSERT_GE(file.size(), 3u) << ReadFile(logFile);
  EXPECT_EQ(file[0], "");
  ExpectStamped(file[1], "instantiating RDO", ParseUs);
  ExpectStamped(file[2], "Logging on with J\xFCrgen demo", ParseUs);
  // Every line ends in CR LF, the last one too.
  const std::string text = ReadFile(logFile);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

}  // namespace
}  // namespace oa::testing
