// Where the activity log goes, through the program itself installed in a directory its user
// cannot write (as /usr/bin is): the user's own place ($XDG_STATE_HOME/ondavel, made owner-only),
// a log already beside the program kept while it can be written, and a word on standard error,
// once, when no place can be written. As root the program runs as "nobody" (root writes every
// directory).
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "tests/nowindow/child_process.h"
#include "tests/nowindow/temp_files.h"

namespace oa::testing {
namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
}

class LogPlace : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() == 0) {
      const passwd* nobody = ::getpwnam("nobody");
      if (!nobody || ::access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "as root, needs the user nobody and setpriv to run as a user who cannot "
                        "write the program's directory";
      uid_ = nobody->pw_uid;
      gid_ = nobody->pw_gid;
    }
    // The installed program: a directory only its owner (root, or the test's user after
    // chmod 555) could write.
    fs::create_directories(bin);
    fs::copy_file(OA_CLEANUP_BIN, bin + "/oa-cleanup");
    fs::create_directories(home);
    Own(home);
    env = {{"HOME", home}, {"XDG_STATE_HOME", ""}, {"XDG_CONFIG_HOME", ""}, {"LC_ALL", "C"}};
  }
  void TearDown() override {
    // The test's user may remove it again.
    ::chmod(bin.c_str(), 0755);
  }
  void ProgramDirReadOnly() { ::chmod(bin.c_str(), 0555); }
  // Hands a file or directory to the user the program runs as.
  void Own(const std::string& path) {
    if (uid_ != 0) {
      ASSERT_EQ(::chown(path.c_str(), uid_, gid_), 0) << path;
    }
  }
  ChildResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), bin + "/oa-cleanup");
    if (uid_ != 0) {
      args.insert(args.begin(), {"/usr/bin/setpriv", "--reuid=" + std::to_string(uid_),
                                 "--regid=" + std::to_string(gid_), "--clear-groups"});
    }
    return RunProgram(args, env);
  }
  // A logon that fails after two lines, with no network: a store file that does not exist.
  ChildResult FailingRun() {
    return Run({"--no-window", "--server", dir / "absent.oastore", "--mailbox", "jdoe"});
  }
  static std::string ActivityLogLine(const std::string& out) {
    for (const std::string& line : Lines(out))
      if (line.rfind("Activity log: ", 0) == 0) return line.substr(14);
    return "";
  }

  TempDir dir;
  const std::string bin = dir / "bin";
  const std::string home = dir / "home";
  std::map<std::string, std::string> env;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

TEST_F(LogPlace, UnwritableProgramDirectoryLogsToTheStateDirectoryMadeOwnerOnly) {
  ProgramDirReadOnly();
  const std::string state = home + "/.local/state/ondavel/OA-Cleanup.log";
  ChildResult check = Run({"--check-config"});
  ASSERT_EQ(check.status, 0) << check.err;
  EXPECT_EQ(ActivityLogLine(check.out), state);

  ChildResult run = FailingRun();
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_EQ(run.err.find("activity log"), std::string::npos) << run.err;
  const std::string log = ReadFile(state);
  EXPECT_EQ(log.rfind("\r\n", 0), 0u) << "the run's clear line first: " << log;
  EXPECT_NE(log.find(":Logging on with jdoe "), std::string::npos) << log;
  for (const std::string& d :
       {home + "/.local", home + "/.local/state", home + "/.local/state/ondavel"})
    EXPECT_EQ(ModeOf(d), 0700u) << d;
  EXPECT_EQ(ModeOf(state), 0600u);
  EXPECT_FALSE(fs::exists(bin + "/OA-Cleanup.log"));
  EXPECT_EQ(std::distance(fs::directory_iterator(bin), fs::directory_iterator()), 1)
      << "no probe file left beside the program";

  // XDG_STATE_HOME, when absolute, is the place.
  const std::string xdg = dir / "xdg-state";
  fs::create_directories(xdg);
  Own(xdg);
  env["XDG_STATE_HOME"] = xdg;
  EXPECT_EQ(ActivityLogLine(Run({"--check-config"}).out), xdg + "/ondavel/OA-Cleanup.log");
  FailingRun();
  EXPECT_NE(ReadFile(xdg + "/ondavel/OA-Cleanup.log").find(":instantiating RDO\r\n"),
            std::string::npos);
}

TEST_F(LogPlace, WritableProgramDirectoryOrLogFileKeepsTheLogBesideTheProgram) {
  // Writable by the program's user: the log goes beside it, the state directory is not made.
  Own(bin);
  EXPECT_EQ(ActivityLogLine(Run({"--check-config"}).out), bin + "/OA-Cleanup.log");
  EXPECT_FALSE(fs::exists(bin + "/OA-Cleanup.log")) << "--check-config writes no log";
  FailingRun();
  EXPECT_NE(ReadFile(bin + "/OA-Cleanup.log").find(":instantiating RDO\r\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(home + "/.local"));

  // The directory read-only, but the log in it still writable: it is kept.
  ProgramDirReadOnly();
  EXPECT_EQ(ActivityLogLine(Run({"--check-config"}).out), bin + "/OA-Cleanup.log");
  FailingRun();
  const std::string log = ReadFile(bin + "/OA-Cleanup.log");
  EXPECT_NE(log.find(":instantiating RDO\r\n"), log.rfind(":instantiating RDO\r\n")) << log;
  EXPECT_FALSE(fs::exists(home + "/.local"));
}

TEST_F(LogPlace, NoWritablePlaceIsSaidOnceOnStandardErrorAndTheRunGoesOn) {
  ProgramDirReadOnly();
  // The user's place below a directory no one but root may write.
  const std::string locked = dir / "locked";
  fs::create_directories(locked);
  ::chmod(locked.c_str(), 0555);
  env["XDG_STATE_HOME"] = locked;
  EXPECT_EQ(ActivityLogLine(Run({"--check-config"}).out), bin + "/OA-Cleanup.log");
  ChildResult run = FailingRun();
  ::chmod(locked.c_str(), 0755);
  EXPECT_EQ(run.status, 3) << run.err;
  // The run's lines still reach standard output.
  EXPECT_NE(run.out.find("Logging on with jdoe "), std::string::npos) << run.out;
  const std::string said = "oa-cleanup: the activity log " + bin +
                           "/OA-Cleanup.log cannot be written (Permission denied); the run's "
                           "lines are kept in no file\n";
  const size_t at = run.err.find(said);
  ASSERT_NE(at, std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("activity log", at + said.size()), std::string::npos)
      << "once: " << run.err;
}

}  // namespace
}  // namespace oa::testing
