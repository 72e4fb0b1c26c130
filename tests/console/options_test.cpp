#include "console/options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <vector>

#include "console/activity_log.h"

namespace oa {
namespace {

struct Parsed {
  std::optional<int> status;
  Options options;
  std::string out;
  std::string err;
};

Parsed Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "oa-cleanup");
  Parsed p;
  std::ostringstream out, err;
  p.status = ParseOptions(static_cast<int>(args.size()), args.data(), p.options, out, err);
  p.out = out.str();
  p.err = err.str();
  return p;
}

TEST(Options, WithoutArgumentsTheLogLiesBesideTheProgram) {
  const Parsed p = Parse({});
  EXPECT_FALSE(p.status.has_value());
  EXPECT_EQ(p.options.logPath, ActivityLog::DefaultPath());
  EXPECT_FALSE(p.options.checkRegistry);
  // The test program's own directory stands in for the program's.
  const std::string& path = p.options.logPath;
  ASSERT_GE(path.size(), 15u);
  EXPECT_EQ(path.substr(path.size() - 15), "/OA-Cleanup.log");
  EXPECT_EQ(path.substr(0, path.size() - 15),
            std::string(std::filesystem::read_symlink("/proc/self/exe").parent_path()));
}

TEST(Options, LogNamesAnotherFile) {
  const Parsed p = Parse({"--log", "/var/tmp/cleanup.log"});
  EXPECT_FALSE(p.status.has_value());
  EXPECT_EQ(p.options.logPath, "/var/tmp/cleanup.log");
}

TEST(Options, CheckRegistry) {
  const Parsed p = Parse({"--check-registry"});
  EXPECT_FALSE(p.status.has_value());
  EXPECT_TRUE(p.options.checkRegistry);
}

TEST(Options, VersionAndHelpEndTheProgramWithSuccess) {
  const Parsed version = Parse({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string(OA_VERSION) + "\n");
  const Parsed help = Parse({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--log FILE"), std::string::npos);
  EXPECT_NE(help.out.find("--check-registry"), std::string::npos);
}

TEST(Options, UnknownOptionOrMissingFileNameFails) {
  const Parsed unknown = Parse({"--bogus"});
  ASSERT_TRUE(unknown.status.has_value());
  EXPECT_NE(*unknown.status, 0);
  EXPECT_NE(unknown.err.find("--bogus"), std::string::npos);
  const Parsed missing = Parse({"--log"});
  ASSERT_TRUE(missing.status.has_value());
  EXPECT_NE(*missing.status, 0);
}

}  // namespace
}  // namespace oa
