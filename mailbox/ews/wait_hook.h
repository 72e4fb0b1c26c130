// What a call does while it waits out a busy server: the backend cannot see the window, so
// whoever creates the session installs a hook that lets the window process pending events
// (the console: its DoEvents), and Cancel keeps working during a wait.
#pragma once

#include <chrono>
#include <functional>

namespace oa::ews {

// Installs the hook called repeatedly while a call waits; an empty function removes it.
void SetWhileWaiting(std::function<void()> hook);

// Waits for the duration, calling the hook about every 50 ms. Returns false as soon as
// stop() answers true (checked after each call of the hook).
bool WaitWithEvents(std::chrono::milliseconds duration, const std::function<bool()>& stop);

}  // namespace oa::ews
