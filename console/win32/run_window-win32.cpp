#include <windows.h>

#include <cstdio>

#include "console/win32/busy_wait.h"
#include "console/win32/frmCleanup.h"
#include "console/win32/run_window.h"

namespace oa::win32 {

using console::ActivityLog;

namespace {

// Started from the Start menu or Explorer, the program got a console of its own, which a window
// does not need; started from a command prompt it shares the prompt's, which stays.
void LeaveOwnConsole() {
  DWORD processes[2];
  if (::GetConsoleProcessList(processes, 2) == 1) ::FreeConsole();
}

}  // namespace

int RunWindow(const std::string& logPath, mailbox::WaitHooks& waitHooks) {
  frmCleanup window{ActivityLog(logPath)};
  if (!window.Created()) {
    std::fprintf(stderr,
                 "oa-cleanup: the window cannot be created (error %lu); run it with "
                 "--no-window\n",
                 static_cast<unsigned long>(::GetLastError()));
    return 1;
  }
  LeaveOwnConsole();
  // A call waiting out a busy server still lets the window's messages through, and Cancel ends
  // the wait.
  BusyWaitPump busyWait(window, waitHooks);
  window.Load();
  window.Show(SW_SHOWDEFAULT);
  return MessageLoop(window);
}

}  // namespace oa::win32
