#include "console/qt/ews_wait_hooks.h"

#include <QCoreApplication>

#include "console/qt/frmCleanup.h"
#include "mailbox/ews/wait_hook.h"

namespace oa {

WindowWaitHooks::WindowWaitHooks(frmCleanup& window) {
  ews::SetWhileWaiting([] { QCoreApplication::processEvents(); });
  // Asked right after the events: a Cancel click or close handled there ends this very wait.
  ews::SetWaitCancelCheck([&window] { return window.form().run().StopRequested(); });
  // The request runs on this thread (libcurl), so the same flag may be read from there.
  ews::SetRequestCancelCheck([&window] { return window.form().run().StopRequested(); });
}

WindowWaitHooks::~WindowWaitHooks() {
  ews::SetRequestCancelCheck({});
  ews::SetWaitCancelCheck({});
  ews::SetWhileWaiting({});
}

}  // namespace oa
