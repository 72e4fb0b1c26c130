// The Windows build's window-less cleanup under Wine against the loopback EWS server: WinHTTP
// with full certificate checks (the server's certificate trusted in the prefix's CurrentUser
// ROOT store by add_test_ca.exe), Basic and NTLM, and the failures a user meets first: a
// certificate nobody trusts, a wrong password, a server that is not there. Each served run is
// compared with the Linux build's run against the same server state. The credentials come from
// a configuration file and a password file, as an administrator sets them up.
// Run by scripts/test-windows.sh, which sets OA_WINE_BUILD to the Windows build and WINEPREFIX
// to a prefix with winbind's NTLM at hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <regex>
#include <thread>

#include "mailbox/model/const_mapi.h"
#include "tests/ews/ews_test_server.h"
#include "tests/ews/server_fixture.h"
#include "tests/nowindow/run_fixture.h"

namespace oa::ews::testing {
namespace {

using namespace oa::mailbox::ConstMAPI;
using nlohmann::json;
using oa::testing::ChildResult;
using oa::testing::Lines;

// Windows paths for the Linux files the program reads (Wine maps / to Z:).
std::string WinePath(const std::string& path) {
  return "Z:" + path;
}

// The lines without CR, the server's URL as "demo", entry IDs blanked.
std::vector<std::string> Normalized(const std::string& out, const std::string& url) {
  static const std::regex kEntryId("[0-9A-F]{40,}");
  std::vector<std::string> lines;
  for (std::string line : Lines(out)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    for (size_t p; !url.empty() && (p = line.find(url)) != std::string::npos;)
      line.replace(p, url.size(), "demo");
    lines.push_back(std::regex_replace(line, kEntryId, "<entry ID>"));
  }
  return lines;
}

std::string Outcome(const json& dump) {
  static const std::regex kEntryId("[0-9A-F]{40,}");
  return std::regex_replace(dump.dump(1), kEntryId, "<entry ID>");
}

const std::string kNetworkError = std::to_string(MAPI_E_NETWORK_ERROR);

class WineEws : public oa::testing::RunFixture {
 protected:
  void SetUp() override {
    const char* build = std::getenv("OA_WINE_BUILD");
    ASSERT_TRUE(build && *build) << "OA_WINE_BUILD names the Windows build";
    exe = std::string(build) + "/console/oa-cleanup.exe";
    addCa = std::string(build) + "/tests/ews/add_test_ca.exe";
    addCredential = std::string(build) + "/tests/ews/add_test_credential.exe";
    Import(oa::testing::Dump({oa::testing::MailboxStore({.alias = "jdoe", .items = 3})}),
           "forlinux");
    CopyStore(StoreFile("forlinux"), "forwine");
    const ServerOptions defaults;
    user = defaults.user;
    password = defaults.password;
    Configure(password);
  }
  void TearDown() override {
    Forget();
    Untrust();
    if (server) server->Stop();
  }

  // The password in a file of its own (owner-only, as the Linux build demands), named with the
  // user by one configuration file for each build.
  void Configure(const std::string& secret) {
    secretInUse = secret;
    const std::string passwordFile = dir / "password";
    oa::testing::WriteFile(passwordFile, secret + "\n");
    std::filesystem::permissions(
        passwordFile, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    linuxConf = dir / "linux.conf";
    oa::testing::WriteFile(linuxConf, "[ews]\nuser = " + user +
                                          "\npassword-file = " + passwordFile +
                                          "\nca-file = " + (dir / "cert.pem") + "\n");
    wineConf = dir / "wine.conf";
    oa::testing::WriteFile(
        wineConf, "[ews]\nuser = " + user + "\npassword-file = " + WinePath(passwordFile) + "\n");
  }

  ChildResult Wine(std::vector<std::string> argv) {
    oa::testing::Child child;
    child.argv = {"/usr/bin/wine"};
    child.argv.insert(child.argv.end(), argv.begin(), argv.end());
    for (const std::string& a : child.argv) {
      EXPECT_EQ(a.find(password), std::string::npos) << "the password on the command line";
      EXPECT_EQ(a.find(secretInUse), std::string::npos) << "the password on the command line";
    }
    child.env = env;
    child.env["OA_STORE_DIR"] = WinePath(storeDir);
    // Generous: a run ends well within it by its own timeouts.
    child.timeout = std::chrono::seconds(120);
    return oa::testing::RunChild(child);
  }
  // The Windows program over EWS; `extra` goes before the server and mailbox.
  ChildResult RunOnWine(const std::string& url, std::vector<std::string> extra = {}) {
    std::vector<std::string> argv = {exe,        "--no-window",     "--log", WinePath(wineLog),
                                     "--config", WinePath(wineConf)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.insert(argv.end(), {"--server", url, "--mailbox", "jdoe"});
    std::filesystem::remove(wineLog);
    ChildResult r = Wine(argv);
    ExpectNoPassword(r);
    return r;
  }

  // Neither the password in use nor the right one shows in the run's output or its log.
  void ExpectNoPassword(const ChildResult& r) {
    const std::string log = oa::testing::ReadFile(wineLog);
    EXPECT_FALSE(log.empty()) << "no log written";
    for (const std::string& secret : {password, secretInUse}) {
      EXPECT_EQ(r.out.find(secret), std::string::npos) << "the password on standard output";
      EXPECT_EQ(r.err.find(secret), std::string::npos) << "the password on standard error";
      EXPECT_EQ(log.find(secret), std::string::npos) << "the password in the log";
    }
  }

  // The server on one of the store copies; with `trust`, its certificate in the prefix's ROOT
  // store until the test ends.
  void Serve(const std::string& store, std::vector<AuthScheme> offer, bool trust) {
    Untrust();
    if (server) server->Stop();
    ServerOptions o;
    o.storeFile = StoreFile(store);
    o.mailboxes = {{"jdoe", "jdoe@example.com"}};
    o.certDir = dir.path().string();
    o.offer = std::move(offer);
    o.lifetime = std::chrono::seconds(300);
    server = std::make_unique<EwsTestServer>(o);
    ASSERT_TRUE(server->Start());
    if (trust) {
      const ChildResult added = Wine({addCa, "add", WinePath(server->caFile())});
      ASSERT_EQ(added.status, 0) << added.err;
      trusted = true;
    }
  }
  void Untrust() {
    if (!trusted) return;
    trusted = false;
    const ChildResult removed = Wine({addCa, "remove", WinePath(server->caFile())});
    EXPECT_EQ(removed.status, 0) << removed.err;
  }

  // A generic credential in the prefix's Credential Manager until the test ends, as an
  // administrator keeps one with cmdkey; the password goes through a file, never the command line.
  void Remember(const std::string& target, const std::string& account, const std::string& secret) {
    secretInUse = secret;
    const std::string file = dir / "credential-password";
    oa::testing::WriteFile(file, secret + "\n");
    const ChildResult added = Wine({addCredential, "add", target, account, WinePath(file)});
    std::filesystem::remove(file);
    ASSERT_EQ(added.status, 0) << added.err;
    remembered = target;
  }
  void Forget() {
    if (remembered.empty()) return;
    const ChildResult removed = Wine({addCredential, "remove", remembered});
    EXPECT_EQ(removed.status, 0) << removed.err;
    remembered.clear();
  }
  // The configuration names the user only (or nothing), no password.
  void ConfigureWithoutPassword(const std::string& configuredUser) {
    oa::testing::WriteFile(wineConf, configuredUser.empty()
                                         ? std::string("[ews]\naccess = delegate\n")
                                         : "[ews]\nuser = " + configuredUser + "\n");
  }

  // Every request that passed was authenticated by `scheme` as the configured user, and none
  // carried the password in its body.
  void ExpectAuthenticatedBy(const std::string& scheme) {
    int passed = 0;
    for (const SeenRequest& r : server->Requests()) {
      EXPECT_EQ(r.body.find(password), std::string::npos);
      if (!r.authorized) continue;
      ++passed;
      EXPECT_EQ(r.scheme, scheme);
      EXPECT_EQ(r.principal, user);
    }
    EXPECT_GT(passed, 5);
  }

  // The Linux build cleans one copy over the server, the Windows build the other over a server
  // started the same way: the same lines, status and mailbox afterwards, and the agent points at
  // a new Handhelds folder in the store the Windows build cleaned.
  void ExpectCleanupLikeLinux(std::vector<AuthScheme> offer, const std::string& scheme) {
    ASSERT_NO_FATAL_FAILURE(Serve("forlinux", offer, false));
    const std::string linuxUrl = server->url();
    const ChildResult onLinux =
        Cleanup({"--config", linuxConf, "--server", linuxUrl, "--mailbox", "jdoe"});
    ASSERT_EQ(onLinux.status, 0) << onLinux.out << onLinux.err;
    ExpectAuthenticatedBy(scheme);

    const std::string oldFolder = oa::testing::HandheldsID(Export("forwine"), "jdoe");
    ASSERT_NO_FATAL_FAILURE(Serve("forwine", offer, true));
    const std::string wineUrl = server->url("localhost");
    const ChildResult onWine = RunOnWine(wineUrl);
    EXPECT_EQ(onWine.status, 0) << onWine.out << onWine.err;
    EXPECT_EQ(Normalized(onWine.out, wineUrl), Normalized(onLinux.out, linuxUrl));
    ExpectAuthenticatedBy(scheme);
    server->Stop();

    const json after = Export("forwine");
    EXPECT_EQ(Outcome(after), Outcome(Export("forlinux")));
    const json* store = oa::testing::FindStore(after, "jdoe");
    ASSERT_TRUE(store);
    const std::string newFolder = oa::testing::HandheldsID(after, "jdoe");
    EXPECT_NE(newFolder, oldFolder);
    EXPECT_EQ(oa::testing::AgentHHEntryID(*store), newFolder);
    EXPECT_EQ(after.dump().find(oldFolder), std::string::npos) << "the old folder is left";
  }

  std::string exe, addCa, addCredential;
  // The credential's target while one is kept.
  std::string remembered;
  std::string linuxConf, wineConf;
  const std::string wineLog = dir / "wine.log";
  std::unique_ptr<EwsTestServer> server;
  std::string user, password;
  // What the password file holds now.
  std::string secretInUse;
  bool trusted = false;
};

TEST_F(WineEws, BasicOverHttpsWithTheCertificateTrusted) {
  ExpectCleanupLikeLinux({AuthScheme::Basic}, "Basic");
}

// The password kept in Credential Manager as oa-cleanup:HOST (the server's host), for the
// configured user or, with none configured, with its own user: the server checks it.
TEST_F(WineEws, PasswordFromCredentialManagerForTheServersHost) {
  ConfigureWithoutPassword(user);
  ASSERT_NO_FATAL_FAILURE(Serve("forwine", {AuthScheme::Basic}, true));
  ASSERT_NO_FATAL_FAILURE(Remember("oa-cleanup:localhost", user, password));
  const std::string url = server->url("localhost");
  const ChildResult r = RunOnWine(url);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ExpectAuthenticatedBy("Basic");
  ASSERT_FALSE(Lines(r.out).empty());
  EXPECT_EQ(Normalized(r.out, url).back(), "pointed agent to new Handhelds folder") << r.out;

  // No user configured: the credential's own, the same password.
  ConfigureWithoutPassword("");
  ASSERT_NO_FATAL_FAILURE(Serve("forwine", {AuthScheme::Basic}, true));
  const ChildResult own = RunOnWine(server->url("localhost"));
  EXPECT_EQ(own.status, 0) << own.out << own.err;
  ExpectAuthenticatedBy("Basic");
}

// A credential kept for another account is not sent for the configured one; a wrong password
// kept there is named as the place to look.
TEST_F(WineEws, CredentialOfAnotherUserIsNotUsedAndAWrongOneIsNamed) {
  ConfigureWithoutPassword(user);
  ASSERT_NO_FATAL_FAILURE(Serve("forwine", {AuthScheme::Basic}, true));
  ASSERT_NO_FATAL_FAILURE(Remember("oa-cleanup:localhost", "EXAMPLE\\someone-else", password));
  const json before = Export("forwine");
  const std::string prefix = "RDO.LoggedOn = False " + std::to_string(MAPI_E_LOGON_FAILED) +
                             " The server refused the logon (HTTP 401 Unauthorized); check the "
                             "credentials in ";
  const ChildResult other = RunOnWine(server->url("localhost"));
  EXPECT_EQ(other.status, 3) << other.out << other.err;
  ASSERT_FALSE(Lines(other.out).empty());
  EXPECT_EQ(Normalized(other.out, "").back(),
            prefix + "the user in " + WinePath(wineConf) +
                ":2 and a password (none is set) or the credential oa-cleanup:localhost in "
                "Credential Manager, or the Windows logon.")
      << other.out;
  for (const SeenRequest& q : server->Requests()) EXPECT_FALSE(q.authorized);

  Forget();
  ASSERT_NO_FATAL_FAILURE(Remember("oa-cleanup:localhost", user, "wrong-Pa55"));
  const ChildResult wrong = RunOnWine(server->url("localhost"));
  EXPECT_EQ(wrong.status, 3) << wrong.out << wrong.err;
  ASSERT_FALSE(Lines(wrong.out).empty());
  EXPECT_EQ(Normalized(wrong.out, "").back(),
            prefix +
                "the credential oa-cleanup:localhost in Credential Manager, or the Windows "
                "logon.")
      << wrong.out;
  for (const SeenRequest& q : server->Requests()) EXPECT_FALSE(q.authorized);
  server->Stop();
  EXPECT_EQ(Export("forwine"), before);
}

TEST_F(WineEws, NtlmWithTheCertificateTrustedAndAWrongPassword) {
  ExpectCleanupLikeLinux({AuthScheme::Ntlm}, "NTLM");

  Configure("wrong-Pa55");
  ASSERT_NO_FATAL_FAILURE(Serve("forwine", {AuthScheme::Ntlm}, true));
  const json before = Export("forwine");
  const ChildResult r = RunOnWine(server->url("localhost"));
  EXPECT_EQ(r.status, 3) << r.err;
  ASSERT_FALSE(Lines(r.out).empty());
  EXPECT_TRUE(Normalized(r.out, "").back().starts_with(
      "RDO.LoggedOn = False " + std::to_string(MAPI_E_LOGON_FAILED) +
      " The server refused the logon (HTTP 401 Unauthorized); check the credentials in "))
      << r.out;
  // Windows' other places, not the netrc file and the Kerberos ticket.
  EXPECT_TRUE(Normalized(r.out, "").back().ends_with(
      " or the credential oa-cleanup:localhost in Credential Manager, or the Windows logon."))
      << r.out;
  // The client gives up by itself, well before the server's own cap on rounds.
  const std::vector<SeenRequest> seen = server->Requests();
  EXPECT_FALSE(seen.empty());
  EXPECT_LE(seen.size(), 8u);
  for (const SeenRequest& q : seen) {
    EXPECT_FALSE(q.authorized);
    EXPECT_NE(q.refusal, "too many authentication rounds");
  }
  server->Stop();
  EXPECT_EQ(Export("forwine"), before);
}

// Outside the domain Negotiate is refused; the configured password then goes by Basic, as the
// Linux build sends it.
TEST_F(WineEws, BasicAfterARefusedNegotiate) {
  ExpectCleanupLikeLinux({AuthScheme::Negotiate, AuthScheme::Basic}, "Basic");
}

TEST_F(WineEws, UntrustedCertificateFailsTheLogonWithStatus3) {
  ASSERT_NO_FATAL_FAILURE(Serve("forwine", {AuthScheme::Basic}, false));
  const json before = Export("forwine");
  const std::string url = server->url("localhost");
  const ChildResult r = RunOnWine(url);
  EXPECT_EQ(r.status, 3) << r.err;
  ASSERT_FALSE(Lines(r.out).empty());
  const std::string last = Normalized(r.out, "").back();
  // Wine reports a secure-channel failure where Windows names the certificate.
  EXPECT_TRUE(last.starts_with("RDO.LoggedOn = False " + kNetworkError +
                               " The TLS connection to the server failed: ") ||
              last.starts_with("RDO.LoggedOn = False " + kNetworkError +
                               " The server's TLS certificate could not be verified: "))
      << last;
  // The message names the server.
  EXPECT_NE(r.err.find(url), std::string::npos) << r.err;
  // The handshake failed: no request reached the server.
  EXPECT_TRUE(server->Requests().empty());
  server->Stop();
  EXPECT_EQ(Export("forwine"), before);
}

TEST_F(WineEws, StoppedServerIsANetworkFailureWithinTheTimeout) {
  // A port that was just free: a server started and stopped on it.
  ASSERT_NO_FATAL_FAILURE(Serve("forwine", {AuthScheme::Basic}, false));
  const std::string url = server->url("localhost");
  server->Stop();
  const ChildResult r = RunOnWine(url, {"--timeout", "5"});
  // Ended by itself (a run killed at the test's bound has status 137).
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  ASSERT_FALSE(Lines(r.out).empty());
  EXPECT_TRUE(Normalized(r.out, "").back().starts_with("RDO.LoggedOn = False " + kNetworkError +
                                                       " The server cannot be reached: "))
      << r.out;
  EXPECT_NE(r.err.find(url), std::string::npos) << r.err;
}

// The Win32 window against a server that asks for a two-minute back-off in the middle of an
// emptying: Cancel (Alt+C) or the frame's close (Alt+F4), pressed as a person would (xdotool on
// the test's X display), is handled during the wait, and the program ends well before the wait
// would have. Needs DISPLAY (scripts/test-windows.sh gives its Xvfb) and xdotool.
class WineWindowBusy : public WineEws {
 protected:
  static constexpr int kBackOffMs = 120000;
  // Far from the back-off, which a stop not taken waits out in full.
  static constexpr auto kBound = std::chrono::seconds(40);

  void TearDown() override {
    if (registryWritten)
      Wine({"reg", "delete", std::string("HKCU\\") + kAdminKey, "/f", "/reg:32"});
    WineEws::TearDown();
  }

  // Delete requests that passed the logon (each comes first without credentials, as Basic
  // does, and is refused).
  static int DeleteItemsSeen(EwsTestServer& s) {
    int n = 0;
    for (const SeenRequest& r : s.Requests()) n += r.operation == "DeleteItem" && r.authorized;
    return n;
  }
  ChildResult Tool(std::vector<std::string> argv) {
    oa::testing::Child child;
    child.argv = std::move(argv);
    child.env = env;
    child.timeout = std::chrono::seconds(120);
    return oa::testing::RunChild(child);
  }

  // Opens the window on the busy server (the boxes filled from the registry as the administration
  // tool leaves them), presses OK, and once the run waits presses `stopKey`. Returns how long
  // the program went on after the key.
  std::chrono::steady_clock::duration RunAndStopDuringTheWait(const std::string& stopKey) {
    if (!std::getenv("DISPLAY")) {
      ADD_FAILURE() << "no DISPLAY for the window";
      return {};
    }
    Import(oa::testing::Dump({oa::testing::MailboxStore({.alias = "jdoe", .items = 400})},
                             {oa::testing::Fault("Folder.Delete", "jdoe-hh")}),
           "busy");
    Serve("busy", {AuthScheme::Basic}, true);
    if (HasFatalFailure()) return {};
    server->AddTrouble({Trouble::Kind::ServerBusy, "DeleteItem", 3, 1, kBackOffMs});
    const std::string url = server->url("localhost");
    for (auto [name, value] : {std::pair<const char*, std::string>{"ExServer", url},
                               std::pair<const char*, std::string>{"ExAlias", "jdoe"}}) {
      const ChildResult r = Wine({"reg", "add", std::string("HKCU\\") + kAdminKey, "/v", name, "/t",
                                  "REG_SZ", "/d", value, "/f", "/reg:32"});
      EXPECT_EQ(r.status, 0) << r.err;
      registryWritten = true;
    }

    std::filesystem::remove(wineLog);
    std::atomic<bool> ended{false};
    std::chrono::steady_clock::time_point end;
    std::thread program([&] {
      oa::testing::Child child;
      child.argv = {"/usr/bin/wine",   exe,        "--log",
                    WinePath(wineLog), "--config", WinePath(wineConf)};
      child.env = env;
      // Past the back-off, so that a stop not taken still ends by itself (and fails the bound).
      child.timeout = std::chrono::seconds(kBackOffMs / 1000 + 60);
      windowRun = oa::testing::RunChild(child);
      end = std::chrono::steady_clock::now();
      ended = true;
    });
    std::optional<std::chrono::steady_clock::time_point> pressed;
    const ChildResult found = Tool({"/usr/bin/xdotool", "search", "--sync", "--onlyvisible",
                                    "--name", "^ondavel Agent  Cleanup$"});
    const std::vector<std::string> ids = Lines(found.out);
    EXPECT_FALSE(ids.empty()) << "no window: " << found.err;
    if (!ids.empty()) {
      Tool({"/usr/bin/xdotool", "windowfocus", "--sync", ids.front()});
      Tool({"/usr/bin/xdotool", "key", "--delay", "50", "alt+o"});
      // The fourth delete is answered busy; the run then waits, and only waits.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(180);
      while (!ended && DeleteItemsSeen(*server) < 4 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      EXPECT_GE(DeleteItemsSeen(*server), 4) << "the run never waited for the busy server";
      EXPECT_FALSE(ended) << "the program ended before the wait";
      pressed = std::chrono::steady_clock::now();
      deletesWhenPressed = DeleteItemsSeen(*server);
      Tool({"/usr/bin/xdotool", "windowfocus", "--sync", ids.front()});
      Tool({"/usr/bin/xdotool", "key", "--delay", "50", stopKey});
    }
    program.join();
    return pressed ? end - *pressed : std::chrono::steady_clock::duration::max();
  }

  // The run's lines up to the wait, then its cancel line last in the log, with the count the
  // renamed folder really keeps; the window gone with status 0, and no delete sent after the
  // stop.
  void ExpectCancelledRun() {
    EXPECT_EQ(windowRun.status, 0) << windowRun.out << windowRun.err;
    EXPECT_EQ(DeleteItemsSeen(*server), deletesWhenPressed) << "a delete sent after the stop";
    const std::string log = oa::testing::ReadFile(wineLog);
    for (const char* line : {":CleanupHH: message count = 400\r\n",
                             ":successfully renamed existing folder as Handhelds -1\r\n",
                             ":pointed agent to new Handhelds folder\r\n"})
      EXPECT_NE(log.find(line), std::string::npos) << line << " not in\n" << log;
    static const std::regex kCancelled(
        ":Canceled delete of folder items before completion; count = ([0-9]+)\r\n$");
    std::smatch last;
    ASSERT_TRUE(std::regex_search(log, last, kCancelled)) << log;
    const int left = std::stoi(last[1]);
    EXPECT_GT(left, 0);
    EXPECT_LT(left, 400);
    for (const std::string& secret : {password, secretInUse})
      EXPECT_EQ(log.find(secret), std::string::npos) << "the password in the log";
    server->Stop();
    const json after = Export("busy");
    const json* renamed =
        oa::testing::FindTopFolder(*oa::testing::FindStore(after, "jdoe"), "Handhelds -1");
    ASSERT_NE(renamed, nullptr);
    EXPECT_EQ(renamed->value("count", -1), left);
  }
  int deletesWhenPressed = -1;

  static constexpr const char* kAdminKey = "Software\\ondavel\\Tessel Admin\\Settings";
  bool registryWritten = false;
  ChildResult windowRun;
};

TEST_F(WineWindowBusy, CancelButtonEndsTheWaitAndTheProgram) {
  const auto after = RunAndStopDuringTheWait("alt+c");
  EXPECT_LT(after, kBound) << "the Cancel key waited for the back-off";
  ExpectCancelledRun();
}

TEST_F(WineWindowBusy, FrameCloseEndsTheWaitAndTheProgram) {
  const auto after = RunAndStopDuringTheWait("alt+F4");
  EXPECT_LT(after, kBound) << "the close waited for the back-off";
  ExpectCancelledRun();
}

}  // namespace
}  // namespace oa::ews::testing
