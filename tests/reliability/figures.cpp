#include "tests/reliability/figures.h"

#include <cstdlib>
#include <fstream>

namespace oa::testing {

void AddFigure(const std::string& name, long count) {
  const char* file = std::getenv("OA_RELIABILITY_FIGURES");
  if (!file || !*file) return;
  std::ofstream(file, std::ios::app) << name << '\t' << count << '\n';
}

bool Reduced() {
#ifdef OA_RELIABILITY_REDUCED_BUILD
  return true;
#else
  const char* reduced = std::getenv("OA_RELIABILITY_REDUCED");
  return reduced && *reduced && std::string(reduced) != "0";
#endif
}

}  // namespace oa::testing
