// The Win32 window's side of a wait for a busy Exchange server, as the Qt window's: while a
// call waits, the window keeps handling its messages (painting, Cancel, the frame's close,
// through the dialog manager), and the wait ends at once when Cancel or a close has asked the
// run to stop, so that the run unwinds and the program can exit.
#pragma once

#include <atomic>
#include <memory>

#include "mailbox/backends.h"

namespace oa::win32 {

class frmCleanup;

// Installs the wait hooks for `window` on `hooks` (the waiter the sessions were registered with)
// and removes them again when destroyed; create it after the window so that no hook outlives
// what it calls.
class BusyWaitPump {
 public:
  BusyWaitPump(frmCleanup& window, mailbox::WaitHooks& hooks);
  ~BusyWaitPump();
  BusyWaitPump(const BusyWaitPump&) = delete;
  BusyWaitPump& operator=(const BusyWaitPump&) = delete;

 private:
  mailbox::WaitHooks& hooks_;
  // The run's stop flag as the window's thread last saw it, for the check a request in flight
  // asks from WinHTTP's thread.
  std::shared_ptr<std::atomic<bool>> stopSeen_;
};

}  // namespace oa::win32
