#include "settings/check_registry.h"

namespace oa::settings {

// Placeholder until the registry layer lands.
int CheckRegistry(std::ostream&) {
  return 0;
}

}  // namespace oa::settings
