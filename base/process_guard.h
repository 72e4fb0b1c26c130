// Keeps secrets the process holds (passwords, client secrets) out of core dumps.
#pragma once

namespace oa {

// From now on the process leaves no core dump (and, on Linux, cannot be attached to by
// another process of the same user). Called once a secret is read; calling it again is cheap.
void ProtectSecretsFromDumps();

}  // namespace oa
