#include "mailbox/graph/graph_options.h"

#include <mutex>

namespace oa::graph {
namespace {

std::mutex gMutex;

GraphOptions& Options() {
  static GraphOptions options;
  return options;
}

}  // namespace

void SetGraphOptions(GraphOptions options) {
  std::lock_guard lock(gMutex);
  Options() = std::move(options);
}

GraphOptions CurrentGraphOptions() {
  std::lock_guard lock(gMutex);
  return Options();
}

}  // namespace oa::graph
