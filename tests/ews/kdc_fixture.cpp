#include "tests/ews/kdc_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "tests/nowindow/child_process.h"
#include "tests/nowindow/temp_files.h"

namespace oa::ews::testing {
namespace {

using namespace std::chrono_literals;

// A program by name on PATH or in the system directories root's tools live in.
std::string Tool(const std::string& name) {
  std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
  dirs += ":/usr/sbin:/sbin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

// A loopback TCP port nobody listens on right now.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

// Names are taken as they are (no DNS, no reverse lookup); the KDC is reached over TCP.
constexpr const char* kKrb5Conf = R"([libdefaults]
  default_realm = @REALM@
  dns_lookup_kdc = false
  dns_lookup_realm = false
  dns_canonicalize_hostname = false
  rdns = false
  udp_preference_limit = 1
[realms]
  @REALM@ = {
    kdc = @KDC@
  }
[domain_realm]
  @HOST@ = @REALM@
)";

constexpr const char* kKdcConf = R"([realms]
  @REALM@ = {
    database_name = @DIR@/principal
    key_stash_file = @DIR@/stash
    kdc_listen = @KDC@
    kdc_tcp_listen = @KDC@
  }
[logging]
  kdc = FILE:@DIR@/kdc.log
)";

std::string Fill(std::string text, const std::map<std::string, std::string>& values) {
  for (const auto& [key, value] : values)
    for (size_t p; (p = text.find(key)) != std::string::npos;) text.replace(p, key.size(), value);
  return text;
}

}  // namespace

std::string MissingKerberosTools() {
  std::string missing;
  for (const char* tool : {"kdb5_util", "kadmin.local", "krb5kdc", "kinit"})
    if (Tool(tool).empty()) missing += std::string(missing.empty() ? "" : ", ") + tool;
  return missing;
}

TestRealm::TestRealm(std::string dir, std::string serviceHost)
    : dir_(std::move(dir)), serviceHost_(std::move(serviceHost)) {}

TestRealm::~TestRealm() {
  StopKdc();
}

std::map<std::string, std::string> TestRealm::Environment() const {
  return {{"KRB5_CONFIG", dir_ + "/krb5.conf"},
          {"KRB5_KDC_PROFILE", dir_ + "/kdc.conf"},
          // The acceptor's replay cache, otherwise under /var/tmp.
          {"KRB5RCACHEDIR", dir_},
          {"KRB5_KTNAME", "FILE:" + serviceKeytab()},
          {"KRB5_CLIENT_KTNAME", "FILE:" + dir_ + "/none.keytab"}};
}

bool TestRealm::Run(const std::vector<std::string>& argv) {
  std::vector<std::string> args = argv;
  args[0] = Tool(argv[0]);
  oa::testing::ChildResult r = oa::testing::RunProgram(args, Environment());
  if (r.status == 0) return true;
  error_ = argv[0] + " failed (" + std::to_string(r.status) + "): " + r.err + r.out;
  return false;
}

bool TestRealm::Start() {
  if (const std::string missing = MissingKerberosTools(); !missing.empty()) {
    error_ = "missing MIT Kerberos programs: " + missing;
    return false;
  }
  for (int attempt = 0; attempt < 3; ++attempt) {
    port_ = FreePort();
    const std::string kdc = "127.0.0.1:" + std::to_string(port_);
    const std::map<std::string, std::string> values = {
        {"@REALM@", kRealm}, {"@KDC@", kdc}, {"@DIR@", dir_}, {"@HOST@", serviceHost_}};
    oa::testing::WriteFile(dir_ + "/krb5.conf", Fill(kKrb5Conf, values));
    oa::testing::WriteFile(dir_ + "/kdc.conf", Fill(kKdcConf, values));
    if (attempt == 0) {
      // Keys are random: nobody, the test included, knows a password of this realm.
      const std::string service = "HTTP/" + serviceHost_;
      if (!Run({"kdb5_util", "create", "-s", "-r", kRealm, "-P", "throw-away-master-key"}) ||
          !Run({"kadmin.local", "-r", kRealm, "-q", std::string("addprinc -randkey ") + kUser}) ||
          !Run({"kadmin.local", "-r", kRealm, "-q", "addprinc -randkey " + service}) ||
          !Run({"kadmin.local", "-r", kRealm, "-q",
                "ktadd -k " + serviceKeytab() + " " + service}) ||
          !Run({"kadmin.local", "-r", kRealm, "-q", "ktadd -k " + dir_ + "/user.keytab " + kUser}))
        return false;
    }
    if (StartKdc()) return true;
  }
  return false;
}

bool TestRealm::StartKdc() {
  std::vector<std::string> args = {Tool("krb5kdc"), "-n", "-r", kRealm};
  std::vector<std::string> env;
  for (const auto& [k, v] : Environment()) env.push_back(k + "=" + v);
  std::vector<char*> argp, envp;
  for (auto& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string output = dir_ + "/kdc.out";
  const std::string log = dir_ + "/kdc.log";
  std::remove(log.c_str());

  const pid_t parent = getpid();
  kdc_ = fork();
  if (kdc_ < 0) {
    error_ = "fork failed";
    return false;
  }
  if (kdc_ == 0) {
    // The KDC never outlives the test, however the test ends.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out >= 0) {
      dup2(out, STDOUT_FILENO);
      dup2(out, STDERR_FILENO);
    }
    execve(argp[0], argp.data(), envp.data());
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(kdc_, &status, WNOHANG) == kdc_) {
      kdc_ = -1;
      error_ =
          "krb5kdc ended at once: " + oa::testing::ReadFile(output) + oa::testing::ReadFile(log);
      return false;
    }
    // Our own KDC's word that it listens: another one may hold the port we picked.
    if (oa::testing::ReadFile(log).find("commencing operation") != std::string::npos &&
        Accepts(port_))
      return true;
    std::this_thread::sleep_for(20ms);
  }
  error_ = "krb5kdc did not listen on port " + std::to_string(port_);
  StopKdc();
  return false;
}

void TestRealm::StopKdc() {
  if (kdc_ <= 0) return;
  kill(kdc_, SIGTERM);
  int status = 0;
  // A KDC that ignores SIGTERM for half a minute is killed; a loaded machine only delays it.
  for (int i = 0; i < 1500; ++i) {
    if (waitpid(kdc_, &status, WNOHANG) == kdc_) {
      kdc_ = -1;
      return;
    }
    std::this_thread::sleep_for(20ms);
  }
  kill(kdc_, SIGKILL);
  waitpid(kdc_, &status, 0);
  kdc_ = -1;
}

bool TestRealm::Kinit(const std::string& ccache) {
  return Run({"kinit", "-k", "-t", dir_ + "/user.keytab", "-c", "FILE:" + ccache, kUser});
}

}  // namespace oa::ews::testing
