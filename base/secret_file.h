// The one reader of the files a run takes secrets from (a password, a client secret, a private
// key) and of the files read beside them (a certificate), and the same checks for a file
// another library reads itself (the netrc file): a FIFO, a device or a file too large is
// refused at once, never waited on or read without end.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace oa {

// The most such a file may hold; a key with its certificate chain is a few KiB.
inline constexpr size_t kMaxSecretFileBytes = 64 * 1024;

enum class SecretFileRule {
  // Also (POSIX) owned by the user running the program, and no group or other permission bits:
  // a file someone else owns or may change could have been put there for us to use.
  OwnerOnly,
  // Public content (a certificate): a regular file of bounded size is enough.
  Public,
};

// The whole of `path`, opened without blocking and judged by what was opened (a symlink to a
// file of one's own is fine). nullopt, with *error "PATH: reason", when it cannot be opened, is
// no regular file, is larger than kMaxSecretFileBytes or breaks `rule`. Once an OwnerOnly file
// is read the process can no longer be dumped; the caller wipes the text when done with it.
std::optional<std::string> ReadSecretFile(const std::string& path, SecretFileRule rule,
                                          std::string* error);

// The same checks without reading the file; true when it passes them.
bool CheckSecretFile(const std::string& path, SecretFileRule rule, std::string* error);

// Overwrites the text before it is released.
void WipeSecret(std::string& text);

}  // namespace oa
