// Logons by Negotiate (a Kerberos ticket from a throw-away realm) and by NTLM against the
// loopback server, in-process and through the window-less program; the order the schemes are
// tried in; and where the password must never turn up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <regex>
#include <thread>

#include "base/mapi_error.h"
#include "mailbox/ews/objects.h"
#include "mailbox/ews/props.h"
#include "mailbox/model/const_mapi.h"
#include "tests/ews/kdc_fixture.h"
#include "tests/ews/ntlm_server.h"
#include "tests/ews/server_fixture.h"
#include "tests/nowindow/run_fixture.h"

namespace oa::ews::testing {
namespace {

using namespace oa::mailbox;
using namespace oa::mailbox::ConstMAPI;
using nlohmann::json;
using oa::testing::Dump;
using oa::testing::Lines;
using oa::testing::MailboxStore;

const std::string kRefused =
    "The server refused the logon (HTTP 401 Unauthorized); check the credentials in "
    "OA_EWS_USER and OA_EWS_PASSWORD or ~/.netrc, or the Kerberos ticket.";

// Environment variables of the test process, put back as they were at the end.
class ScopedEnv {
 public:
  ScopedEnv() = default;
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second)
        setenv(it->first.c_str(), it->second->c_str(), 1);
      else
        unsetenv(it->first.c_str());
    }
  }
  void Set(const std::string& name, const std::string& value) {
    Save(name);
    setenv(name.c_str(), value.c_str(), 1);
  }
  void Unset(const std::string& name) {
    Save(name);
    unsetenv(name.c_str());
  }

 private:
  void Save(const std::string& name) {
    for (const auto& s : saved_)
      if (s.first == name) return;
    const char* v = std::getenv(name.c_str());
    saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The realm every Kerberos test of this process shares; nullptr, with *error, when it cannot
// be made.
TestRealm* Realm(std::string* error) {
  static oa::testing::TempDir dir;
  static std::unique_ptr<TestRealm> realm;
  static std::string failure;
  static bool made = false;
  if (!made) {
    made = true;
    auto r = std::make_unique<TestRealm>(dir.path().string());
    if (r->Start())
      realm = std::move(r);
    else
      failure = r->error();
  }
  *error = failure;
  return realm.get();
}

// Without MIT Kerberos' programs a developer's run skips the Kerberos tests; CI's fails.
#define REQUIRE_REALM(realm)                                                     \
  do {                                                                           \
    std::string error_;                                                          \
    realm = Realm(&error_);                                                      \
    if (!realm) {                                                                \
      const char* ci = std::getenv("CI");                                        \
      if (!MissingKerberosTools().empty() && !(ci && std::string(ci) == "true")) \
        GTEST_SKIP() << error_;                                                  \
      FAIL() << error_;                                                          \
    }                                                                            \
  } while (false)

// Whether a text, or the base64 token in an Authorization header, holds the password in
// ASCII or UTF-16LE.
bool CarriesPassword(const std::string& text, const std::string& password) {
  if (text.find(password) != std::string::npos) return true;
  std::string utf16;
  for (char c : password) utf16 += std::string{c, '\0'};
  const size_t blank = text.find(' ');
  if (blank == std::string::npos) return false;
  auto decoded = Base64Decode(text.substr(blank + 1));
  if (!decoded) return false;
  const std::string bytes(decoded->begin(), decoded->end());
  return bytes.find(password) != std::string::npos || bytes.find(utf16) != std::string::npos;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

int NtlmType(const SeenRequest& r) {
  if (!StartsWith(r.authorization, "NTLM ")) return 0;
  return NtlmMessageType(Base64Decode(r.authorization.substr(5)).value_or(std::vector<uint8_t>{}));
}

// The loopback server with the schemes a test offers, and a client environment that has no
// ticket, no credentials and no ~/.netrc until the test gives it some.
class AuthTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env.Set("HOME", dir.path().string());
    oa::testing::WriteFile(dir / "krb5.conf", "");
    env.Set("KRB5_CONFIG", dir / "krb5.conf");
    env.Set("KRB5CCNAME", "FILE:" + dir / "no-ticket");
    env.Set("KRB5_CLIENT_KTNAME", "FILE:" + dir / "no.keytab");
    env.Set("KRB5RCACHEDIR", dir.path().string());
    for (const char* v : {"OA_EWS_USER", "OA_EWS_PASSWORD", "OA_EWS_ACCESS", "OA_EWS_TIMEOUT_MS",
                          "OA_EWS_MAX_WAIT_MS"})
      env.Unset(v);
  }
  void TearDown() override {
    if (server) server->Stop();
  }

  void Serve(std::vector<AuthScheme> offer, const std::string& keytab = "") {
    const json dump = Dump({MailboxStore({.alias = "jdoe", .items = 3})});
    const std::string storeFile = dir / "served.oastore";
    oa::testing::ImportStore(dump, storeFile);
    options.storeFile = storeFile;
    options.mailboxes = MailboxesOf(dump);
    options.certDir = dir.path().string();
    options.lifetime = std::chrono::seconds(120);
    options.offer = std::move(offer);
    options.keytab = keytab;
    server = std::make_unique<EwsTestServer>(options);
    ASSERT_TRUE(server->Start());
    env.Set("OA_EWS_CAFILE", server->caFile());
  }
  void GiveCredentials(const std::string& password) {
    env.Set("OA_EWS_USER", options.user);
    env.Set("OA_EWS_PASSWORD", password);
  }

  // Logs on and reads the Handhelds folder, a few requests over the same connection.
  std::shared_ptr<EwsSession> LogonAndRead() {
    auto s = std::make_shared<EwsSession>(oa::testing::BackendOptionsFromEnvironment().ews);
    Err().Clear();
    s->LogonExchangeMailbox("jdoe", server->url());
    if (s->LoggedOn()) {
      auto hh = s->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds");
      EXPECT_TRUE(hh);
      if (hh) {
        EXPECT_EQ(hh->Items()->Count(), 3);
      }
    }
    return s;
  }

  // Every request the server let through was authenticated by `scheme` as `principal`, none
  // carried another scheme or the password, and there were some.
  void ExpectOnly(const std::string& scheme, const std::string& principal) {
    int passed = 0;
    for (const SeenRequest& r : server->Requests()) {
      // Basic is the one scheme that must carry it.
      if (scheme != "Basic") {
        EXPECT_FALSE(CarriesPassword(r.authorization, options.password)) << r.authorization;
      }
      EXPECT_FALSE(CarriesPassword(r.body, options.password));
      if (!r.authorization.empty()) {
        EXPECT_TRUE(StartsWith(r.authorization, scheme + " ")) << r.authorization;
      }
      if (!r.authorized) continue;
      ++passed;
      EXPECT_EQ(r.scheme, scheme);
      EXPECT_EQ(r.principal, principal);
    }
    EXPECT_GE(passed, 4);
  }

  oa::testing::TempDir dir;
  ScopedEnv env;
  ServerOptions options;
  std::unique_ptr<EwsTestServer> server;
};

// --- NTLM ---------------------------------------------------------------------------------

TEST_F(AuthTest, NtlmAfterNegotiateWithoutTicketLogsOnOnceForTheConnection) {
  Serve({AuthScheme::Negotiate, AuthScheme::Ntlm});
  GiveCredentials(options.password);
  auto s = LogonAndRead();
  ASSERT_TRUE(s->LoggedOn()) << Err().Description();
  ExpectOnly("NTLM", options.user);
  // One handshake (negotiate, challenge, authenticate) serves every later request.
  const auto requests = server->Requests();
  int negotiates = 0, authenticates = 0;
  for (const SeenRequest& r : requests) {
    negotiates += NtlmType(r) == 1;
    authenticates += NtlmType(r) == 3;
  }
  EXPECT_EQ(negotiates, 1);
  EXPECT_EQ(authenticates, 1);
  // The first request asked the server what it takes; nothing went out before.
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.front().authorization, "");
  EXPECT_FALSE(requests.front().authorized);
}

TEST_F(AuthTest, NtlmHandshakesAgainOnANewConnection) {
  Serve({AuthScheme::Negotiate, AuthScheme::Ntlm});
  GiveCredentials(options.password);
  auto s = LogonAndRead();
  ASSERT_TRUE(s->LoggedOn()) << Err().Description();
  // The connection breaks off; the request is sent again on a new one, which knows nobody.
  server->AddTrouble({Trouble::Kind::Drop, "GetFolder", 0, 1, 0});
  server->ClearRequests();
  Err().Clear();
  auto hh = s->Stores()->DefaultStore()->IPMRootFolder()->Folders()->Item("Handhelds");
  ASSERT_TRUE(hh) << Err().Description();
  EXPECT_EQ(hh->Items()->Count(), 3);
  EXPECT_FALSE(Err().Pending()) << Err().Description();
  int authenticates = 0;
  for (const SeenRequest& r : server->Requests()) authenticates += NtlmType(r) == 3;
  EXPECT_EQ(authenticates, 1);
  EXPECT_EQ(server->Requests().back().scheme, "NTLM");
}

TEST_F(AuthTest, NtlmWithWrongPasswordFailsTheLogon) {
  Serve({AuthScheme::Negotiate, AuthScheme::Ntlm});
  GiveCredentials("wrong-Pa55");
  auto s = LogonAndRead();
  EXPECT_FALSE(s->LoggedOn());
  EXPECT_EQ(Err().Number(), MAPI_E_LOGON_FAILED);
  EXPECT_EQ(Err().Description(), kRefused);
  bool checked = false;
  for (const SeenRequest& r : server->Requests()) {
    EXPECT_FALSE(r.authorized);
    EXPECT_FALSE(CarriesPassword(r.authorization, "wrong-Pa55"));
    if (NtlmType(r) == 3) {
      EXPECT_EQ(r.refusal, "wrong password");
      checked = true;
    }
  }
  EXPECT_TRUE(checked);
}

TEST_F(AuthTest, NtlmWithCredentialsFromNetrc) {
  Serve({AuthScheme::Negotiate, AuthScheme::Ntlm});
  oa::testing::WriteFile(dir / ".netrc", "machine 127.0.0.1 login " + options.user + " password " +
                                             options.password + "\n");
  ::chmod((dir / ".netrc").c_str(), 0600);
  auto s = LogonAndRead();
  ASSERT_TRUE(s->LoggedOn()) << Err().Description();
  ExpectOnly("NTLM", options.user);
}

// libcurl reads the netrc file itself; before it may, the file is held to the password file's
// rules. One others may read fails the logon by name and reason, and nothing authenticated.
TEST_F(AuthTest, NetrcOthersMayReadFailsTheLogonByName) {
  Serve({AuthScheme::Negotiate, AuthScheme::Ntlm});
  const std::string netrc = dir / ".netrc";
  oa::testing::WriteFile(
      netrc, "machine 127.0.0.1 login " + options.user + " password " + options.password + "\n");
  ::chmod(netrc.c_str(), 0644);
  auto s = LogonAndRead();
  EXPECT_FALSE(s->LoggedOn());
  EXPECT_NE(Err().Description().find("the netrc file " + netrc +
                                     ": mode 0644, must be readable by its owner only (chmod 600)"),
            std::string::npos)
      << Err().Description();
  for (const SeenRequest& r : server->Requests()) {
    EXPECT_FALSE(r.authorized);
    EXPECT_FALSE(CarriesPassword(r.authorization, options.password));
  }
}

// A FIFO as netrc file would keep libcurl waiting for a writer for ever. The logon must fail
// at once; should it wait, a watchdog opens the FIFO for writing after 20 s, which ends the
// wait, and the test fails.
TEST_F(AuthTest, NetrcFifoFailsTheLogonWithoutWaiting) {
  Serve({AuthScheme::Negotiate, AuthScheme::Ntlm});
  const std::string netrc = dir / ".netrc";
  ASSERT_EQ(::mkfifo(netrc.c_str(), 0600), 0);
  std::mutex mu;
  std::condition_variable cv;
  bool done = false, released = false;
  std::thread watchdog([&] {
    std::unique_lock lock(mu);
    if (cv.wait_for(lock, std::chrono::seconds(20), [&] { return done; })) return;
    while (!done) {
      // Succeeds only while a reader waits in its open; that reader then reads an empty file.
      const int fd = ::open(netrc.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        released = true;
        ::close(fd);
      }
      cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return done; });
    }
  });
  auto s = LogonAndRead();
  {
    std::lock_guard lock(mu);
    done = true;
  }
  cv.notify_all();
  watchdog.join();
  EXPECT_FALSE(released) << "the logon waited on the FIFO";
  EXPECT_FALSE(s->LoggedOn());
  EXPECT_NE(Err().Description().find("the netrc file " + netrc + ": is no regular file"),
            std::string::npos)
      << Err().Description();
}

TEST_F(AuthTest, BasicGoesOnlyToAServerThatTakesNothingElse) {
  // NTLM beside Basic: the password stays off the wire.
  Serve({AuthScheme::Basic, AuthScheme::Ntlm});
  GiveCredentials(options.password);
  ASSERT_TRUE(LogonAndRead()->LoggedOn()) << Err().Description();
  ExpectOnly("NTLM", options.user);
  server->Stop();

  // Negotiate without a ticket, then Basic, and only after the server asked for it.
  Serve({AuthScheme::Negotiate, AuthScheme::Basic});
  ASSERT_TRUE(LogonAndRead()->LoggedOn()) << Err().Description();
  ExpectOnly("Basic", options.user);
  const auto requests = server->Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.front().authorization, "");
}

// --- Negotiate ----------------------------------------------------------------------------

class KerberosTest : public AuthTest {
 protected:
  void SetUp() override {
    AuthTest::SetUp();
    REQUIRE_REALM(realm);
    for (const auto& [k, v] : realm->Environment()) env.Set(k, v);
    ccache = dir / "ticket";
  }
  // The user's ticket-granting ticket, as kinit leaves it.
  void Kinit() {
    ASSERT_TRUE(realm->Kinit(ccache)) << realm->error();
    env.Set("KRB5CCNAME", "FILE:" + ccache);
  }

  TestRealm* realm = nullptr;
  std::string ccache;
};

TEST_F(KerberosTest, TicketAloneLogsOn) {
  Serve({AuthScheme::Negotiate, AuthScheme::Ntlm}, realm->serviceKeytab());
  Kinit();
  auto s = LogonAndRead();
  ASSERT_TRUE(s->LoggedOn()) << Err().Description();
  ExpectOnly("Negotiate", realm->userPrincipal());
}

TEST_F(KerberosTest, TicketGoesBeforeCredentials) {
  Serve({AuthScheme::Negotiate, AuthScheme::Ntlm, AuthScheme::Basic}, realm->serviceKeytab());
  Kinit();
  GiveCredentials(options.password);
  ASSERT_TRUE(LogonAndRead()->LoggedOn()) << Err().Description();
  ExpectOnly("Negotiate", realm->userPrincipal());
}

TEST_F(KerberosTest, NoTicketAndNoCredentialsFailsTheLogon) {
  Serve({AuthScheme::Negotiate, AuthScheme::Ntlm}, realm->serviceKeytab());
  auto s = LogonAndRead();
  EXPECT_FALSE(s->LoggedOn());
  EXPECT_EQ(Err().Number(), MAPI_E_LOGON_FAILED);
  EXPECT_EQ(Err().Description(), kRefused);
  for (const SeenRequest& r : server->Requests()) EXPECT_EQ(r.authorization, "");
}

TEST_F(KerberosTest, TicketTheServerRefusesFallsBackToNtlm) {
  // The server lacks the service key, so the ticket cannot be read.
  Serve({AuthScheme::Negotiate, AuthScheme::Ntlm}, dir / "missing.keytab");
  Kinit();
  auto s = LogonAndRead();
  EXPECT_FALSE(s->LoggedOn());
  EXPECT_EQ(Err().Description(), kRefused);
  bool refused = false;
  for (const SeenRequest& r : server->Requests())
    refused = refused || (StartsWith(r.authorization, "Negotiate ") && !r.authorized);
  EXPECT_TRUE(refused);

  GiveCredentials(options.password);
  server->ClearRequests();
  s = LogonAndRead();
  ASSERT_TRUE(s->LoggedOn()) << Err().Description();
  int passed = 0;
  for (const SeenRequest& r : server->Requests()) {
    if (!r.authorized) continue;
    ++passed;
    EXPECT_EQ(r.scheme, "NTLM");
  }
  EXPECT_GE(passed, 4);
}

// --- The window-less program --------------------------------------------------------------

class NoWindowAuth : public oa::testing::RunFixture {
 protected:
  void SetUp() override {
    oa::testing::WriteFile(dir / "krb5.conf", "");
    SetKerberos({{"KRB5_CONFIG", dir / "krb5.conf"},
                 {"KRB5CCNAME", "FILE:" + dir / "no-ticket"},
                 {"KRB5_CLIENT_KTNAME", "FILE:" + dir / "no.keytab"},
                 {"KRB5RCACHEDIR", dir.path().string()}});
    env["HOME"] = dir.path().string();
    env["OA_EWS_USER"] = "";
    env["OA_EWS_PASSWORD"] = "";
  }
  // For the program and for the server's acceptor in this process alike.
  void SetKerberos(const std::map<std::string, std::string>& values) {
    for (const auto& [k, v] : values) {
      env[k] = v;
      processEnv.Set(k, v);
    }
  }
  void Serve(std::vector<AuthScheme> offer, const std::string& keytab = "") {
    Import(Dump({MailboxStore({.alias = "jdoe", .items = 3})}), "viaews");
    ServerOptions o;
    o.storeFile = StoreFile("viaews");
    o.mailboxes = {{"jdoe", "jdoe@example.com"}};
    o.certDir = dir.path().string();
    o.lifetime = std::chrono::seconds(120);
    o.offer = std::move(offer);
    o.keytab = keytab;
    password = o.password;
    user = o.user;
    server = std::make_unique<EwsTestServer>(o);
    ASSERT_TRUE(server->Start());
    env["OA_EWS_CAFILE"] = server->caFile();
  }
  void TearDown() override {
    if (server) server->Stop();
  }
  // The run's lines, on stdout and in the log file, hold no password.
  void ExpectNoPassword(const oa::testing::ChildResult& r, const std::string& secret) {
    EXPECT_EQ(r.out.find(secret), std::string::npos);
    EXPECT_EQ(r.err.find(secret), std::string::npos);
    for (const std::string& line : LogLines()) EXPECT_EQ(line.find(secret), std::string::npos);
    for (const SeenRequest& q : server->Requests()) {
      EXPECT_FALSE(CarriesPassword(q.authorization, secret));
      EXPECT_FALSE(CarriesPassword(q.body, secret));
    }
  }

  ScopedEnv processEnv;
  std::unique_ptr<EwsTestServer> server;
  std::string user, password;
};

const std::string kRefusedLine =
    "RDO.LoggedOn = False " + std::to_string(MAPI_E_LOGON_FAILED) + " " + kRefused;

TEST_F(NoWindowAuth, CleanupByTicketAlone) {
  TestRealm* realm = nullptr;
  REQUIRE_REALM(realm);
  SetKerberos(realm->Environment());
  Serve({AuthScheme::Negotiate, AuthScheme::Ntlm}, realm->serviceKeytab());

  // No ticket yet: the logon fails and says so.
  oa::testing::ChildResult r = Cleanup({"--server", server->url(), "--mailbox", "jdoe"});
  EXPECT_EQ(r.status, 3) << r.err;
  ASSERT_FALSE(Lines(r.out).empty());
  EXPECT_EQ(Lines(r.out).back(), kRefusedLine);

  ASSERT_TRUE(realm->Kinit(dir / "ticket")) << realm->error();
  SetKerberos({{"KRB5CCNAME", "FILE:" + dir / "ticket"}});
  server->ClearRequests();
  r = Cleanup({"--server", server->url(), "--mailbox", "jdoe"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_FALSE(Lines(r.out).empty());
  EXPECT_EQ(Lines(r.out).back(), "pointed agent to new Handhelds folder");
  int passed = 0;
  for (const SeenRequest& q : server->Requests()) {
    if (!q.authorized) continue;
    ++passed;
    EXPECT_EQ(q.scheme, "Negotiate");
    EXPECT_EQ(q.principal, realm->userPrincipal());
  }
  EXPECT_GT(passed, 5);
  // The cleanup happened in the served mailbox: the agent points at a new, empty folder.
  const json after = Export("viaews");
  const json* store = oa::testing::FindStore(after, "jdoe");
  ASSERT_TRUE(store);
  EXPECT_EQ(oa::testing::AgentHHEntryID(*store), oa::testing::HandheldsID(after, "jdoe"));
  EXPECT_EQ(oa::testing::FindTopFolder(*store, "Handhelds")->value("count", -1), 0);
}

TEST_F(NoWindowAuth, CleanupOverNtlmAndItsRefusalKeepThePasswordOutOfEveryLine) {
  Serve({AuthScheme::Negotiate, AuthScheme::Ntlm});
  env["OA_EWS_USER"] = user;
  env["OA_EWS_PASSWORD"] = "wrong-Pa55";
  oa::testing::ChildResult r = Cleanup({"--server", server->url(), "--mailbox", "jdoe"});
  EXPECT_EQ(r.status, 3) << r.err;
  ASSERT_FALSE(Lines(r.out).empty());
  EXPECT_EQ(Lines(r.out).back(), kRefusedLine);
  ExpectLogFile(Lines(r.out));
  ExpectNoPassword(r, "wrong-Pa55");

  env["OA_EWS_PASSWORD"] = password;
  server->ClearRequests();
  r = Cleanup({"--server", server->url(), "--mailbox", "jdoe"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_FALSE(Lines(r.out).empty());
  EXPECT_EQ(Lines(r.out).back(), "pointed agent to new Handhelds folder");
  ExpectNoPassword(r, password);
  for (const SeenRequest& q : server->Requests())
    if (q.authorized) {
      EXPECT_EQ(q.scheme, "NTLM");
    }
}

}  // namespace
}  // namespace oa::ews::testing
