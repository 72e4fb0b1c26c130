// The name under which Windows' Credential Manager keeps a server's logon for this program,
// known to the reader of the credential (settings) and to the messages of a refused logon.
#pragma once

#include <string>

namespace oa {

// "oa-cleanup:HOST", the generic credential's target.
inline std::string CredentialTarget(const std::string& host) {
  return "oa-cleanup:" + host;
}

// How a message names it: "the credential oa-cleanup:HOST in Credential Manager".
inline std::string CredentialManagerEntry(const std::string& host) {
  return "the credential " + CredentialTarget(host) + " in Credential Manager";
}

}  // namespace oa
