// POSIX systems keep the password in a file of the user's own (the password file, ~/.netrc),
// read elsewhere; there is no credential store here.
#include "settings/stored_credential.h"

namespace oa::settings {

const bool kHaveCredentialStore = false;

std::optional<StoredCredential> ReadStoredCredential(const std::string&) {
  return std::nullopt;
}

}  // namespace oa::settings
