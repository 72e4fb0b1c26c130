// The configuration: option over file over variable over default for each setting, the file's
// errors with file, line and reason, and the password file's mode. (What --check-config prints
// is tested through the program, in tests/console.)
#include "settings/config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "settings/places.h"
#include "tests/nowindow/temp_files.h"

namespace oa::settings {
namespace {

using oa::testing::TempDir;
using oa::testing::WriteFile;

class ConfigTest : public ::testing::Test {
 protected:
  ConfigTest() {
    vars["HOME"] = dir.path().string();
    vars["XDG_CONFIG_HOME"] = dir / "config";
    // Windows's places for the same.
    vars["APPDATA"] = dir / "config";
    vars["LOCALAPPDATA"] = dir / "local";
    std::filesystem::create_directories(dir / "config/ondavel");
  }

  Environment Env() const {
    return [this](const std::string& name) -> std::optional<std::string> {
      auto it = vars.find(name);
      if (it == vars.end() || it->second.empty()) return std::nullopt;
      return it->second;
    };
  }
  std::string ConfFile() const { return dir / "config/ondavel/oa-cleanup.conf"; }
  void Conf(const std::string& text) { WriteFile(ConfFile(), text); }
  std::string Secret(const std::string& name, const std::string& text, mode_t mode) {
    const std::string path = dir / name;
    WriteFile(path, text);
    ::chmod(path.c_str(), mode);
    return path;
  }
  ConfigResult Load(const ConfigOptions& o = {}) { return LoadConfig(o, Env()); }

  TempDir dir;
  std::map<std::string, std::string> vars;
};

TEST_F(ConfigTest, DefaultsWithoutFileOrVariables) {
  const ConfigResult r = Load();
  ASSERT_TRUE(r.ok()) << r.errors.front();
  const Config& c = r.config;
  EXPECT_EQ(c.file, ConfFile());
  EXPECT_FALSE(c.fileFound);
  EXPECT_FALSE(c.ews.impersonate.value);
  EXPECT_EQ(c.ews.user.value, "");
  EXPECT_EQ(c.ews.password.value, "");
  EXPECT_EQ(c.ews.timeoutMs.value, 120000);
  EXPECT_EQ(c.ews.maxWaitMs.value, 300000);
  // Graph's longest wait covers the service's own 10-minute window.
  EXPECT_EQ(c.graph.maxWaitMs.value, 600000);
  EXPECT_EQ(c.graph.maxWaitMs.origin.Describe(), "default");
  EXPECT_EQ(c.registryUser.value, dir / "config/ondavel/registry.reg");
  EXPECT_EQ(c.registryMachine.value, "/etc/ondavel/registry.reg");
  EXPECT_EQ(c.ews.user.origin.Describe(), "default");
#ifdef _WIN32
  // Credential Manager, not a netrc file; the stores in the local (not roaming) folder.
  EXPECT_EQ(c.ews.netrcFile, "");
  EXPECT_EQ(c.storeDirectory.value, dir / "local/ondavel/stores");
  EXPECT_EQ(c.storeDirectory.origin.Describe(), "default (from LOCALAPPDATA)");
  EXPECT_EQ(c.registryUser.origin.Describe(), "default (from APPDATA)");

  // A relative folder variable is ignored: the known folder is taken.
  vars["APPDATA"] = "relative";
  const std::string file = Load().config.file;
  EXPECT_TRUE(std::filesystem::path(file).is_absolute()) << file;
  EXPECT_EQ(file.find(dir.path().string()), std::string::npos) << file;
  EXPECT_EQ(file.substr(file.size() - 24), "\\ondavel\\oa-cleanup.conf") << file;
#else
  EXPECT_EQ(c.ews.netrcFile, dir / ".netrc");
  EXPECT_EQ(c.storeDirectory.value, dir / ".local/share/ondavel/stores");
  EXPECT_EQ(c.registryUser.origin.Describe(), "default (from XDG_CONFIG_HOME)");

  // A relative XDG directory is ignored.
  vars["XDG_CONFIG_HOME"] = "relative";
  EXPECT_EQ(Load().config.file, dir / ".config/ondavel/oa-cleanup.conf");
#endif
}

// Each setting, given at every level that has it, is taken from the highest one; taking the
// levels away one by one walks it down to the default.
TEST_F(ConfigTest, OptionOverFileOverVariableOverDefault) {
  // Windows refuses CA files (CaFileRefusedOnWindowsWhereverItIsGiven): none is given there.
  const bool caFiles = kCaFileRefused == nullptr;
  for (const char* name : {"ca-opt", "ca-file", "ca-var"}) WriteFile(dir / name, "PEM");
  const std::string pwFile = Secret("pw-file", "from-file\n", 0600);
  const std::string pwOpt = Secret("pw-opt", "from-option\n", 0600);
  // Absolute paths on every system ("/srv/..." has no drive on Windows).
  const std::string fileStores = dir / "srv/file-stores", fileReg = dir / "srv/file.reg",
                    fileMachineReg = dir / "srv/file-machine.reg";
  Conf("[ews]\naccess = impersonate\nuser = file-user\npassword-file = " + pwFile +
       (caFiles ? "\nca-file = " + dir / "ca-file" : std::string("\n# no ca-file")) +
       "\ntimeout = 2m\nmax-wait = 45s\n" + "[store]\ndirectory = " + fileStores +
       "\n[registry]\nuser = " + fileReg + "\nmachine = " + fileMachineReg + "\n");
  vars["OA_EWS_ACCESS"] = "delegate";
  vars["OA_EWS_USER"] = "var-user";
  vars["OA_EWS_PASSWORD"] = "from-variable";
  if (caFiles) vars["OA_EWS_CAFILE"] = dir / "ca-var";
  vars["OA_EWS_TIMEOUT_MS"] = "7000";
  vars["OA_EWS_MAX_WAIT_MS"] = "8000";
  vars["OA_STORE_DIR"] = "/srv/var-stores";
  vars["OA_REGISTRY_USER"] = "/srv/var.reg";
  vars["OA_REGISTRY_MACHINE"] = "/srv/var-machine.reg";
  ConfigOptions o;
  o.impersonate = false;
  o.user = "opt-user";
  o.passwordFile = pwOpt;
  if (caFiles) o.caFile = dir / "ca-opt";
  o.timeout = "90";
  o.maxWait = "500ms";
  o.storeDirectory = "/srv/opt-stores";

  ConfigResult r = Load(o);
  ASSERT_TRUE(r.ok()) << r.errors.front();
  EwsConfig e = r.config.ews;
  EXPECT_FALSE(e.impersonate.value);
  EXPECT_EQ(e.impersonate.origin.Describe(), "option --delegate");
  EXPECT_EQ(e.user.value, "opt-user");
  EXPECT_EQ(e.user.origin.Describe(), "option --user");
  EXPECT_EQ(e.password.value, "from-option");
  if (caFiles) {
    EXPECT_EQ(e.caFile.value, dir / "ca-opt");
  }
  EXPECT_EQ(e.timeoutMs.value, 90000);
  EXPECT_EQ(e.maxWaitMs.value, 500);
  EXPECT_EQ(e.maxWaitMs.origin.Describe(), "option --max-wait");
  // A value given holds for both backends.
  EXPECT_EQ(r.config.graph.maxWaitMs.value, 500);
  EXPECT_EQ(r.config.graph.maxWaitMs.origin.Describe(), "option --max-wait");
  EXPECT_EQ(r.config.storeDirectory.value, "/srv/opt-stores");

  r = Load();
  ASSERT_TRUE(r.ok()) << r.errors.front();
  e = r.config.ews;
  const std::string at = "file " + ConfFile() + ":";
  EXPECT_TRUE(e.impersonate.value);
  EXPECT_EQ(e.impersonate.origin.Describe(), at + "2");
  EXPECT_EQ(e.user.value, "file-user");
  EXPECT_EQ(e.user.origin.Describe(), at + "3");
  EXPECT_EQ(e.password.value, "from-file");
  EXPECT_EQ(e.password.origin.Describe(), at + "4");
  if (caFiles) {
    EXPECT_EQ(e.caFile.value, dir / "ca-file");
  }
  EXPECT_EQ(e.timeoutMs.value, 120000);
  EXPECT_EQ(e.timeoutMs.origin.Describe(), at + "6");
  EXPECT_EQ(e.maxWaitMs.value, 45000);
  EXPECT_EQ(r.config.graph.maxWaitMs.value, 45000);
  EXPECT_EQ(r.config.storeDirectory.value, fileStores);
  EXPECT_EQ(r.config.storeDirectory.origin.Describe(), at + "9");
  EXPECT_EQ(r.config.registryUser.value, fileReg);
  EXPECT_EQ(r.config.registryMachine.value, fileMachineReg);

  Conf("");
  r = Load();
  ASSERT_TRUE(r.ok()) << r.errors.front();
  e = r.config.ews;
  EXPECT_FALSE(e.impersonate.value);
  EXPECT_EQ(e.impersonate.origin.Describe(), "variable OA_EWS_ACCESS");
  EXPECT_EQ(e.user.value, "var-user");
  EXPECT_EQ(e.password.value, "from-variable");
  EXPECT_EQ(e.password.origin.Describe(), "variable OA_EWS_PASSWORD");
  if (caFiles) {
    EXPECT_EQ(e.caFile.value, dir / "ca-var");
  }
  EXPECT_EQ(e.timeoutMs.value, 7000);
  EXPECT_EQ(e.timeoutMs.origin.Describe(), "variable OA_EWS_TIMEOUT_MS");
  EXPECT_EQ(e.maxWaitMs.value, 8000);
  EXPECT_EQ(r.config.graph.maxWaitMs.value, 8000);
  EXPECT_EQ(r.config.storeDirectory.value, "/srv/var-stores");
  EXPECT_EQ(r.config.registryUser.value, "/srv/var.reg");
  EXPECT_EQ(r.config.registryMachine.value, "/srv/var-machine.reg");

  // The variables' impersonation, and a password file named by variable over the password.
  vars["OA_EWS_ACCESS"] = "impersonate";
  vars["OA_EWS_PASSWORD_FILE"] = pwFile;
  r = Load();
  EXPECT_TRUE(r.config.ews.impersonate.value);
  EXPECT_EQ(r.config.ews.password.value, "from-file");
  EXPECT_EQ(r.config.ews.password.origin.Describe(), "variable OA_EWS_PASSWORD_FILE");
}

TEST_F(ConfigTest, PathsInTheFileAreTakenFromItsDirectoryOrHome) {
  Conf("[store]\ndirectory = stores\n[registry]\nuser = ~/my.reg\n");
  const ConfigResult r = Load();
  ASSERT_TRUE(r.ok()) << r.errors.front();
  EXPECT_EQ(r.config.storeDirectory.value, dir / "config/ondavel/stores");
  EXPECT_EQ(r.config.registryUser.value, dir / "my.reg");
}

// Every line that is not understood stops the configuration, naming the file, line and reason.
TEST_F(ConfigTest, FileErrorsNameFileLineAndReason) {
  const std::string f = ConfFile();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"[ews]\nuser svc\n",
       f + ":2: expected \"key = value\" or a [section] line, but found \"user svc\""},
      {"# comment\n\n[ews]\n  ; indented comment\nusr = svc\n",
       f + ":5: unknown key \"usr\" in [ews]; the keys there are access, user, password-file, "
           "ca-file, timeout, max-wait"},
      {"user = svc\n", f + ":1: \"user\" comes before any [section]"},
      {"[ews\n", f + ":1: expected a section name in brackets, as [ews], but found \"[ews\""},
      {"[mail]\nserver = x\n",
       f + ":1: unknown section [mail]; the sections are [ews], [graph], [store] and [registry]"},
      {"[ews]\npassword = hunter2\n",
       f + ":2: a password is not kept in the configuration file; name a file that only you can "
           "read with password-file"},
      {"[ews]\nuser = a\nuser = b\n", f + ":3: \"user\" in [ews] is given twice (first on line 2)"},
      {"[ews]\nuser =\n", f + ":2: \"user\" has no value"},
      {"[ews]\ntimeout = soon\n",
       f + ":2: \"soon\" is no duration; give seconds (90 or 90s), milliseconds (500ms) or "
           "minutes (2m)"},
      {"[ews]\naccess = admin\n",
       f + ":2: \"admin\" is no access mode; use delegate or impersonate"},
      {"[ews]\nuser = \"svc\n", f + ":2: the value of \"user\" has no closing quote"},
  };
  for (const auto& [text, error] : cases) {
    Conf(text);
    const ConfigResult r = Load();
    ASSERT_EQ(r.errors.size(), 1u) << text;
    EXPECT_EQ(r.errors.front(), error);
    // The secret of a refused line is not repeated.
    EXPECT_EQ(r.errors.front().find("hunter2"), std::string::npos);
  }
  // Several at once come in the order of their lines.
  Conf("[ews]\npassword = hunter2\nuser: svc\n[mail]\n");
  const ConfigResult r = Load();
  ASSERT_EQ(r.errors.size(), 3u);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(r.errors[i].rfind(f + ":" + std::to_string(i + 2) + ": ", 0), 0u) << r.errors[i];
}

TEST_F(ConfigTest, NamedFileMustExistAndInputsMustBeValid) {
  ConfigOptions o;
  o.configFile = dir / "absent.conf";
  ConfigResult r = Load(o);
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors.front(), "--config: " + dir / "absent.conf" + ": no such file");

  vars["OA_EWS_TIMEOUT_MS"] = "fast";
  vars["OA_EWS_CAFILE"] = dir / "missing.pem";
  r = Load();
  ASSERT_EQ(r.errors.size(), 2u);
  EXPECT_EQ(r.errors[0],
            "OA_EWS_TIMEOUT_MS: \"fast\" is no duration; give a number of milliseconds");
  if (kCaFileRefused) {
    EXPECT_EQ(r.errors[1], std::string("OA_EWS_CAFILE: ") + kCaFileRefused);
  } else {
    EXPECT_EQ(r.errors[1], "OA_EWS_CAFILE: " + dir / "missing.pem" +
                               ": cannot be read: No such file or directory");
  }
}

#ifdef _WIN32
// WinHTTP trusts the certificate store only: a CA file could never be used, so it is refused at
// once, wherever it is given, with the store named instead.
TEST_F(ConfigTest, CaFileRefusedOnWindowsWhereverItIsGiven) {
  WriteFile(dir / "ca.pem", "PEM");
  const std::string why =
      ": a CA file is not used on Windows, which trusts the certificates in its certificate "
      "store: add the CA's certificate to the store (certutil -addstore Root FILE, or "
      "certlm.msc, Trusted Root Certification Authorities) and leave ca-file unset";
  ConfigOptions o;
  o.caFile = dir / "ca.pem";
  ConfigResult r = Load(o);
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0], "--ca-file" + why);
  Conf("[ews]\nca-file = " + dir / "ca.pem" + "\n");
  r = Load();
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0], ConfFile() + ":2" + why);
  Conf("");
  vars["OA_EWS_CAFILE"] = dir / "ca.pem";
  r = Load();
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0], "OA_EWS_CAFILE" + why);
}
#endif

TEST_F(ConfigTest, GraphUrlsAreHttpsUnlessToThisMachine) {
  // The client secret and every token go there: no clear text to another host.
  vars["OA_GRAPH_URL"] = "http://graph.example.com";
  Conf("[graph]\nlogin-url = http://10.0.0.1:8080/\n");
  ConfigResult r = Load();
  ASSERT_EQ(r.errors.size(), 2u);
  EXPECT_EQ(r.errors[0], ConfFile() +
                             ":2: graph.login-url http://10.0.0.1:8080/: Unencrypted http:// is "
                             "accepted only for loopback addresses; use https://.");
  EXPECT_EQ(r.errors[1],
            "OA_GRAPH_URL: graph.graph-url http://graph.example.com: Unencrypted http:// is "
            "accepted only for loopback addresses; use https://.");
  vars["OA_GRAPH_URL"] = "ftp://graph.example.com";
  Conf("[graph]\nlogin-url = https://user:pw@login.example.com\n");
  r = Load();
  ASSERT_EQ(r.errors.size(), 2u);
  EXPECT_NE(r.errors[0].find("graph.login-url"), std::string::npos) << r.errors[0];
  EXPECT_NE(r.errors[1].find("OA_GRAPH_URL: graph.graph-url"), std::string::npos) << r.errors[1];
  // Loopback in every spelling may go in clear; https anywhere.
  for (const std::string url : {"http://127.0.0.1:8443", "http://localhost/", "http://[::1]:80",
                                "http://127.8.9.10", "https://graph.example.com:8443/"}) {
    vars["OA_GRAPH_URL"] = url;
    Conf("[graph]\nlogin-url = " + url + "\n");
    r = Load();
    EXPECT_TRUE(r.errors.empty()) << url << ": " << (r.errors.empty() ? "" : r.errors[0]);
  }
}

// A thumbprint names a certificate of the Windows store: refused at once where there is none,
// or beside a certificate file, or when it is no thumbprint.
TEST_F(ConfigTest, CertificateThumbprintOnlyWhereAWindowsStoreIs) {
  Conf("[graph]\ncertificate-thumbprint = 3AB001FF102030405060708090A0B0C0D0E0F00F\n");
  ConfigResult r = Load();
#ifdef _WIN32
  EXPECT_TRUE(r.errors.empty()) << r.errors.front();
  EXPECT_EQ(r.config.graph.certificateThumbprint.value, "3AB001FF102030405060708090A0B0C0D0E0F00F");
  // The file's key would win over the variable.
  Conf("");
  vars["OA_GRAPH_CERTIFICATE_THUMBPRINT"] = "C:\\certs\\app.pem";
  r = Load();
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0],
            "OA_GRAPH_CERTIFICATE_THUMBPRINT: graph.certificate-thumbprint C:\\certs\\app.pem: "
            "not a certificate thumbprint (40 hexadecimal digits, the SHA-1 shown in the "
            "certificate's details)");
  vars.erase("OA_GRAPH_CERTIFICATE_THUMBPRINT");
  Conf("[graph]\ncertificate-thumbprint = 3AB001FF102030405060708090A0B0C0D0E0F00F\n");
  const std::string cert = dir / "app.pem";
  WriteFile(cert, "-----BEGIN CERTIFICATE-----\n");
  vars["OA_GRAPH_CERTIFICATE"] = cert;
  r = Load();
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_NE(r.errors[0].find("both name the application's certificate"), std::string::npos)
      << r.errors[0];
#else
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0], ConfFile() +
                             ":2: graph.certificate-thumbprint names a certificate in the "
                             "Windows certificate store, which this system does not have; give "
                             "the certificate and its key as PEM files (graph.certificate, "
                             "graph.key)");
#endif
}

#ifndef _WIN32
// Neither waits on a FIFO nor reads a device without end: --check-config reads the file too.
TEST_F(ConfigTest, ConfigurationFileThatIsNoRegularFileIsRefused) {
  ASSERT_EQ(::mkfifo(ConfFile().c_str(), 0600), 0);
  ConfigResult r = Load();
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors.front(), ConfFile() + ": is no regular file");
  ConfigOptions o;
  o.configFile = "/dev/zero";
  r = Load(o);
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors.front(), "/dev/zero: is no regular file");
}
#endif

TEST_F(ConfigTest, PasswordFileOnlyItsOwnerMayRead) {
  ConfigOptions o;
  o.passwordFile = Secret("pw", "s3cret-Pa55\r\nsecond line\n", 0644);
  ConfigResult r = Load(o);
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors.front(), "--password-file: " + *o.passwordFile +
                                  ": mode 0644, must be readable by its owner only (chmod 600)");
  EXPECT_EQ(r.config.ews.password.value, "");

  ::chmod(o.passwordFile->c_str(), 0640);
  r = Load(o);
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_NE(r.errors.front().find(": mode 0640, must be"), std::string::npos);

  ::chmod(o.passwordFile->c_str(), 0400);
  r = Load(o);
  ASSERT_TRUE(r.ok()) << r.errors.front();
  EXPECT_EQ(r.config.ews.password.value, "s3cret-Pa55");

  // Named in the file, the error names the file's line too; an empty file holds no password.
  const std::string empty = Secret("empty", "\n", 0600);
  Conf("[ews]\npassword-file = " + empty + "\n");
  r = Load();
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors.front(),
            ConfFile() + ":2: " + empty + ": holds no password on its first line");
  o.passwordFile = dir / "none";
  r = Load(o);
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors.front(),
            "--password-file: " + dir / "none" + ": cannot be read: No such file or directory");
}

TEST_F(ConfigTest, WithoutSecretsNoPasswordOrSecretIsReadOrChecked) {
  // A program that signs in nowhere neither holds a secret nor fails over one it does not use.
  ConfigOptions o;
  o.readSecrets = false;
  o.passwordFile = dir / "no-such-password";
  o.graphSecretFile = dir / "no-such-secret";
  vars["OA_EWS_PASSWORD"] = "from-variable";
  ConfigResult r = Load(o);
  ASSERT_TRUE(r.ok()) << r.errors.front();
  EXPECT_EQ(r.config.ews.password.value, "");
  EXPECT_EQ(r.config.graph.secret.value, "");
  EXPECT_EQ(r.config.ews.passwordFile.value, *o.passwordFile);

  o.readSecrets = true;
  r = Load(o);
  ASSERT_EQ(r.errors.size(), 2u);
  EXPECT_NE(r.errors[0].find("no-such-password: cannot be read"), std::string::npos) << r.errors[0];
  EXPECT_NE(r.errors[1].find("no-such-secret: cannot be read"), std::string::npos) << r.errors[1];
}

TEST(Durations, ParsedAndPrinted) {
  EXPECT_EQ(ParseDurationMs("90"), 90000);
  EXPECT_EQ(ParseDurationMs("90s"), 90000);
  EXPECT_EQ(ParseDurationMs("250ms"), 250);
  EXPECT_EQ(ParseDurationMs("2m"), 120000);
  EXPECT_EQ(ParseDurationMs("2 min"), 120000);
  for (const char* bad : {"", "0", "s", "-5", "1.5", "5h", "9999999999"})
    EXPECT_FALSE(ParseDurationMs(bad).has_value()) << bad;
  EXPECT_EQ(FormatDurationMs(120000), "120s");
  EXPECT_EQ(FormatDurationMs(250), "250ms");
}

}  // namespace
}  // namespace oa::settings
