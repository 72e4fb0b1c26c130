// The activity log on Windows: the time stamp in the user's locale (its short date and long
// time); a new file in UTF-8 after a byte order mark, so that every name keeps its characters,
// and a file that already has lines without the mark kept in the system's ANSI code page. Under
// Wine the user locale is that of the session that started Wine (the C locale and en_US both
// give English (United States), code page 1252); a Windows process cannot change it for the
// processes it starts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iterator>
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

TEST_F(WindowsLogFile, UnitedStatesStampAndANewFileInUtf8AfterAByteOrderMark) {
  const ChildResult r = Run();
  // No such mailbox in the store: the logon fails, after two lines.
  EXPECT_EQ(r.status, 3) << r.err;
  // The box (standard output) and the file both have the name in UTF-8.
  ASSERT_GE(Lines(r.out).size(), 2u);
  EXPECT_EQ(Lines(r.out)[1], "Logging on with J\xC3\xBCrgen demo");
  const std::string text = ReadFile(logFile);
  EXPECT_EQ(text.substr(0, 5), "\xEF\xBB\xBF\r\n") << "the mark, then the run's clear line";
  const std::vector<std::string> file = LogLines();
  ASSERT_GE(file.size(), 3u) << text;
  EXPECT_EQ(file[0], "");
  ExpectStamped(file[1], "instantiating RDO", ParseUs);
  ExpectStamped(file[2], "Logging on with J\xC3\xBCrgen demo", ParseUs);
  // Every line ends in CR LF, the last one too.
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  // A second run appends without a second mark.
  Run();
  EXPECT_EQ(ReadFile(logFile).find("\xEF\xBB\xBF", 3), std::string::npos);
}

// Names outside the ANSI code page ("?" in code page 1252) are read back exactly.
TEST_F(WindowsLogFile, NamesInAnyScriptAreKeptExactly) {
  Import(Dump({MailboxStore({.alias = "jdoe"})}));
  for (const std::string name : {"\xE6\x97\xA5\xE6\x9C\xAC", "j\xC3\xBCrgen.gro\xC3\x9F"})
    Cleanup({"--server", "demo", "--mailbox", name});
  const std::string text = ReadFile(logFile);
  EXPECT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u);
  EXPECT_NE(text.find(":Logging on with \xE6\x97\xA5\xE6\x9C\xAC demo\r\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find(":Logging on with j\xC3\xBCrgen.gro\xC3\x9F demo\r\n"), std::string::npos)
      << text;
  EXPECT_EQ(text.find('?'), std::string::npos) << text;
}

// An older log without the mark stays in the code page its lines are in: UTF-8 lines in it
// would be garbled for whatever reads it as ANSI.
TEST_F(WindowsLogFile, AnExistingFileWithoutTheMarkKeepsItsCodePage) {
  WriteFile(logFile, "\r\n1/2/2024 3:04:05 PM:Logging on with J\xFCrgen demo\r\n");
  Run();
  const std::string text = ReadFile(logFile);
  EXPECT_EQ(text.rfind("\r\n1/2/2024 3:04:05 PM:", 0), 0u) << "the old lines stay as they were";
  EXPECT_EQ(text.find("\xEF\xBB\xBF"), std::string::npos);
  EXPECT_NE(text.find(":Logging on with J\xFCrgen demo\r\n", 40), std::string::npos) << text;
  EXPECT_EQ(text.find("\xC3\xBC"), std::string::npos) << text;
}

// The program installed in a folder its user cannot write (Program Files on Windows; under Wine
// scripts/test-windows.sh makes one immutable with chattr +i and names it in
// OA_WINE_READONLY_INSTALL): the log goes to %LOCALAPPDATA%\ondavel, and --check-config says so.
TEST_F(WindowsLogFile, ReadOnlyInstallFolderLogsToLocalAppData) {
  const char* install = std::getenv("OA_WINE_READONLY_INSTALL");
  if (!install || !*install)
    GTEST_SKIP() << "needs OA_WINE_READONLY_INSTALL, a folder this user cannot write that holds "
                    "oa-cleanup.exe (scripts/test-windows.sh makes one)";
  const std::string exe = std::string(install) + "\\oa-cleanup.exe";
  Child child;
  child.env = env;
  child.env["LOCALAPPDATA"] = dir / "local";
  child.argv = {exe, "--check-config"};
  const ChildResult check = RunChild(child);
  ASSERT_EQ(check.status, 0) << check.err;
  const std::string log = dir / "local\\ondavel\\OA-Cleanup.log";
  EXPECT_NE(check.out.find("\nActivity log: " + log + "\n"), std::string::npos) << check.out;

  Import(Dump({MailboxStore({.alias = "jdoe"})}));
  child.argv = {exe, "--no-window", "--server", "demo", "--mailbox", "\xE6\x97\xA5\xE6\x9C\xAC"};
  const ChildResult run = RunChild(child);
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_EQ(run.err.find("activity log"), std::string::npos) << run.err;
  const std::string text = ReadFile(log);
  EXPECT_EQ(text.rfind("\xEF\xBB\xBF\r\n", 0), 0u) << text;
  EXPECT_NE(text.find(":Logging on with \xE6\x97\xA5\xE6\x9C\xAC demo\r\n"), std::string::npos)
      << text;
  // Nothing was left in the install folder (no log, no probe).
  EXPECT_FALSE(std::filesystem::exists(std::string(install) + "\\OA-Cleanup.log"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(install),
                          std::filesystem::directory_iterator()),
            1);
}

}  // namespace
}  // namespace oa::testing
