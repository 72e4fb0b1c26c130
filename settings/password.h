// The EWS password's sources besides the environment: a file only its owner may read, and the
// terminal, read without echo.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "base/secret_file.h"

namespace oa::settings {

// The most a password or client secret file may hold.
using oa::kMaxSecretFileBytes;

// The first line of `path` (without its line end), read by ReadSecretFile (OwnerOnly): the one
// reader of password and client secret files. nullopt, with *error naming the file and the reason,
// when it cannot be read, is no regular file (a FIFO is refused without waiting on it), is larger
// than kMaxSecretFileBytes, is empty, or (POSIX) is owned by another user or its mode lets group or
// others in. Once a secret is read the process can no longer be dumped.
std::optional<std::string> ReadPasswordFile(const std::string& path, std::string* error);

// Shows `prompt` on standard error and reads one line from standard input, a terminal, with
// echo off; the terminal's settings are put back in every case. nullopt when standard input
// is no terminal, at end of input, or once `cancelled` answers true (checked while waiting).
std::optional<std::string> PromptPassword(const std::string& prompt,
                                          const std::function<bool()>& cancelled);

}  // namespace oa::settings
