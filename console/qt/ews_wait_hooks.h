// The window's side of a wait for a busy Exchange server: while the window lives, the wait
// lets its events through (repaints, Cancel, a frame close) and ends at once when Cancel or a
// close has asked the run to stop, so the run unwinds and the program can exit.
#pragma once

#include "mailbox/backends.h"

namespace oa::qt {

class frmCleanup;

// Sets the hooks of the sessions' waiter (`hooks`, as given to RegisterSessionClasses) for
// `window` and removes them again when destroyed; create it after the window (and the
// QApplication) so that no hook outlives what it calls.
class WindowWaitHooks {
 public:
  WindowWaitHooks(frmCleanup& window, mailbox::WaitHooks& hooks);
  ~WindowWaitHooks();
  WindowWaitHooks(const WindowWaitHooks&) = delete;
  WindowWaitHooks& operator=(const WindowWaitHooks&) = delete;

 private:
  mailbox::WaitHooks& hooks_;
};

}  // namespace oa::qt
