#include "console/win32/busy_wait.h"
#include "console/win32/frmCleanup.h"
#include "mailbox/ews/wait_hook.h"

namespace oa::win32 {

BusyWaitPump::BusyWaitPump(frmCleanup& window)
    : stopSeen_(std::make_shared<std::atomic<bool>>(false)) {
  // The window's own pump: PeekMessage, the dialog manager, then Translate and Dispatch, and a
  // WM_QUIT left for the message loop.
  ews::SetWhileWaiting([&window] { window.DoEvents(); });
  // Asked right after the messages: a Cancel click or close handled there ends this very wait.
  ews::SetWaitCancelCheck([&window, seen = stopSeen_] {
    const bool stop = window.form().run().StopRequested();
    seen->store(stop);
    return stop;
  });
  // Asked from another thread: only the flag the window's thread has published.
  ews::SetRequestCancelCheck([seen = stopSeen_] { return seen->load(); });
}

BusyWaitPump::~BusyWaitPump() {
  ews::SetRequestCancelCheck({});
  ews::SetWaitCancelCheck({});
  ews::SetWhileWaiting({});
}

}  // namespace oa::win32
