// For the administrator who wonders why a box stays empty: which registry files were read and
// which lines of them were skipped, and why.
#pragma once

#include <ostream>

#include "settings/settings.h"

namespace oa::settings {

// Prints each registry source read and each skipped line with its number and reason. Returns
// the process exit status: 0 when everything found could be read, 1 otherwise. Elsewhere than
// on Windows the sources are the export files `files` names.
int CheckRegistry(std::ostream& out, const RegistryFiles& files);

}  // namespace oa::settings
