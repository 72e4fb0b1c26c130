// The Windows build's window-less cleanup under Wine against the loopback Graph server: WinHTTP
// with full certificate checks (the server's certificate trusted in the prefix's CurrentUser
// ROOT store by add_test_ca.exe), both sign-ins (a client secret, and a client assertion the
// server verifies with the application certificate's public key, signed through CNG), an
// emptying item by item through throttled answers, and a refused sign-in. Each served run is
// compared with the Linux build's run against the same server state.
// Run by scripts/test-windows.sh, which sets OA_WINE_BUILD to the Windows build and WINEPREFIX.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <regex>

#include "tests/graph/graph_test_server.h"
#include "tests/nowindow/run_fixture.h"

namespace oa::graph::testing {
namespace {

using nlohmann::json;
using oa::testing::ChildResult;
using oa::testing::Dump;
using oa::testing::Fault;
using oa::testing::Lines;
using oa::testing::MailboxStore;

// Windows paths for the Linux files the program reads (Wine maps / to Z:).
std::string WinePath(const std::string& path) {
  return "Z:" + path;
}

// The lines without CR, entry IDs blanked (each store copy has its own new folder's ID).
std::vector<std::string> Normalized(const std::string& out) {
  static const std::regex kEntryId("[0-9A-F]{40,}");
  std::vector<std::string> lines;
  for (std::string line : Lines(out)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::regex_replace(line, kEntryId, "<entry ID>"));
  }
  return lines;
}

std::string Outcome(json dump) {
  static const std::regex kEntryId("[0-9A-F]{40,}");
  dump.erase("faults");
  return std::regex_replace(dump.dump(1), kEntryId, "<entry ID>");
}

// The certificate by PEM files, or on Windows by thumbprint from the certificate store (the
// Linux build then signs with the same key from the files).
enum class SignIn { Secret, Certificate, StoreCertificate };

class WineGraph : public oa::testing::RunFixture {
 protected:
  void SetUp() override {
    const char* build = std::getenv("OA_WINE_BUILD");
    ASSERT_TRUE(build && *build) << "OA_WINE_BUILD names the Windows build";
    exe = std::string(build) + "/console/oa-cleanup.exe";
    addCa = std::string(build) + "/tests/ews/add_test_ca.exe";
    addCert = std::string(build) + "/tests/graph/add_test_cert.exe";
  }
  void TearDown() override {
    if (!thumbprint.empty()) {
      const ChildResult removed = Wine({addCert, "remove", thumbprint});
      EXPECT_EQ(removed.status, 0) << removed.err;
    }
    Untrust();
    if (server) server->Stop();
  }

  // The server on a store copy, answering as `localhost` (the name its certificate carries for
  // WinHTTP); its certificate trusted in the prefix until the test ends.
  void Serve(const std::string& store, const json& dump, SignIn signIn, bool trust) {
    Untrust();
    if (server) server->Stop();
    GraphServerOptions o;
    o.storeFile = StoreFile(store);
    for (const auto& s : dump["stores"])
      if (s.value("kind", "") == "mailbox")
        o.mailboxes.push_back({s.value("alias", ""), s.value("address", "")});
    o.certDir = dir.path().string();
    o.lifetime = std::chrono::seconds(300);
    o.host = "localhost";
    if (signIn != SignIn::Secret) {
      if (!std::filesystem::exists(dir / "app-cert.pem")) {
        ASSERT_TRUE(MakeAppCertificate(dir.path().string(), "app"));
      }
      o.clientSecret.clear();
      o.appCertificate = dir / "app-cert.pem";
    }
    server = std::make_unique<GraphTestServer>(o);
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

  // The sign-in's settings for the running server; paths as the platform's program reads them.
  std::map<std::string, std::string> GraphEnv(SignIn signIn, bool onWine,
                                              const std::string& secret) {
    auto path = [&](const std::string& p) { return onWine ? WinePath(p) : p; };
    std::map<std::string, std::string> e = env;
    e["OA_GRAPH_TENANT"] = server->options().tenant;
    e["OA_GRAPH_CLIENT_ID"] = server->options().clientId;
    e["OA_GRAPH_LOGIN_URL"] = server->url();
    e["OA_GRAPH_URL"] = server->url();
    if (!onWine) e["OA_EWS_CAFILE"] = server->caFile();
    if (signIn == SignIn::Secret) {
      const std::string secretFile = dir / "graph-secret";
      oa::testing::WriteFile(secretFile, secret + "\n");
      chmod(secretFile.c_str(), 0600);
      e["OA_GRAPH_SECRET_FILE"] = path(secretFile);
    } else if (signIn == SignIn::StoreCertificate && onWine) {
      std::string shown;
      for (size_t i = 0; i < thumbprint.size(); ++i) {
        if (i > 0 && i % 2 == 0) shown += ' ';
        shown += static_cast<char>(std::tolower(static_cast<unsigned char>(thumbprint[i])));
      }
      e["OA_GRAPH_CERTIFICATE_THUMBPRINT"] = shown;
    } else {
      e["OA_GRAPH_CERTIFICATE"] = path(dir / "app-cert.pem");
      e["OA_GRAPH_KEY"] = path(dir / "app-key.pem");
    }
    return e;
  }

  ChildResult Wine(std::vector<std::string> argv,
                   const std::map<std::string, std::string>* childEnv = nullptr) {
    oa::testing::Child child;
    child.argv = {"/usr/bin/wine"};
    child.argv.insert(child.argv.end(), argv.begin(), argv.end());
    child.env = childEnv ? *childEnv : env;
    child.env["OA_STORE_DIR"] = WinePath(storeDir);
    // Generous: a run ends well within it by its own timeouts.
    child.timeout = std::chrono::seconds(180);
    return oa::testing::RunChild(child);
  }

  ChildResult RunOnWine(SignIn signIn, const std::string& secret) {
    const auto childEnv = GraphEnv(signIn, true, secret);
    std::filesystem::remove(wineLog);
    ChildResult r = Wine(
        {exe, "--no-window", "--log", WinePath(wineLog), "--server", "graph", "--mailbox", "jdoe"},
        &childEnv);
    ExpectNoSecret(r, secret);
    return r;
  }
  ChildResult RunOnLinux(SignIn signIn, const std::string& secret) {
    const auto saved = env;
    env = GraphEnv(signIn, false, secret);
    ChildResult r = Cleanup({"--server", "graph", "--mailbox", "jdoe"});
    env = saved;
    return r;
  }

  // The secret shows neither in the output nor in the log, nor in any request but the token's.
  void ExpectNoSecret(const ChildResult& r, const std::string& secret) {
    const std::string log = oa::testing::ReadFile(wineLog);
    EXPECT_FALSE(log.empty()) << "no log written";
    EXPECT_EQ(r.out.find(secret), std::string::npos) << "the secret on standard output";
    EXPECT_EQ(r.err.find(secret), std::string::npos) << "the secret on standard error";
    EXPECT_EQ(log.find(secret), std::string::npos) << "the secret in the log";
    for (const SeenRequest& q : server->Requests()) {
      EXPECT_EQ(q.target.find(secret), std::string::npos) << q.target;
      if (q.operation != "token") {
        EXPECT_EQ(q.body.find(secret), std::string::npos);
      }
    }
  }

  // The Linux build cleans one copy over the server, the Windows build the other over a server
  // started the same way: the same lines, status and mailbox afterwards.
  void ExpectCleanupLikeLinux(const json& dump, SignIn signIn,
                              const std::vector<Trouble>& troubles = {}) {
    Import(dump, "forlinux");
    CopyStore(StoreFile("forlinux"), "forwine");
    const std::string secret = GraphServerOptions().clientSecret;

    ASSERT_NO_FATAL_FAILURE(Serve("forlinux", dump, signIn, false));
    for (const Trouble& t : troubles) server->AddTrouble(t);
    const ChildResult onLinux = RunOnLinux(signIn, secret);
    ASSERT_EQ(onLinux.status, 0) << onLinux.out << onLinux.err;
    const std::vector<SeenRequest> linuxRequests = server->Requests();

    const std::string oldFolder = oa::testing::HandheldsID(Export("forwine"), "jdoe");
    ASSERT_NO_FATAL_FAILURE(Serve("forwine", dump, signIn, true));
    for (const Trouble& t : troubles) server->AddTrouble(t);
    const ChildResult onWine = RunOnWine(signIn, secret);
    EXPECT_EQ(onWine.status, 0) << onWine.out << onWine.err;
    EXPECT_EQ(Normalized(onWine.out), Normalized(onLinux.out));
    EXPECT_EQ(server->lastRefusal(), "");
    // Throttled answers were met, and waited out, alike.
    auto refused = [](const std::vector<SeenRequest>& seen) {
      int n = 0;
      for (const SeenRequest& q : seen) n += q.status == 429 || q.status == 503;
      return n;
    };
    EXPECT_EQ(refused(server->Requests()), refused(linuxRequests));
    server->Stop();

    const json after = Export("forwine");
    EXPECT_EQ(Outcome(after), Outcome(Export("forlinux")));
    const json* store = oa::testing::FindStore(after, "jdoe");
    ASSERT_TRUE(store);
    const std::string newFolder = oa::testing::HandheldsID(after, "jdoe");
    EXPECT_NE(newFolder, oldFolder);
    EXPECT_EQ(oa::testing::AgentHHEntryID(*store), newFolder);
  }

  // The application certificate and its key in the prefix's personal store, as an
  // administrator imports a .pfx; its SHA-1 thumbprint.
  void ImportIntoTheStore() {
    ASSERT_TRUE(MakeAppCertificate(dir.path().string(), "app"));
    const std::string pfx = dir / "app.pfx";
    const std::string cmd = "openssl pkcs12 -export -passout pass: -inkey '" + dir / "app-key.pem" +
                            "' -in '" + dir / "app-cert.pem" + "' -out '" + pfx + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const ChildResult added = Wine({addCert, "import", WinePath(pfx)});
    ASSERT_EQ(added.status, 0) << added.err;
    ASSERT_FALSE(Lines(added.out).empty());
    thumbprint = Lines(added.out).front();
    if (!thumbprint.empty() && thumbprint.back() == '\r') thumbprint.pop_back();
    ASSERT_EQ(thumbprint.size(), 40u) << added.out;
    // No key file is needed on Windows: the one written for the Linux run goes.
    std::filesystem::remove(pfx);
  }

  std::string exe, addCa, addCert, thumbprint;
  const std::string wineLog = dir / "wine.log";
  std::unique_ptr<GraphTestServer> server;
  bool trusted = false;
};

TEST_F(WineGraph, ClientSecretSignInAndACompletedCleanup) {
  ExpectCleanupLikeLinux(Dump({MailboxStore({.alias = "jdoe", .items = 3})}), SignIn::Secret);
}

TEST_F(WineGraph, CertificateSignInVerifiedByThePublicKey) {
  ExpectCleanupLikeLinux(Dump({MailboxStore({.alias = "jdoe", .items = 2})}), SignIn::Certificate);
}

// The key stays in the store: the run is given only the thumbprint (lower case, split by
// spaces, as the certificate dialog shows it), and the server verifies what it signed.
TEST_F(WineGraph, CertificateFromTheStoreByThumbprint) {
  ASSERT_NO_FATAL_FAILURE(ImportIntoTheStore());
  ExpectCleanupLikeLinux(Dump({MailboxStore({.alias = "jdoe", .items = 2})}),
                         SignIn::StoreCertificate);
  // A thumbprint of no certificate in either store fails the sign-in, naming it.
  const json dump = Dump({MailboxStore({.alias = "jdoe"})});
  Import(dump, "unknown");
  ASSERT_NO_FATAL_FAILURE(Serve("unknown", dump, SignIn::StoreCertificate, true));
  const std::string stored = thumbprint;
  thumbprint = "00112233445566778899AABBCCDDEEFF00112233";
  const ChildResult r = RunOnWine(SignIn::StoreCertificate, GraphServerOptions().clientSecret);
  thumbprint = stored;
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  ASSERT_FALSE(Lines(r.out).empty());
  EXPECT_EQ(Normalized(r.out).back(),
            "RDO.LoggedOn = False -2147221231 No certificate with the thumbprint 00 11 22 33 44 "
            "55 66 77 88 99 aa bb cc dd ee ff 00 11 22 33 is in the current user's or the "
            "machine's personal certificate store.");
  EXPECT_TRUE(server->Requests().empty());
}

TEST_F(WineGraph, ItemByItemEmptyingThroughThrottling) {
  ExpectCleanupLikeLinux(
      Dump({MailboxStore({.alias = "jdoe", .items = 60})}, {Fault("Folder.Delete", "jdoe-hh", 1)}),
      SignIn::Secret,
      {{Trouble::Kind::Http429, "deleteMessage", 10, 2, 1000},
       {Trouble::Kind::Http503, "messages", 1, 1, 0}});
}

TEST_F(WineGraph, RefusedSecretFailsTheLogonWithStatus3AndChangesNothing) {
  const json dump = Dump({MailboxStore({.alias = "jdoe"})});
  Import(dump, "forlinux");
  CopyStore(StoreFile("forlinux"), "forwine");
  ASSERT_NO_FATAL_FAILURE(Serve("forlinux", dump, SignIn::Secret, false));
  const ChildResult onLinux = RunOnLinux(SignIn::Secret, "not-the-secret");
  EXPECT_EQ(onLinux.status, 3);

  const json before = Export("forwine");
  ASSERT_NO_FATAL_FAILURE(Serve("forwine", dump, SignIn::Secret, true));
  const ChildResult onWine = RunOnWine(SignIn::Secret, "not-the-secret");
  EXPECT_EQ(onWine.status, 3) << onWine.out << onWine.err;
  ASSERT_FALSE(Lines(onWine.out).empty());
  EXPECT_EQ(Normalized(onWine.out), Normalized(onLinux.out));
  EXPECT_TRUE(Normalized(onWine.out).back().starts_with("RDO.LoggedOn = False -2147221231 "))
      << onWine.out;
  EXPECT_EQ(server->lastRefusal(), "secret");
  for (const SeenRequest& q : server->Requests()) EXPECT_EQ(q.operation, "token");
  server->Stop();
  EXPECT_EQ(Export("forwine"), before);
}

}  // namespace
}  // namespace oa::graph::testing
