#include "console/nowindow/cancel_signals.h"

#include <csignal>

namespace oa::nowindow {
namespace {

volatile std::sig_atomic_t gCancelSignal = 0;

}  // namespace

void NoteCancelSignal() {
  gCancelSignal = 1;
}

bool CancelSignalPending() {
  return gCancelSignal != 0;
}

void ClearCancelSignal() {
  gCancelSignal = 0;
}

}  // namespace oa::nowindow
