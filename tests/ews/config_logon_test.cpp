// The program's configuration against the loopback server: a password file private to its owner
// logs on (from the command line and from the configuration file), one that others may read
// stops the program before it sends anything, and --impersonate reaches the requests.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "tests/ews/ews_test_server.h"
#include "tests/ews/server_fixture.h"
#include "tests/nowindow/run_fixture.h"

namespace oa::ews::testing {
namespace {

using oa::testing::ChildResult;
using oa::testing::Dump;
using oa::testing::Lines;
using oa::testing::MailboxStore;

class ConfiguredLogon : public oa::testing::RunFixture {
 protected:
  void SetUp() override {
    // Nothing of the test's own environment or the user's files: no ticket, no ~/.netrc, no
    // credentials in variables, the configuration file in the test's directory.
    oa::testing::WriteFile(dir / "krb5.conf", "");
    env["KRB5_CONFIG"] = dir / "krb5.conf";
    env["KRB5CCNAME"] = "FILE:" + dir / "no-ticket";
    env["HOME"] = dir.path().string();
    env["XDG_CONFIG_HOME"] = dir / "config";
    for (const char* v : {"OA_EWS_USER", "OA_EWS_PASSWORD", "OA_EWS_PASSWORD_FILE", "OA_EWS_CAFILE",
                          "OA_EWS_ACCESS", "OA_EWS_TIMEOUT_MS", "OA_EWS_MAX_WAIT_MS"})
      env[v] = "";
    std::filesystem::create_directories(dir / "config/ondavel");

    Import(Dump({MailboxStore({.alias = "jdoe", .items = 3}), MailboxStore({.alias = "mary"})}),
           "viaews");
    options.storeFile = StoreFile("viaews");
    options.mailboxes = {{"jdoe", "jdoe@example.com"}, {"mary", "mary@example.com"}};
    options.certDir = dir.path().string();
    options.lifetime = std::chrono::seconds(120);
    options.offer = {AuthScheme::Ntlm, AuthScheme::Basic};
    server = std::make_unique<EwsTestServer>(options);
    ASSERT_TRUE(server->Start());
  }
  void TearDown() override { server->Stop(); }

  std::string PasswordFile(const std::string& text, mode_t mode) {
    const std::string path = dir / "ews-password";
    oa::testing::WriteFile(path, text);
    ::chmod(path.c_str(), mode);
    return path;
  }
  void ExpectNoPassword(const ChildResult& r) {
    EXPECT_EQ(r.out.find(options.password), std::string::npos);
    EXPECT_EQ(r.err.find(options.password), std::string::npos);
    for (const std::string& line : LogLines())
      EXPECT_EQ(line.find(options.password), std::string::npos);
  }

  ServerOptions options;
  std::unique_ptr<EwsTestServer> server;
};

TEST_F(ConfiguredLogon, PasswordFileOfItsOwnerOnlyLogsOn) {
  const std::string file = PasswordFile(options.password + "\n", 0600);
  ChildResult r = Cleanup({"--server", server->url(), "--mailbox", "jdoe", "--user", options.user,
                           "--password-file", file, "--ca-file", server->caFile()});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_FALSE(Lines(r.out).empty());
  EXPECT_EQ(Lines(r.out).back(), "pointed agent to new Handhelds folder");
  ExpectNoPassword(r);
  int passed = 0;
  for (const SeenRequest& q : server->Requests()) {
    if (!q.authorized) continue;
    ++passed;
    EXPECT_EQ(q.scheme, "NTLM");
    EXPECT_EQ(q.principal, options.user);
    EXPECT_EQ(q.anchorMailbox, "");
  }
  EXPECT_GT(passed, 5);

  // The same from the configuration file, acting as the mailbox by impersonation.
  oa::testing::WriteFile(dir / "config/ondavel/oa-cleanup.conf",
                         "[ews]\n"
                         "user = " +
                             options.user +
                             "\n"
                             "password-file = " +
                             file +
                             "\n"
                             "ca-file = " +
                             server->caFile() +
                             "\n"
                             "access = impersonate\n");
  server->ClearRequests();
  r = Cleanup({"--server", server->url(), "--mailbox", "mary"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_FALSE(Lines(r.out).empty());
  EXPECT_EQ(Lines(r.out).back(), "pointed agent to new Handhelds folder");
  ExpectNoPassword(r);
  const auto requests = server->Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back().anchorMailbox, "mary@example.com");
}

TEST_F(ConfiguredLogon, PasswordFileOthersMayReadStopsTheRunBeforeAnyRequest) {
  const std::string file = PasswordFile(options.password + "\n", 0644);
  ChildResult r = Cleanup({"--server", server->url(), "--mailbox", "jdoe", "--user", options.user,
                           "--password-file", file, "--ca-file", server->caFile()});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "oa-cleanup: --password-file: " + file +
                       ": mode 0644, must be readable by its owner only (chmod 600)\n");
  EXPECT_TRUE(server->Requests().empty());
  EXPECT_FALSE(std::filesystem::exists(logFile));
  ExpectNoPassword(r);
}

TEST_F(ConfiguredLogon, WrongPasswordInTheFileIsRefusedNamingWhereItCameFrom) {
  const std::string file = PasswordFile("wrong-Pa55\n", 0600);
  ChildResult r = Cleanup({"--server", server->url(), "--mailbox", "jdoe", "--user", options.user,
                           "--password-file", file, "--ca-file", server->caFile()});
  EXPECT_EQ(r.status, 3) << r.err;
  ASSERT_FALSE(Lines(r.out).empty());
  EXPECT_NE(Lines(r.out).back().find("check the credentials in --user and the password file " +
                                     file + " or ~/.netrc"),
            std::string::npos)
      << Lines(r.out).back();
  EXPECT_EQ(r.out.find("wrong-Pa55"), std::string::npos);
  EXPECT_EQ(r.err.find("wrong-Pa55"), std::string::npos);
}

// oa-cleanup on a terminal of its own (a pseudo-terminal): what it writes there, and its exit
// status. `answer` is typed once `prompt` has appeared.
struct TerminalRun {
  std::string screen;
  int status = -1;
};

TerminalRun RunOnTerminal(const std::vector<std::string>& args,
                          const std::map<std::string, std::string>& env, const std::string& prompt,
                          const std::string& answer) {
  // Everything the child needs is made before the fork: the test server's threads run on.
  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (!env.count(entry.substr(0, entry.find('=')))) envText.push_back(entry);
  }
  for (const auto& [k, v] : env) envText.push_back(k + "=" + v);
  std::vector<char*> envp, argv;
  for (std::string& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argText = args;
  for (std::string& a : argText) argv.push_back(a.data());
  argv.push_back(nullptr);

  TerminalRun run;
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  if (pid < 0) {
    ADD_FAILURE() << "forkpty: " << std::strerror(errno);
    return run;
  }
  bool typed = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 1000) <= 0) continue;
    char buf[4096];
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) break;  // the child has closed the terminal
    run.screen.append(buf, static_cast<size_t>(n));
    if (!typed && run.screen.find(prompt) != std::string::npos) {
      const std::string line = answer + "\n";
      EXPECT_EQ(::write(master, line.data(), line.size()), static_cast<ssize_t>(line.size()));
      typed = true;
    }
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  ::close(master);
  run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  EXPECT_TRUE(typed) << run.screen;
  return run;
}

TEST_F(ConfiguredLogon, PasswordAskedOnTheTerminalIsNotEchoed) {
  TerminalRun r =
      RunOnTerminal({OA_CLEANUP_BIN, "--no-window", "--log", logFile, "--server", server->url(),
                     "--mailbox", "jdoe", "--user", options.user, "--ca-file", server->caFile()},
                    env, "Password for " + options.user + ": ", options.password);
  EXPECT_EQ(r.status, 0) << r.screen;
  EXPECT_EQ(r.screen.find(options.password), std::string::npos) << r.screen;
  EXPECT_NE(r.screen.find("pointed agent to new Handhelds folder"), std::string::npos) << r.screen;
  for (const std::string& line : LogLines())
    EXPECT_EQ(line.find(options.password), std::string::npos);
  int passed = 0;
  for (const SeenRequest& q : server->Requests()) passed += q.authorized ? 1 : 0;
  EXPECT_GT(passed, 5);
}

}  // namespace
}  // namespace oa::ews::testing
