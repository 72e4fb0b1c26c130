#include <sys/resource.h>

#include "base/process_guard.h"

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace oa {

void ProtectSecretsFromDumps() {
#ifdef __linux__
  // Not dumpable: no core file, whatever the core limit or core_pattern says, and no ptrace
  // attach by the same user. Unlike a core limit of 0 it is not passed on to programs run.
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#else
  // Elsewhere a core limit of 0 is what every POSIX system offers.
  const rlimit none{0, 0};
  ::setrlimit(RLIMIT_CORE, &none);
#endif
}

}  // namespace oa
