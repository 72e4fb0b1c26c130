// What a call does while it waits out a busy server: the backend cannot see the window, so
// whoever creates the session installs a hook that lets the window process pending events
// (the console: its DoEvents), and Cancel keeps working during a wait. A run without a window
// has no events to process; its Cancel is a signal, which the wait itself has to look for.
#pragma once

#include <chrono>
#include <functional>

namespace oa::ews {

// Installs the hook called repeatedly while a call waits; an empty function removes it.
void SetWhileWaiting(std::function<void()> hook);

// Installs a check asked as often as the hook; once it answers true the wait ends at once and
// the call fails with MAPI_E_USER_CANCEL. An empty function removes it.
void SetWaitCancelCheck(std::function<bool()> cancelled);

// Waits for the duration, calling the hook about every 50 ms. Returns false as soon as
// stop() or the cancel check answers true (asked after each call of the hook).
bool WaitWithEvents(std::chrono::milliseconds duration, const std::function<bool()>& stop);

// Installs the check a request in flight asks (about once a second, and from another thread on
// Windows, so it must be safe to call from any thread); once it answers true the request is cut
// short and the call fails with MAPI_E_USER_CANCEL. It is kept apart from the wait's check,
// which may answer for the wait alone. An empty function removes it.
void SetRequestCancelCheck(std::function<bool()> cancelled);

// Whether the request cancel check answers true now; a request in flight asks it.
bool CancelRequested();

// Whether a wait on this thread ended by the cancel check since the last call; clears it.
bool TakeWaitCancelled();

}  // namespace oa::ews
