// One call to a service that may be busy: tries until the service answers or the call's budget
// for waiting is spent, with the same back-off for every service (base/backoff.h), a gate that
// holds every client of the process while the service has asked one of them to wait, and waits
// that keep the window alive and end on Cancel (waiter.h). The service says what each answer
// means (Tries).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/backoff.h"
#include "mailbox/remote/waiter.h"

namespace oa::remote {

using std::chrono::milliseconds;
using clock = std::chrono::steady_clock;

// Shared by every client of a service in the process: when the service tells one job of a
// parallel batch to wait, all of them wait, instead of the others pressing on and being
// throttled too.
class BackOffGate {
 public:
  clock::time_point until();
  // Nothing goes before `until` (a later one wins).
  void HoldUntil(clock::time_point until);
  // A wait given up (Cancel, logoff) holds back no one else.
  void Open();

 private:
  std::mutex mu_;
  clock::time_point until_{};
};

// The gate of a service ("ews", "graph"), the same object for the whole process.
std::shared_ptr<BackOffGate> GateFor(const std::string& service);

// What one try came to.
struct Try {
  enum class Kind { Done, Failed, Again, Busy };
  Kind kind = Kind::Done;
  // Busy: the wait the service asked for, if any, and what it said.
  std::optional<milliseconds> hint;
  std::string busyText;

  static Try Done() { return {Kind::Done, std::nullopt, {}}; }
  // The error is raised already.
  static Try Failed() { return {Kind::Failed, std::nullopt, {}}; }
  // At once again (a dropped connection, a renewed token).
  static Try Again() { return {Kind::Again, std::nullopt, {}}; }
  static Try Busy(std::optional<milliseconds> hint, std::string text) {
    return {Kind::Busy, hint, std::move(text)};
  }
};

// The service's part of a call.
class Tries {
 public:
  virtual ~Tries() = default;
  // The error of a gate that opens only after the budget.
  virtual std::string GateStayedBusy() const = 0;
  // Before each try, once the gate is open: waits for the service's own turn (pacing, a hold
  // of its own); false with the error raised.
  virtual bool AwaitTurn(const backoff::BackOff& budget) {
    (void)budget;
    return true;
  }
  // Sends once and says what the answer means.
  virtual Try Once() = 0;
  // A busy answer whose wait (until `until`) the call takes or gives up on.
  virtual void BusyUntil(clock::time_point until) { (void)until; }
  // The error of a busy answer whose wait would end after the budget.
  virtual void RaiseStayedBusy(const std::string& busyText) = 0;
};

// The waits of one client: its gate, the program's waiter and the session's stop check.
class Retry {
 public:
  Retry(std::shared_ptr<BackOffGate> gate, std::shared_ptr<Waiter> waiter)
      : gate_(std::move(gate)), waiter_(std::move(waiter)) {}

  // Asked while waiting; a true answer ends the wait and the call with MAPI_E_END_OF_SESSION.
  void SetStopCheck(std::function<bool()> stop) { stop_ = std::move(stop); }
  // The check a request in flight asks: the stop check or the waiter's request check.
  bool RequestCancelled() const;
  // The waiter's request check alone: whether Cancel was asked for.
  bool CancelAsked() const { return waiter_ && waiter_->RequestCancelled(); }

  // Tries until done, failed or out of budget (`maxWait` in all). Busy answers are waited out:
  // the next back-off, the gate held for it, then tried again. True when done; else the error
  // is raised.
  bool Run(milliseconds maxWait, Tries& tries);

  // Waits with the window's events; false, with the error raised, when the wait was cut short
  // (MAPI_E_USER_CANCEL for Cancel, MAPI_E_END_OF_SESSION for the stop check).
  bool Wait(milliseconds d);
  // Waits for the gate to open; false with the error raised when it opens after the budget
  // (MAPI_E_CALL_FAILED, `stayedBusy`) or the wait was cut short.
  bool AwaitGate(const backoff::BackOff& budget, const std::string& stayedBusy);

 private:
  std::shared_ptr<BackOffGate> gate_;
  std::shared_ptr<Waiter> waiter_;
  std::function<bool()> stop_;
};

}  // namespace oa::remote
