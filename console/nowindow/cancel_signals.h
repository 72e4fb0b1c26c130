// Ctrl+C and SIGTERM as the Cancel button of the window-less mode. The handler only raises a
// flag; the console turns it into a click on Cancel at its next event-processing point.
#pragma once

#include <csignal>

namespace oa::nowindow {

// Installs the handlers for SIGINT and SIGTERM and ignores SIGPIPE; the previous dispositions
// come back on destruction.
class CancelSignals {
 public:
  CancelSignals();
  ~CancelSignals();
  CancelSignals(const CancelSignals&) = delete;
  CancelSignals& operator=(const CancelSignals&) = delete;

 private:
  struct sigaction previousInt_ {};
  struct sigaction previousTerm_ {};
  struct sigaction previousPipe_ {};
};

// True once SIGINT or SIGTERM has arrived; stays true until cleared.
bool CancelSignalPending();
void ClearCancelSignal();

}  // namespace oa::nowindow
