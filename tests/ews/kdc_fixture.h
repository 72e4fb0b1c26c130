// A throw-away Kerberos realm on loopback: its own krb5.conf and kdc.conf, database, keytabs
// and KDC process, all in one directory, so that nothing under /etc is read or written.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace oa::ews::testing {

class TestRealm {
 public:
  static constexpr const char* kRealm = "OA.TEST";
  static constexpr const char* kUser = "jdoe";

  // The service principal is HTTP/<serviceHost>, the host name the client connects to.
  explicit TestRealm(std::string dir, std::string serviceHost = "127.0.0.1");
  // Stops the KDC.
  ~TestRealm();
  TestRealm(const TestRealm&) = delete;
  TestRealm& operator=(const TestRealm&) = delete;

  // Makes the realm with the user and the service and starts the KDC; false, with error()
  // saying why, when that fails.
  bool Start();
  const std::string& error() const { return error_; }

  // What clients and the acceptor need in their environment (not the credential cache).
  std::map<std::string, std::string> Environment() const;
  // A fresh ticket-granting ticket for the user in the cache file `ccache`.
  bool Kinit(const std::string& ccache);
  // The keys of HTTP/<serviceHost>, for the server.
  std::string serviceKeytab() const { return dir_ + "/http.keytab"; }
  std::string userPrincipal() const { return std::string(kUser) + "@" + kRealm; }

 private:
  bool Run(const std::vector<std::string>& argv);
  bool StartKdc();
  void StopKdc();

  std::string dir_, serviceHost_;
  int port_ = 0;
  pid_t kdc_ = -1;
  std::string error_;
};

// The MIT Kerberos programs a realm needs that cannot be found, by name ("" when all are there).
std::string MissingKerberosTools();

}  // namespace oa::ews::testing
