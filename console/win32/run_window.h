// Starts the Win32 cleanup window and runs it until it has been unloaded.
#pragma once

#include <string>

#include "mailbox/backends.h"

namespace oa::win32 {

// Returns the exit status: 0 after the window closed, 1 when no window could be made. The
// sessions' waits for a busy server ask `waitHooks`, which the window fills in while it runs.
int RunWindow(const std::string& logPath, mailbox::WaitHooks& waitHooks);

}  // namespace oa::win32
