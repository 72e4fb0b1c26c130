#include "console/activity_log.h"

namespace oa::console {

// POSIX systems write UTF-8 text without a byte order mark, which their tools do not expect.
std::string EncodedLogLine(const std::string&, const std::string& line) {
  return line;
}

}  // namespace oa::console
