#include "mailbox/remote/retry.h"

#include <map>

#include "base/mapi_error.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/remote/call_error.h"

namespace oa::remote {

using namespace oa::mailbox::ConstMAPI;

clock::time_point BackOffGate::until() {
  std::lock_guard lock(mu_);
  return until_;
}

void BackOffGate::HoldUntil(clock::time_point until) {
  std::lock_guard lock(mu_);
  until_ = std::max(until_, until);
}

void BackOffGate::Open() {
  std::lock_guard lock(mu_);
  until_ = {};
}

std::shared_ptr<BackOffGate> GateFor(const std::string& service) {
  static std::mutex mu;
  static std::map<std::string, std::shared_ptr<BackOffGate>> gates;
  std::lock_guard lock(mu);
  auto& gate = gates[service];
  if (!gate) gate = std::make_shared<BackOffGate>();
  return gate;
}

bool Retry::RequestCancelled() const {
  return (stop_ && stop_()) || CancelAsked();
}

bool Retry::Wait(milliseconds d) {
  switch (WaitWithEvents(waiter_.get(), d, stop_)) {
    case WaitEnd::Elapsed:
      return true;
    case WaitEnd::Cancelled:
      Err().Raise(MAPI_E_USER_CANCEL, "The wait for the busy server was cancelled.");
      return false;
    case WaitEnd::Stopped:
      break;
  }
  Err().Raise(MAPI_E_END_OF_SESSION, "The session was logged off while the server was busy.");
  return false;
}

bool Retry::AwaitGate(const backoff::BackOff& budget, const std::string& stayedBusy) {
  const auto busy = gate_ ? gate_->until() - clock::now() : clock::duration::zero();
  if (busy <= clock::duration::zero()) return true;
  const auto wait = std::chrono::ceil<milliseconds>(busy);
  if (!budget.Fits(wait, clock::now())) {
    Err().Raise(MAPI_E_CALL_FAILED, stayedBusy);
    return false;
  }
  return Wait(wait);
}

bool Retry::Run(milliseconds maxWait, Tries& tries) {
  backoff::BackOff backOff(maxWait, clock::now());
  while (true) {
    if (!AwaitGate(backOff, tries.GateStayedBusy()) || !tries.AwaitTurn(backOff)) return false;
    const Try t = tries.Once();
    switch (t.kind) {
      case Try::Kind::Done:
        return true;
      case Try::Kind::Failed:
        return false;
      case Try::Kind::Again:
        continue;
      case Try::Kind::Busy:
        break;
    }
    // Our own guesses grow while the service gives no usable hint of its own.
    const milliseconds wait = backOff.Next(t.hint);
    tries.BusyUntil(clock::now() + wait);
    if (!backOff.Fits(wait, clock::now())) {
      tries.RaiseStayedBusy(t.busyText);
      return false;
    }
    if (gate_) gate_->HoldUntil(clock::now() + wait);
    if (!Wait(wait)) {
      // A wait given up holds back no one else.
      if (gate_) gate_->Open();
      return false;
    }
  }
}

}  // namespace oa::remote
