#include "console/qt/ews_wait_hooks.h"

#include <QCoreApplication>

#include "console/qt/frmCleanup.h"

namespace oa::qt {

WindowWaitHooks::WindowWaitHooks(frmCleanup& window, mailbox::WaitHooks& hooks) : hooks_(hooks) {
  hooks_.SetWhileWaiting([] { QCoreApplication::processEvents(); });
  // Asked right after the events: a Cancel click or close handled there ends this very wait.
  hooks_.SetWaitCancelCheck([&window] { return window.form().run().StopRequested(); });
  // The request runs on this thread (libcurl), so the same flag may be read from there.
  hooks_.SetRequestCancelCheck([&window] { return window.form().run().StopRequested(); });
}

WindowWaitHooks::~WindowWaitHooks() {
  hooks_.Clear();
}

}  // namespace oa::qt
