// What both platforms' secret-file readers share once a file is open and judged: the refusal of
// a file too large, and the bounded read that leaves no copy of the secret behind.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace oa {

// "PATH: is larger than ...".
std::string SecretFileTooLarge(const std::string& path);

// Reads one chunk of the open file into buf: the bytes read (0 at the end), or nullopt with
// *error "PATH: reason".
using ReadSecretChunk =
    std::function<std::optional<size_t>(char* buf, size_t size, std::string* error)>;

// The whole file through `read`, held to kMaxSecretFileBytes even if it grows while it is read;
// every buffer it used is wiped, whatever the outcome.
std::optional<std::string> ReadWholeSecretFile(const std::string& path, const ReadSecretChunk& read,
                                               std::string* error);

}  // namespace oa
