// Starts the Win32 cleanup window and runs it until it has been unloaded.
#pragma once

#include <string>

namespace oa::win32 {

// Returns the exit status: 0 after the window closed, 1 when no window could be made.
int RunWindow(const std::string& logPath);

}  // namespace oa::win32
