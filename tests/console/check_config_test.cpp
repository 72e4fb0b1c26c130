// oa-cleanup --check-config and the configuration at start-up, run as the program: what is
// printed for each setting, and an invalid configuration stopping the program with status 2.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "tests/nowindow/child_process.h"
#include "tests/nowindow/temp_files.h"

namespace oa::testing {
namespace {

class CheckConfig : public ::testing::Test {
 protected:
  CheckConfig() {
    std::filesystem::create_directories(dir / "config/ondavel");
    env = {{"HOME", dir.path().string()},
           {"XDG_CONFIG_HOME", dir / "config"},
           {"LC_ALL", "C"},
           // Windows's places for the same.
           {"APPDATA", dir / "config"},
           {"LOCALAPPDATA", dir / "local"}};
    for (const char* v :
         {"OA_EWS_USER", "OA_EWS_PASSWORD", "OA_EWS_PASSWORD_FILE", "OA_EWS_CAFILE",
          "OA_EWS_ACCESS", "OA_EWS_TIMEOUT_MS", "OA_EWS_MAX_WAIT_MS", "OA_STORE_DIR",
          "OA_REGISTRY_USER", "OA_REGISTRY_MACHINE", "XDG_DATA_HOME", "OA_GRAPH_TENANT",
          "OA_GRAPH_CLIENT_ID", "OA_GRAPH_SECRET_FILE", "OA_GRAPH_CERTIFICATE", "OA_GRAPH_KEY",
          "OA_GRAPH_URL", "OA_GRAPH_LOGIN_URL"})
      env[v] = "";
  }
  std::string Conf() const { return dir / "config/ondavel/oa-cleanup.conf"; }
  std::string Secret(const std::string& text, mode_t mode) {
    const std::string path = dir / "ews-password";
    WriteFile(path, text);
    ::chmod(path.c_str(), mode);
    return path;
  }
  ChildResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), OA_CLEANUP_BIN);
    return RunProgram(args, env);
  }
  // The row of `key` within [section].
  static std::string Row(const std::string& out, const std::string& section,
                         const std::string& key) {
    bool in = false;
    for (const std::string& line : Lines(out)) {
      if (!line.empty() && line[0] == '[') in = line == "[" + section + "]";
      if (in && line.rfind("  " + key + " ", 0) == 0) return line;
    }
    return "";
  }
  // The row's words after the key, blanks between them made single.
  static std::string Words(const std::string& row) {
    std::string out;
    bool blank = false;
    for (char c : row.substr(row.find_first_not_of(' '))) {
      if (c == ' ') {
        blank = true;
        continue;
      }
      if (blank && !out.empty()) out += ' ';
      blank = false;
      out += c;
    }
    return out.substr(out.find(' ') + 1);
  }

  TempDir dir;
  std::map<std::string, std::string> env;
};

TEST_F(CheckConfig, EverySettingWithItsValueAndSourceSecretsOnlyAsSet) {
  const std::string pw = Secret("s3cret-Pa55\n", 0600);
  // Absolute on every system ("/srv/..." has no drive on Windows).
  const std::string stores = dir / "srv/oa/stores";
  WriteFile(dir / "ca.pem", "PEM");
  WriteFile(Conf(),
            "# the service account\n"
            "[ews]\n"
            "user = svc-cleanup@example.com\n"
            "password-file = " +
                pw +
                "\n"
                "access = impersonate\n"
                "[store]\n"
                "directory = " +
                stores + "\n");
#ifndef _WIN32
  // Windows refuses CA files (tests/settings).
  env["OA_EWS_CAFILE"] = dir / "ca.pem";
#endif
  env["OA_EWS_MAX_WAIT_MS"] = "90000";
  env["OA_REGISTRY_USER"] = dir / "user.reg";
  env["OA_EWS_PASSWORD"] = "env-Pa55";
  ChildResult r = Run({"--check-config", "--timeout", "30", "--user", "EXAMPLE\\oa-admin"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Lines(r.out).front(), "Configuration file: " + Conf());
  const std::string at = "file " + Conf() + ":";
  EXPECT_EQ(Words(Row(r.out, "ews", "access")), "impersonate " + at + "5");
  EXPECT_EQ(Words(Row(r.out, "ews", "user")), "EXAMPLE\\oa-admin option --user");
  EXPECT_EQ(Words(Row(r.out, "ews", "password-file")), pw + " " + at + "4");
  EXPECT_EQ(Words(Row(r.out, "ews", "password")), "set the password file");
#ifndef _WIN32
  EXPECT_EQ(Words(Row(r.out, "ews", "ca-file")), dir / "ca.pem" + " variable OA_EWS_CAFILE");
#endif
  EXPECT_EQ(Words(Row(r.out, "ews", "timeout")), "30s option --timeout");
  EXPECT_EQ(Words(Row(r.out, "ews", "max-wait")), "90s variable OA_EWS_MAX_WAIT_MS");
  EXPECT_EQ(Words(Row(r.out, "graph", "max-wait")), "90s variable OA_EWS_MAX_WAIT_MS");
  EXPECT_EQ(Words(Row(r.out, "store", "directory")), stores + " " + at + "7");
#ifdef _WIN32
  // Windows reads its registry, whatever files are named.
  EXPECT_EQ(
      Words(Row(r.out, "registry", "user")),
      "HKEY_CURRENT_USER\\Software\\ondavel\\Tessel Admin\\Settings the registry (32-bit view)");
  EXPECT_EQ(Words(Row(r.out, "registry", "machine")),
            "HKEY_LOCAL_MACHINE\\Software\\ondavel\\ondavelAgent the registry (32-bit view)");
#else
  EXPECT_EQ(Words(Row(r.out, "registry", "user")), dir / "user.reg" + " variable OA_REGISTRY_USER");
  EXPECT_EQ(Words(Row(r.out, "registry", "machine")), "/etc/ondavel/registry.reg default");
#endif
  for (const char* secret : {"s3cret", "env-Pa55"}) {
    EXPECT_EQ(r.out.find(secret), std::string::npos) << secret;
    EXPECT_EQ(r.err.find(secret), std::string::npos) << secret;
  }

  // Without the file the variable's password shows, as coming from the environment.
  std::filesystem::remove(Conf());
  r = Run({"--check-config"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out).front(), "Configuration file: " + Conf() + " (not found)");
  EXPECT_EQ(Words(Row(r.out, "ews", "password")),
            "set variable OA_EWS_PASSWORD (from the environment; a password file is safer)");
  EXPECT_EQ(Words(Row(r.out, "ews", "access")), "delegate default");
  EXPECT_EQ(Words(Row(r.out, "ews", "max-wait")), "90s variable OA_EWS_MAX_WAIT_MS");
  env["OA_EWS_MAX_WAIT_MS"] = "";
  r = Run({"--check-config"});
  EXPECT_EQ(Words(Row(r.out, "ews", "max-wait")), "300s default");
  EXPECT_EQ(Words(Row(r.out, "graph", "max-wait")), "600s default");
#ifdef _WIN32
  EXPECT_EQ(Words(Row(r.out, "store", "directory")),
            dir / "local/ondavel/stores" + " default (from LOCALAPPDATA)");
#else
  EXPECT_EQ(Words(Row(r.out, "store", "directory")),
            dir / ".local/share/ondavel/stores" + " default");
#endif
  EXPECT_EQ(r.out.find("env-Pa55"), std::string::npos);
}

TEST_F(CheckConfig, GraphSettingsShownWithTheClientSecretOnlyAsSet) {
  const std::string secret = Secret("Qx8~graph.s3cret\n", 0600);
  WriteFile(Conf(), "[graph]\ntenant = contoso.onmicrosoft.com\nsecret-file = " + secret + "\n");
  env["OA_GRAPH_CLIENT_ID"] = "6731de76-14a6-49ae-97bc-6eba6914391e";
  ChildResult r = Run({"--check-config"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string at = "file " + Conf() + ":";
  EXPECT_EQ(Words(Row(r.out, "graph", "tenant")), "contoso.onmicrosoft.com " + at + "2");
  EXPECT_EQ(Words(Row(r.out, "graph", "client-id")),
            "6731de76-14a6-49ae-97bc-6eba6914391e variable OA_GRAPH_CLIENT_ID");
  EXPECT_EQ(Words(Row(r.out, "graph", "secret")), "set the secret file");
  EXPECT_EQ(Words(Row(r.out, "graph", "graph-url")), "https://graph.microsoft.com default");
  EXPECT_EQ(r.out.find("s3cret"), std::string::npos);
  // A secret is never kept in the file itself.
  WriteFile(Conf(), "[graph]\nsecret = Qx8~graph.s3cret\n");
  r = Run({"--check-config"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find(":2: a client secret is not kept in the configuration file"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("s3cret"), std::string::npos);
}

TEST_F(CheckConfig, InvalidConfigurationStopsTheProgramWithStatus2) {
  WriteFile(Conf(), "[ews]\nuser = svc\ntimeout: 30\n");
  const std::string error = "oa-cleanup: " + Conf() +
                            ":3: expected \"key = value\" or a [section] line, but found "
                            "\"timeout: 30\"\n";
  ChildResult r = Run({"--check-config"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, error);
  // A run does not start: no line of it, no log file.
  r = Run({"--no-window", "--server", "demo", "--mailbox", "jdoe", "--log", dir / "run.log"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, error);
  EXPECT_FALSE(std::filesystem::exists(dir / "run.log"));

  std::filesystem::remove(Conf());
  const std::string pw = Secret("s3cret-Pa55\n", 0644);
  r = Run({"--no-window", "--server", "demo", "--mailbox", "jdoe", "--log", dir / "run.log",
           "--password-file", pw});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "oa-cleanup: --password-file: " + pw +
                       ": mode 0644, must be readable by its owner only (chmod 600)\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "run.log"));
  r = Run({"--check-config", "--config", dir / "other.conf"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "oa-cleanup: --config: " + dir / "other.conf" + ": no such file\n");
}

TEST_F(CheckConfig, PasswordIsNeverTakenOnTheCommandLine) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--no-window", "--password", "hunter2"},
        std::vector<std::string>{"--password=hunter2", "--check-config"}}) {
    ChildResult r = Run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("a password is not taken on the command line"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("--password-file FILE"), std::string::npos);
    EXPECT_EQ(r.err.find("hunter2"), std::string::npos) << r.err;
  }
  ChildResult help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* option :
       {"--check-config", "--config FILE", "--user NAME", "--password-file FILE", "--ca-file FILE",
        "--impersonate", "--delegate", "--timeout SECONDS", "--max-wait SECONDS",
        "--store-dir DIR"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  EXPECT_EQ(help.out.find("--password "), std::string::npos);
}

#ifdef _WIN32
// Windows's places (the roaming and local application data folders, no netrc file), and a CA
// file refused at once, before any logon, with the certificate store named instead.
TEST_F(CheckConfig, WindowsPlacesAndACaFileRefusedAtOnce) {
  ChildResult r = Run({"--check-config"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out).front(),
            "Configuration file: " + dir / "config/ondavel/oa-cleanup.conf" + " (not found)");
  EXPECT_EQ(Words(Row(r.out, "store", "directory")),
            dir / "local/ondavel/stores" + " default (from LOCALAPPDATA)");
  EXPECT_EQ(Row(r.out, "ews", "netrc"), "");
  EXPECT_EQ(r.out.find(".netrc"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Kerberos"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nActivity log: "), std::string::npos) << r.out;

  WriteFile(dir / "ca.pem", "PEM");
  r = Run({"--check-config", "--ca-file", dir / "ca.pem"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("oa-cleanup: --ca-file: a CA file is not used on Windows, which trusts "
                       "the certificates in its certificate store: add the CA's certificate to "
                       "the store (certutil -addstore Root FILE"),
            std::string::npos)
      << r.err;
  // A run is refused the same way, before it begins.
  r = Run({"--no-window", "--server", "https://127.0.0.1:9/ews", "--mailbox", "jdoe", "--ca-file",
           dir / "ca.pem"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");

  // The help speaks of Windows's places and ACLs, not of ~/.config and chmod.
  const ChildResult help = Run({"--help"});
  EXPECT_NE(help.out.find("%APPDATA%\\ondavel\\oa-cleanup.conf"), std::string::npos) << help.out;
  for (const char* posix : {"~/.config", "chmod", "~/.netrc"})
    EXPECT_EQ(help.out.find(posix), std::string::npos) << posix;
}
#endif

#ifndef _WIN32
// Opening a FIFO waits for a writer for ever; the program refuses it at once. The bound is
// far from the fault, which never ends.
TEST_F(CheckConfig, FifoAsPasswordOrSecretFileEndsTheCheckWithTheFileNamed) {
  const std::string fifo = dir / "secret-fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string option : {"--password-file", "--graph-secret-file"}) {
    Child child;
    child.argv = {OA_CLEANUP_BIN, "--check-config", option, fifo};
    child.env = env;
    child.timeout = std::chrono::seconds(30);
    const ChildResult r = RunChild(child);
    EXPECT_EQ(r.status, 2) << option << " (128 + 9: killed after 30 s)";
    EXPECT_NE(r.err.find(option + ": " + fifo + ": is no regular file\n"), std::string::npos)
        << r.err;
  }
}
#endif

}  // namespace
}  // namespace oa::testing
