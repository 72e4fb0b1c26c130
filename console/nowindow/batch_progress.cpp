#include "console/nowindow/batch_progress.h"

#include <cmath>
#include <cstdio>

namespace oa::nowindow {

std::string DurationText(double seconds) {
  char buf[48];
  if (!(seconds >= 0)) seconds = 0;
  if (seconds < 10) {
    std::snprintf(buf, sizeof buf, "%.1f s", seconds);
    return buf;
  }
  const long long whole = std::llround(seconds);
  if (whole < 60) {
    std::snprintf(buf, sizeof buf, "%lld s", whole);
  } else if (whole < 3600) {
    std::snprintf(buf, sizeof buf, "%lld min %lld s", whole / 60, whole % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%lld h %lld min", whole / 3600, whole % 3600 / 60);
  }
  return buf;
}

std::string BatchProgressLine(size_t k, size_t n, const std::string& mailbox,
                              const std::string& outcome, double seconds, double elapsed) {
  std::string line = "[" + std::to_string(k) + "/" + std::to_string(n) + "] " + mailbox + ": " +
                     outcome + " (" + DurationText(seconds) + ")";
  if (k > 0 && k < n) {
    const double left = elapsed / static_cast<double>(k) * static_cast<double>(n - k);
    line += ", about " + DurationText(left) + " left";
  }
  return line;
}

}  // namespace oa::nowindow
