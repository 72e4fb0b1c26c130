// Ctrl+C and SIGTERM (on Windows Ctrl+C and Ctrl+Break) as the Cancel button of the window-less
// mode. The handler only raises a flag; the console turns it into a click on Cancel at its next
// event-processing point. Each system's handlers are in a platform file of their own.
#pragma once

#include <memory>

namespace oa::nowindow {

// Installs the handlers (on POSIX systems for SIGINT and SIGTERM, ignoring SIGPIPE; on Windows
// for the console's Ctrl+C and Ctrl+Break and the C library's SIGINT and SIGTERM); the previous
// dispositions come back on destruction.
class CancelSignals {
 public:
  CancelSignals();
  ~CancelSignals();
  CancelSignals(const CancelSignals&) = delete;
  CancelSignals& operator=(const CancelSignals&) = delete;

 private:
  struct Previous;
  std::unique_ptr<Previous> previous_;
};

// True once a cancel signal has arrived; stays true until cleared.
bool CancelSignalPending();
void ClearCancelSignal();

// What the handlers call: raises the flag (safe in a signal handler).
void NoteCancelSignal();

}  // namespace oa::nowindow
