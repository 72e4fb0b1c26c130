// The program's configuration against the loopback server: a password file private to its owner
// logs on (from the command line and from the configuration file), one that others may read
// stops the program before it sends anything, and --impersonate reaches the requests.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

}  // namespace
}  // namespace oa::ews::testing
