// The EWS backend's settings, given by the program at start-up to the session class it
// registers; sessions take them at logon.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace oa::ews {

struct EwsOptions {
  // Impersonation (the service account acts as each mailbox) instead of delegate access.
  bool impersonate = false;
  // Credentials for NTLM and Basic; without a user, ~/.netrc (netrcFile) is looked in.
  std::string user;
  std::string password;
  // Certificates to trust instead of the system's; empty: the system's.
  std::string caFile;
  // Where libcurl looks up credentials; empty: its own default.
  std::string netrcFile;
  long timeoutMs = 120000;
  // The longest one call waits for a throttled server in all.
  long maxWaitMs = 300000;
  // Where the credentials come from, for the message of a refused logon ("--user and the
  // password file /home/a/.ews-password").
  std::string credentialsFrom = "OA_EWS_USER and OA_EWS_PASSWORD";
  // Asked once, at the first logon that needs it, for the password of a user set without one
  // when there is no netrc file either; nullopt leaves it unset.
  std::function<std::optional<std::string>(const std::string& user)> askPassword;
  // Looked up at each logon without a password (before askPassword): the user and password
  // the system keeps for the server's host (Windows: Credential Manager), and where they come
  // from for the message of a refused logon; nullopt when it keeps none for that host.
  struct StoredLogon {
    std::string user, password, from;
  };
  std::function<std::optional<StoredLogon>(const std::string& host)> storedLogon;
};

}  // namespace oa::ews
