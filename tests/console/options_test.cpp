#include "console/options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <vector>

#include "console/activity_log.h"

namespace oa::console {
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
#ifdef _WIN32
  // GetModuleFileNameW's directory, with the system's own separator.
  ASSERT_GE(path.size(), 15u);
  EXPECT_EQ(path.substr(path.size() - 15), "\\OA-Cleanup.log");
  EXPECT_TRUE(std::filesystem::exists(path.substr(0, path.size() - 15) + "\\console_tests.exe"))
      << path;
#else
  ASSERT_GE(path.size(), 15u);
  EXPECT_EQ(path.substr(path.size() - 15), "/OA-Cleanup.log");
  EXPECT_EQ(path.substr(0, path.size() - 15),
            std::string(std::filesystem::read_symlink("/proc/self/exe").parent_path()));
#endif
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

// --help names the places and logons of the system it runs on, never the other one's.
TEST(Options, HelpSpeaksTheSystemsOwnPlaces) {
  const Parsed help = Parse({"--help"});
  ASSERT_EQ(help.status, 0);
  const std::string& text = help.out;
  auto has = [&text](const char* s) { return text.find(s) != std::string::npos; };
#ifdef _WIN32
  EXPECT_TRUE(has("%APPDATA%\\ondavel\\oa-cleanup.conf")) << text;
  EXPECT_TRUE(has("%LOCALAPPDATA%\\ondavel\\stores")) << text;
  EXPECT_TRUE(has("else in %LOCALAPPDATA%\\ondavel")) << text;
  EXPECT_TRUE(has("Windows certificate store")) << text;
  EXPECT_TRUE(has("signs on as the Windows user")) << text;
  for (const char* unix : {"~/", ".netrc", "chmod", "Kerberos", ".config"})
    EXPECT_FALSE(has(unix)) << unix << " in\n" << text;
#else
  EXPECT_TRUE(has("~/.config/ondavel/oa-cleanup.conf")) << text;
  EXPECT_TRUE(has("else in ~/.local/state/ondavel")) << text;
  EXPECT_TRUE(has("chmod 600")) << text;
  for (const char* windows : {"%APPDATA%", "%LOCALAPPDATA%", "On Windows", "Credential Manager"})
    EXPECT_FALSE(has(windows)) << windows << " in\n" << text;
#endif
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

TEST(Options, ConnectionSettingsAreKeptAsGiven) {
  const Parsed p = Parse({"--check-config", "--config", "/etc/oa.conf", "--user", "EXAMPLE\\svc",
                          "--password-file", "/home/a/pw", "--ca-file", "/etc/ca.pem", "--timeout",
                          "90", "--max-wait", "2m", "--store-dir", "/srv/stores", "--delegate"});
  EXPECT_FALSE(p.status.has_value()) << p.err;
  const settings::ConfigOptions& c = p.options.config;
  EXPECT_TRUE(p.options.checkConfig);
  EXPECT_EQ(c.configFile, "/etc/oa.conf");
  EXPECT_EQ(c.user, "EXAMPLE\\svc");
  EXPECT_EQ(c.passwordFile, "/home/a/pw");
  EXPECT_EQ(c.caFile, "/etc/ca.pem");
  EXPECT_EQ(c.timeout, "90");
  EXPECT_EQ(c.maxWait, "2m");
  EXPECT_EQ(c.storeDirectory, "/srv/stores");
  EXPECT_EQ(c.impersonate, false);
  EXPECT_EQ(Parse({"--impersonate"}).options.config.impersonate, true);
  EXPECT_EQ(Parse({"--delegate", "--impersonate"}).status, 2);
  EXPECT_FALSE(Parse({}).options.config.impersonate.has_value());

  const Parsed password = Parse({"--user", "svc", "--password=Pa55-word"});
  EXPECT_EQ(password.status, 2);
  EXPECT_EQ(password.err.find("Pa55-word"), std::string::npos);
}

}  // namespace
}  // namespace oa::console
