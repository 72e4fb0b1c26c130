// What a call does while it waits out a busy service. The backends cannot see the window, so
// whoever creates the sessions hands them a waiter: it lets the window process pending events
// (the console's DoEvents) and tells when the run is to stop, so that Cancel keeps working during
// a wait. A run without a window has no events to process; its Cancel is a signal, which the
// waiter's checks look for.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

namespace oa::remote {

class Waiter {
 public:
  virtual ~Waiter() = default;
  // Called repeatedly (about every 50 ms) while a call waits.
  virtual void WhileWaiting() = 0;
  // Asked right after WhileWaiting; true ends the wait at once and the call fails with
  // MAPI_E_USER_CANCEL.
  virtual bool WaitCancelled() = 0;
  // Asked by a request in flight (about once a second, and from another thread on Windows, so it
  // must be safe to call from any thread); true cuts the request short (MAPI_E_USER_CANCEL). It
  // is apart from WaitCancelled, which may answer for the wait alone.
  virtual bool RequestCancelled() = 0;
};

// A waiter made of three functions that the program sets once it knows what to ask (the window
// it shows, or the signals of a run without one). An unset function does nothing and answers
// false. Setting and asking may happen on different threads.
class WaitHooks final : public Waiter {
 public:
  void SetWhileWaiting(std::function<void()> hook);
  void SetWaitCancelCheck(std::function<bool()> cancelled);
  void SetRequestCancelCheck(std::function<bool()> cancelled);
  // Removes all three.
  void Clear();

  void WhileWaiting() override;
  bool WaitCancelled() override;
  bool RequestCancelled() override;

 private:
  std::mutex mu_;
  std::function<void()> whileWaiting_;
  std::function<bool()> waitCancelled_;
  std::function<bool()> requestCancelled_;
};

// How a wait ended.
enum class WaitEnd { Elapsed, Stopped, Cancelled };

// Waits for the duration, calling the waiter's WhileWaiting about every 50 ms (none: it only
// sleeps). Ends early with Stopped once stop() answers true, or with Cancelled once the waiter's
// WaitCancelled does (both asked after each WhileWaiting).
WaitEnd WaitWithEvents(Waiter* waiter, std::chrono::milliseconds duration,
                       const std::function<bool()>& stop);

}  // namespace oa::remote
