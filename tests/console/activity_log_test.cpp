// The activity log's file: created for its owner only, whatever the umask; where it goes when
// the program's directory cannot be written; the escapes that keep a message on its line.
#include "console/activity_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "console/control_escapes.h"
#include "tests/nowindow/temp_files.h"

namespace oa::console {
namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
}

TEST(ActivityLogFile, CreatedOwnerOnlyUnderAnyUmaskAndAnExistingFileKeepsItsMode) {
  oa::testing::TempDir dir;
  const mode_t saved = ::umask(0);
  ActivityLog fresh(dir / "fresh.log");
  fresh.Append("one line", false, nullptr);
  fresh.Append("another", false, nullptr);
  ::umask(saved);
  EXPECT_EQ(ModeOf(dir / "fresh.log"), 0600u);
  EXPECT_NE(oa::testing::ReadFile(dir / "fresh.log").find("another\r\n"), std::string::npos);

  // A file the user made readable to others on purpose is not changed behind their back.
  oa::testing::WriteFile(dir / "shared.log", "");
  ::chmod((dir / "shared.log").c_str(), 0644);
  ActivityLog shared(dir / "shared.log");
  shared.Append("one line", false, nullptr);
  EXPECT_EQ(ModeOf(dir / "shared.log"), 0644u);
  EXPECT_NE(oa::testing::ReadFile(dir / "shared.log").find("one line\r\n"), std::string::npos);
}

TEST(ActivityLogFile, MessageControlsAreEscapedSoNoTextStartsALineOfItsOwn) {
  // A server's error text with a forged line, a terminal control and a lone CR.
  EXPECT_EQ(ActivityLog::FileText("bad\r\n12/10/26 4:00:00 PM:CleanupHH: done\x1b[31m\rX"),
            "bad\\x0d\\x0a12/10/26 4:00:00 PM:CleanupHH: done\\x1b[31m\\x0dX");
  // Tabs, every script and the C1 controls' neighbours stay; C1 controls, DEL, NUL and bytes
  // that are no UTF-8 are escaped.
  EXPECT_EQ(ActivityLog::FileText("a\tb \xE6\x97\xA5\xE6\x9C\xAC j\xC3\xBCrgen.gro\xC3\x9F"),
            "a\tb \xE6\x97\xA5\xE6\x9C\xAC j\xC3\xBCrgen.gro\xC3\x9F");
  EXPECT_EQ(ActivityLog::FileText(std::string("x\xC2\x85y\x7F\0z\xFF", 8)),
            "x\\u0085y\\x7f\\x00z\\xff");
  // The terminal keeps a text's line breaks; the file never does.
  EXPECT_EQ(EscapeControls("one\r\ntwo\nthree\rfour", LineBreaks::Keep),
            "one\r\ntwo\nthree\\x0dfour");
  EXPECT_EQ(EscapeControls("one\r\ntwo\nthree", LineBreaks::Escape), "one\\x0d\\x0atwo\\x0athree");

  oa::testing::TempDir dir;
  ActivityLog log(dir / "OA-Cleanup.log", [] { return oa::Date{45658.5}; });
  ASSERT_TRUE(log.Append("first\r\nsecond", false, nullptr));
  ASSERT_TRUE(log.Append("next", true, nullptr));
  const std::string text = oa::testing::ReadFile(dir / "OA-Cleanup.log");
  EXPECT_EQ(text, ActivityLog::StampText(oa::Date{45658.5}) + ":first\\x0d\\x0asecond\r\nnext\r\n");
}

class ChoosePath : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() == 0)
      GTEST_SKIP() << "root writes every directory (LogPlace runs the program as nobody)";
    std::filesystem::create_directories(bin);
  }
  void TearDown() override { ::chmod(bin.c_str(), 0755); }
  oa::testing::TempDir dir;
  const std::string bin = dir / "bin";
  const std::string user = dir / "state/ondavel";
};

TEST_F(ChoosePath, BesideTheProgramWhenWritableElseTheUsersOwnPlace) {
  EXPECT_EQ(ActivityLog::ChoosePath(bin, user), bin + "/OA-Cleanup.log");
  EXPECT_TRUE(std::filesystem::is_empty(bin)) << "the probe is removed";
  EXPECT_FALSE(std::filesystem::exists(dir / "state"));

  ::chmod(bin.c_str(), 0555);
  EXPECT_EQ(ActivityLog::ChoosePath(bin, user), user + "/OA-Cleanup.log");
  EXPECT_EQ(ModeOf(dir / "state"), 0700u);
  EXPECT_EQ(ModeOf(user), 0700u);
  // No user place, or none writable: beside the program, where writing fails and is said.
  EXPECT_EQ(ActivityLog::ChoosePath(bin, ""), bin + "/OA-Cleanup.log");
  ::chmod(user.c_str(), 0500);
  EXPECT_EQ(ActivityLog::ChoosePath(bin, user), bin + "/OA-Cleanup.log");
  ::chmod(user.c_str(), 0700);

  // A log beside the program that can still be written is kept in a read-only directory.
  ::chmod(bin.c_str(), 0755);
  oa::testing::WriteFile(bin + "/OA-Cleanup.log", "");
  ::chmod(bin.c_str(), 0555);
  EXPECT_EQ(ActivityLog::ChoosePath(bin, user), bin + "/OA-Cleanup.log");
  ::chmod((bin + "/OA-Cleanup.log").c_str(), 0400);
  EXPECT_EQ(ActivityLog::ChoosePath(bin, user), user + "/OA-Cleanup.log");
}

}  // namespace
}  // namespace oa::console
