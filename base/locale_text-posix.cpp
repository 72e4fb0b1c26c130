#include "base/locale_text.h"

namespace oa {

std::string LocaleDateTimeText(const std::tm& local, bool dateOnly) {
  char buf[128];
  const size_t n = std::strftime(buf, sizeof buf, dateOnly ? "%x" : "%x %X", &local);
  return std::string(buf, n);
}

std::string AnsiFromUtf8(const std::string& utf8) {
  return utf8;
}

}  // namespace oa
