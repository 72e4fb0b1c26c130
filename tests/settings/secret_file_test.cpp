// The one reader of password and client secret files: what it refuses (each with the file and
// the reason), what it takes, and that the process leaves no core dump once it has read one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include "settings/password.h"
#include "tests/nowindow/temp_files.h"

namespace oa::settings {
namespace {

using oa::testing::TempDir;
using oa::testing::WriteFile;

class SecretFileTest : public ::testing::Test {
 protected:
  std::string Secret(const std::string& name, const std::string& text, mode_t mode) {
    const std::string path = dir / name;
    WriteFile(path, text);
    ::chmod(path.c_str(), mode);
    return path;
  }
  // The error of reading `path`, or "read: <secret>" when it was taken.
  static std::string Read(const std::string& path) {
    std::string error;
    const std::optional<std::string> secret = ReadPasswordFile(path, &error);
    return secret ? "read: " + *secret : error;
  }

  TempDir dir;
};

TEST_F(SecretFileTest, OnlyARegularFileOfOurOwnThatNobodyElseMayRead) {
  EXPECT_EQ(Read(Secret("good", "s3cret\nrest\n", 0600)), "read: s3cret");
  // A symlink is judged by the file it leads to.
  std::filesystem::create_symlink(dir / "good", dir / "link");
  EXPECT_EQ(Read(dir / "link"), "read: s3cret");

  std::filesystem::create_directory(dir / "sub");
  ::chmod((dir / "sub").c_str(), 0700);
  EXPECT_EQ(Read(dir / "sub"), dir / "sub" + ": is no regular file");
  EXPECT_EQ(Read("/dev/zero"), "/dev/zero: is no regular file");

  const std::string group = Secret("group", "s3cret\n", 0640);
  EXPECT_EQ(Read(group), group + ": mode 0640, must be readable by its owner only (chmod 600)");

  const std::string huge = Secret("huge", "s3cret\n" + std::string(kMaxSecretFileBytes, 'x'), 0600);
  EXPECT_EQ(Read(huge), huge +
                            ": is larger than 64 KiB, the most a password or secret file may "
                            "hold");
  EXPECT_EQ(Read(Secret("full", std::string(kMaxSecretFileBytes, 'x'), 0600)),
            "read: " + std::string(kMaxSecretFileBytes, 'x'));
}

// Opening a FIFO for reading waits for a writer; the reader must not.
TEST_F(SecretFileTest, FifoIsRefusedWithoutWaitingForAWriter) {
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(Read(fifo), fifo + ": is no regular file");
}

// Root may read every file, but a secret file someone else owns was not put there by us.
TEST_F(SecretFileTest, FileOwnedByAnotherUserIsRefusedAlsoForRoot) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file away";
  const std::string theirs = Secret("theirs", "s3cret\n", 0600);
  ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
  EXPECT_EQ(Read(theirs), theirs + ": is owned by user 65534, not by you (uid 0)");
}

#ifdef __linux__
// In a child process, so that the test runner itself is not changed by the test.
TEST_F(SecretFileTest, ProcessIsNoLongerDumpableOnceASecretIsRead) {
  const std::string good = Secret("good", "s3cret\n", 0600);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Dumpable to begin with (the tests before this one read secrets in this process).
    ::prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
    if (::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 1) ::_exit(2);
    std::string error;
    if (!ReadPasswordFile(good, &error)) ::_exit(3);
    ::_exit(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: still dumpable; 2: not dumpable before; 3: not read";
}
#endif

}  // namespace
}  // namespace oa::settings
