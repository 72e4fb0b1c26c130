#include <windows.h>

#include <csignal>

#include "console/nowindow/cancel_signals.h"

namespace oa::nowindow {
namespace {

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  NoteCancelSignal();
  return TRUE;
}

extern "C" void OnCancelSignal(int signal) {
  // The C library resets the handler before it calls it: catch the next one too.
  std::signal(signal, &OnCancelSignal);
  NoteCancelSignal();
}

}  // namespace

struct CancelSignals::Previous {
  void (*interrupt)(int) = SIG_DFL;
  void (*terminate)(int) = SIG_DFL;
  bool consoleHandler = false;
};

CancelSignals::CancelSignals() : previous_(std::make_unique<Previous>()) {
  previous_->consoleHandler = ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE) != 0;
  // The C library's signals, as std::raise sends them inside the process.
  previous_->interrupt = std::signal(SIGINT, &OnCancelSignal);
  previous_->terminate = std::signal(SIGTERM, &OnCancelSignal);
}

CancelSignals::~CancelSignals() {
  std::signal(SIGINT, previous_->interrupt == SIG_ERR ? SIG_DFL : previous_->interrupt);
  std::signal(SIGTERM, previous_->terminate == SIG_ERR ? SIG_DFL : previous_->terminate);
  if (previous_->consoleHandler) ::SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
}

}  // namespace oa::nowindow
