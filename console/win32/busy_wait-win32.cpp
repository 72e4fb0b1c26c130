#include "console/win32/busy_wait.h"
#include "console/win32/frmCleanup.h"

namespace oa::win32 {

BusyWaitPump::BusyWaitPump(frmCleanup& window, mailbox::WaitHooks& hooks)
    : hooks_(hooks), stopSeen_(std::make_shared<std::atomic<bool>>(false)) {
  // The window's own pump: PeekMessage, the dialog manager, then Translate and Dispatch, and a
  // WM_QUIT left for the message loop.
  hooks_.SetWhileWaiting([&window] { window.DoEvents(); });
  // Asked right after the messages: a Cancel click or close handled there ends this very wait.
  hooks_.SetWaitCancelCheck([&window, seen = stopSeen_] {
    const bool stop = window.form().run().StopRequested();
    seen->store(stop);
    return stop;
  });
  // Asked from another thread: only the flag the window's thread has published.
  hooks_.SetRequestCancelCheck([seen = stopSeen_] { return seen->load(); });
}

BusyWaitPump::~BusyWaitPump() {
  hooks_.Clear();
}

}  // namespace oa::win32
