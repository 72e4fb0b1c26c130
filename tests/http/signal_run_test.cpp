// oa-cleanup --no-window against a server that takes the request and never answers: a signal
// sent once the server has the request ends the program within 10 s, where the fault waited for
// the 120 s time-out, with the cancel's exit status and nothing after the cancelled logon.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "hostile_server.h"
#include "tests/nowindow/child_process.h"
#include "tests/nowindow/temp_files.h"

extern char** environ;

namespace oa::test {
namespace {

using oa::testing::ReadFile;
using oa::testing::TempDir;
using oa::testing::WriteFile;

struct Ended {
  int status = -1;  // exit status, 128 + signal when killed
  std::chrono::duration<double> afterSignal{};
};

class SignalDuringRequest : public ::testing::TestWithParam<int> {
 protected:
  // Starts the program on `server`, sends `sig` once the server has the logon's request, and
  // waits for the end (killing it after 60 s, which fails the test).
  Ended RunAndSignal(HostileServer& server, int sig) {
    WriteFile(dir / "user.reg", "");
    WriteFile(dir / "machine.reg", "");
    std::vector<std::string> args = {OA_CLEANUP_BIN, "--no-window",
                                     "--log",        dir / "log.txt",
                                     "--server",     server.url() + "EWS/Exchange.asmx",
                                     "--mailbox",    "jdoe"};
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      const std::string name = entry.substr(0, entry.find('='));
      if (name == "HOME" || name == "LC_ALL" || name.rfind("OA_", 0) == 0) continue;
      env.push_back(entry);
    }
    for (const std::string& e :
         {"HOME=" + dir.path().string(), std::string("LC_ALL=C"),
          "OA_REGISTRY_USER=" + dir / "user.reg", "OA_REGISTRY_MACHINE=" + dir / "machine.reg"}) {
      env.push_back(e);
    }
    std::vector<char*> argp, envp;
    for (std::string& a : args) argp.push_back(a.data());
    argp.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string out = dir / "out.txt", err = dir / "err.txt";

    Ended ended;
    const pid_t pid = ::fork();
    if (pid < 0) return ended;
    if (pid == 0) {
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(o, STDOUT_FILENO);
      ::dup2(e, STDERR_FILENO);
      ::execve(argp[0], argp.data(), envp.data());
      ::_exit(127);
    }
    int status = 0;
    if (!server.WaitForRequest()) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ADD_FAILURE() << "the server saw no request";
      return ended;
    }
    ::kill(pid, sig);
    const auto signalled = std::chrono::steady_clock::now();
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() - signalled > std::chrono::seconds(60)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ended.afterSignal = std::chrono::steady_clock::now() - signalled;
    ended.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return ended;
  }

  TempDir dir;
};

TEST_P(SignalDuringRequest, EndsTheRunWithinTenSecondsAsCancelled) {
  // Takes the request and answers nothing until the test ends.
  HostileServer server([](HostileServer& s, int, const std::string&) {
    while (!s.stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  const Ended ended = RunAndSignal(server, GetParam());
  EXPECT_EQ(ended.status, 130) << ReadFile(dir / "err.txt");
  EXPECT_LT(ended.afterSignal, std::chrono::seconds(10));
  const std::vector<std::string> lines = oa::testing::Lines(ReadFile(dir / "out.txt"));
  ASSERT_EQ(lines.size(), 3u) << ReadFile(dir / "out.txt");
  EXPECT_EQ(lines[0], "instantiating RDO");
  EXPECT_EQ(lines[1].rfind("Logging on with jdoe http://127.0.0.1:", 0), 0u) << lines[1];
  // The cancelled logon is the last line: nothing ran on after it.
  EXPECT_EQ(lines[2], "RDO.LoggedOn = False -2147220223 The request to the server was cancelled.");
}

INSTANTIATE_TEST_SUITE_P(TermAndInt, SignalDuringRequest, ::testing::Values(SIGTERM, SIGINT),
                         [](const ::testing::TestParamInfo<int>& p) {
                           return p.param == SIGTERM ? std::string("Sigterm")
                                                     : std::string("Sigint");
                         });

}  // namespace
}  // namespace oa::test
