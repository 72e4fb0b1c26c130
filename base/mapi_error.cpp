#include "base/mapi_error.h"

#include <cstdio>

namespace oa {

ErrObject& Err() {
  thread_local ErrObject err;
  return err;
}

std::string HexErrorNumber(int32_t number) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "&H%X", static_cast<uint32_t>(number));
  return buf;
}

}  // namespace oa
