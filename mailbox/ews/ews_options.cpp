#include "mailbox/ews/ews_options.h"

#include <mutex>

namespace oa::ews {
namespace {

std::mutex gMutex;

EwsOptions& Options() {
  static EwsOptions options;
  return options;
}

}  // namespace

void SetEwsOptions(EwsOptions options) {
  std::lock_guard lock(gMutex);
  Options() = std::move(options);
}

EwsOptions CurrentEwsOptions() {
  std::lock_guard lock(gMutex);
  return Options();
}

}  // namespace oa::ews
