// Windows: who a file's security descriptor lets read it, as the secret-file reader judges a
// file that is meant to be its owner's only. Kept apart from the file system so that the
// judgment can be tried on any access list (Wine keeps none on its files).
#pragma once

#include <string>
#include <vector>

namespace oa {

struct FileReaders {
  // The owner's account name ("DOMAIN\name", else the SID's text).
  std::string owner;
  // Owned by you, SYSTEM or the Administrators; a file another account owns could have been
  // put there for us to use, and its owner may change it at any time.
  bool ownerTrusted = false;
  // No access list at all (a NULL DACL): everyone may do everything.
  bool noList = false;
  // The other accounts the list lets read the file, in its order: all but the owner, you,
  // SYSTEM and the Administrators (who may take any file anyway).
  std::vector<std::string> others;
};

// `securityDescriptor` is a SECURITY_DESCRIPTOR with its owner and DACL (GetSecurityInfo).
FileReaders ReadersOf(const void* securityDescriptor);

// Empty when the file is its owner's only; else "PATH: reason" naming who else may read it,
// with the command that makes it private.
std::string OwnerOnlyRefusal(const std::string& path, const FileReaders& readers);

}  // namespace oa
