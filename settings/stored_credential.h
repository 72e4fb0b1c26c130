// A logon's user and password that the system keeps for a server: on Windows the generic
// credential "oa-cleanup:HOST" in Credential Manager (cmdkey /generic:oa-cleanup:HOST
// /user:NAME /pass); other systems keep none here. Each system's half is a platform file.
#pragma once

#include <optional>
#include <string>

#include "base/credential_target.h"

namespace oa::settings {

struct StoredCredential {
  std::string user;
  // Never logged or printed; wiped by its holder when done.
  std::string password;
};

// Whether this system keeps credentials the program can read.
extern const bool kHaveCredentialStore;

// The credential kept for `host` under CredentialTarget(host) (matched without regard to case), or
// nullopt when there is none, it holds no user or no password, or the system keeps none. The
// password is taken as Credential Manager and cmdkey store it, in UTF-16.
std::optional<StoredCredential> ReadStoredCredential(const std::string& host);

}  // namespace oa::settings
