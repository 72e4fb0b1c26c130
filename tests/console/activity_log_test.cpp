// The activity log's file: created for its owner only, whatever the umask.
#include "console/activity_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/nowindow/temp_files.h"

namespace oa {
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

}  // namespace
}  // namespace oa
