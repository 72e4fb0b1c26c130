#include "console/nowindow/cancel_signals.h"

namespace oa::nowindow {
namespace {

volatile std::sig_atomic_t gCancelSignal = 0;

extern "C" void OnCancelSignal(int) {
  gCancelSignal = 1;
}

}  // namespace

CancelSignals::CancelSignals() {
  struct sigaction action {};
  action.sa_handler = &OnCancelSignal;
  sigemptyset(&action.sa_mask);
  // Restarted calls: a store call in progress finishes, the run reacts at its next step.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, &previousInt_);
  sigaction(SIGTERM, &action, &previousTerm_);
  // A reader that goes away (`| head`) must not kill a run between two mailbox calls.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &previousPipe_);
}

CancelSignals::~CancelSignals() {
  sigaction(SIGINT, &previousInt_, nullptr);
  sigaction(SIGTERM, &previousTerm_, nullptr);
  sigaction(SIGPIPE, &previousPipe_, nullptr);
}

bool CancelSignalPending() {
  return gCancelSignal != 0;
}

void ClearCancelSignal() {
  gCancelSignal = 0;
}

}  // namespace oa::nowindow
