#include "base/process_guard.h"

namespace oa {

// Windows offers a process no way to forbid dumps of itself: a crash dump is written by
// Windows Error Reporting as the machine's settings say (WerAddExcludedApplication only keeps
// the crash from being reported), and anyone who may read the process's memory can dump it at
// any time. So nothing is done here; what protects the secret is who may open the process.
void ProtectSecretsFromDumps() {}

}  // namespace oa
