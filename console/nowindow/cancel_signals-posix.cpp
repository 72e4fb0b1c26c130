#include <csignal>

#include "console/nowindow/cancel_signals.h"

namespace oa::nowindow {
namespace {

extern "C" void OnCancelSignal(int) {
  NoteCancelSignal();
}

}  // namespace

struct CancelSignals::Previous {
  struct sigaction interrupt {};
  struct sigaction terminate {};
  struct sigaction pipe {};
};

CancelSignals::CancelSignals() : previous_(std::make_unique<Previous>()) {
  struct sigaction action {};
  action.sa_handler = &OnCancelSignal;
  sigemptyset(&action.sa_mask);
  // Restarted calls: a store call in progress finishes, the run reacts at its next step.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, &previous_->interrupt);
  sigaction(SIGTERM, &action, &previous_->terminate);
  // A reader that goes away (`| head`) must not kill a run between two mailbox calls.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &previous_->pipe);
}

CancelSignals::~CancelSignals() {
  sigaction(SIGINT, &previous_->interrupt, nullptr);
  sigaction(SIGTERM, &previous_->terminate, nullptr);
  sigaction(SIGPIPE, &previous_->pipe, nullptr);
}

}  // namespace oa::nowindow
