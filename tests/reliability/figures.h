// Figures the reliability tests count (kills survived, bad inputs tried, ...), added to the file
// named by OA_RELIABILITY_FIGURES so that the last test of the run can print their sums.
#pragma once

#include <string>

namespace oa::testing {

void AddFigure(const std::string& name, long count);

// True for the sanitizer build (or with OA_RELIABILITY_REDUCED=1): the heavy cases run with
// fewer rounds and items.
bool Reduced();

}  // namespace oa::testing
