// For the administrator who wonders why a box stays empty: which registry files were read and
// which lines of them were skipped, and why.
#pragma once

#include <ostream>

namespace oa::settings {

// Prints each registry source read and each skipped line with its number and reason. Returns
// the process exit status.
int CheckRegistry(std::ostream& out);

}  // namespace oa::settings
