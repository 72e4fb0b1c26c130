// One call's tries against a service that is busy: the back-off between them, the gate every
// client of the service waits for, and the waits that a waiter or the session's stop cuts short.
#include "mailbox/remote/retry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <memory>
#include <string>

#include "base/mapi_error.h"
#include "mailbox/model/const_mapi.h"
#include "mailbox/remote/call_error.h"
#include "mailbox/remote/waiter.h"

namespace oa::remote {
namespace {

using namespace oa::mailbox::ConstMAPI;
using std::chrono::milliseconds;

// Answers from a list, in order; counts the tries.
class Scripted : public Tries {
 public:
  explicit Scripted(std::deque<Try> answers) : answers_(std::move(answers)) {}
  int tries = 0;
  std::string GateStayedBusy() const override { return "gate stayed busy"; }
  void RaiseStayedBusy(const std::string& text) override {
    Err().Raise(MAPI_E_CALL_FAILED, "stayed busy: " + text);
  }
  void BusyUntil(clock::time_point until) override { busyUntil = until; }
  Try Once() override {
    ++tries;
    lastTry = clock::now();
    Try t = answers_.front();
    answers_.pop_front();
    if (t.kind == Try::Kind::Failed) Err().Raise(MAPI_E_NETWORK_ERROR, "failed");
    return t;
  }
  clock::time_point busyUntil{};
  // When the last try went to the service.
  clock::time_point lastTry{};

 private:
  std::deque<Try> answers_;
};

class RetryLoop : public ::testing::Test {
 protected:
  void SetUp() override { Err().Clear(); }
  std::shared_ptr<BackOffGate> gate = std::make_shared<BackOffGate>();
  std::shared_ptr<WaitHooks> waiter = std::make_shared<WaitHooks>();
};

TEST_F(RetryLoop, ABusyAnswerIsWaitedOutWithEventsThenTriedAgain) {
  Retry retry(gate, waiter);
  int events = 0;
  waiter->SetWhileWaiting([&] { ++events; });
  Scripted s({Try::Busy(milliseconds(600), "busy"), Try::Again(), Try::Done()});
  EXPECT_TRUE(retry.Run(milliseconds(60000), s)) << Err().Description();
  EXPECT_EQ(s.tries, 3);
  EXPECT_GT(events, 0);
  EXPECT_NE(s.busyUntil, clock::time_point{});
  EXPECT_FALSE(Err().Pending());
}

TEST_F(RetryLoop, AWaitBeyondTheBudgetFailsWithTheServicesTextAndHoldsNoOneElse) {
  Retry retry(gate, waiter);
  Scripted s({Try::Busy(milliseconds(60000), "come back in a minute")});
  EXPECT_FALSE(retry.Run(milliseconds(1000), s));
  EXPECT_EQ(Err().Number(), MAPI_E_CALL_FAILED);
  EXPECT_EQ(Err().Description(), "stayed busy: come back in a minute");
  EXPECT_EQ(s.tries, 1);
  // The service still said when: the service's side was told, the gate was not.
  EXPECT_NE(s.busyUntil, clock::time_point{});
  EXPECT_LE(gate->until(), clock::now());
}

TEST_F(RetryLoop, AFailedTryEndsTheCallWithItsOwnError) {
  Retry retry(gate, nullptr);
  Scripted s({Try::Failed()});
  EXPECT_FALSE(retry.Run(milliseconds(60000), s));
  EXPECT_EQ(Err().Number(), MAPI_E_NETWORK_ERROR);
  EXPECT_EQ(s.tries, 1);
}

// The fault: the second client of a parallel batch went to the service during the first one's
// wait and was throttled too.
TEST_F(RetryLoop, AnotherClientOfTheGateWaitsBeforeItsFirstTry) {
  Retry first(gate, waiter);
  Retry second(gate, waiter);
  int secondTriesDuringTheWait = -1;
  Scripted later({Try::Done()});
  bool called = false;
  clock::time_point heldUntil{};
  const auto start = clock::now();
  waiter->SetWhileWaiting([&] {
    if (called) return;
    called = true;
    // Inside the first client's wait: the gate is held for the whole of the busy answer's wait
    // (judged by the hold itself, not by how soon this hook came).
    heldUntil = gate->until();
    EXPECT_GE(heldUntil, start + milliseconds(600));
    EXPECT_TRUE(second.Run(milliseconds(60000), later));
    secondTriesDuringTheWait = later.tries;
  });
  Scripted s({Try::Busy(milliseconds(600), ""), Try::Done()});
  EXPECT_TRUE(first.Run(milliseconds(60000), s));
  EXPECT_EQ(secondTriesDuringTheWait, 1);
  // The second client's try came after the gate opened, not at once.
  EXPECT_GE(later.lastTry, heldUntil);
  EXPECT_GE(clock::now() - start, milliseconds(600));
}

TEST_F(RetryLoop, AGateBeyondTheBudgetFailsBeforeAnyTry) {
  gate->HoldUntil(clock::now() + std::chrono::minutes(10));
  Retry retry(gate, waiter);
  Scripted s({Try::Done()});
  EXPECT_FALSE(retry.Run(milliseconds(1000), s));
  EXPECT_EQ(Err().Description(), "gate stayed busy");
  EXPECT_EQ(s.tries, 0);
}

// The fault: a cancelled wait left the gate held, and every other job waited out the minute.
TEST_F(RetryLoop, ACancelledWaitFailsAsCancelAndOpensTheGate) {
  Retry retry(gate, waiter);
  int asked = 0;
  waiter->SetWaitCancelCheck([&] { return ++asked >= 3; });
  Scripted s({Try::Busy(milliseconds(60000), "")});
  EXPECT_FALSE(retry.Run(milliseconds(120000), s));
  EXPECT_EQ(Err().Number(), MAPI_E_USER_CANCEL);
  EXPECT_EQ(Err().Description(), "The wait for the busy server was cancelled.");
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(gate->until(), clock::time_point{});
}

TEST_F(RetryLoop, TheSessionsStopEndsAWaitAsALogoffBeforeTheWaitersCheck) {
  Retry retry(gate, waiter);
  waiter->SetWaitCancelCheck([] { return true; });
  retry.SetStopCheck([] { return true; });
  Scripted s({Try::Busy(milliseconds(60000), "")});
  EXPECT_FALSE(retry.Run(milliseconds(120000), s));
  EXPECT_EQ(Err().Number(), MAPI_E_END_OF_SESSION);
  EXPECT_EQ(Err().Description(), "The session was logged off while the server was busy.");
}

TEST(RequestCancel, ARequestAsksTheStopCheckAndTheWaitersRequestCheckOnly) {
  auto waiter = std::make_shared<WaitHooks>();
  Retry retry(nullptr, waiter);
  EXPECT_FALSE(retry.RequestCancelled());
  // The wait's own check answers for the wait alone.
  waiter->SetWaitCancelCheck([] { return true; });
  EXPECT_FALSE(retry.RequestCancelled());
  waiter->SetRequestCancelCheck([] { return true; });
  EXPECT_TRUE(retry.RequestCancelled());
  EXPECT_TRUE(retry.CancelAsked());
  waiter->Clear();
  bool stop = false;
  retry.SetStopCheck([&] { return stop; });
  EXPECT_FALSE(retry.RequestCancelled());
  stop = true;
  EXPECT_TRUE(retry.RequestCancelled());
  EXPECT_FALSE(retry.CancelAsked());
}

TEST(TransportErrors, EachServiceIsNamedAsItsSentencesNameIt) {
  http::HttpResult r;
  r.failure = http::Failure::TlsVerify;
  r.failureText = "self-signed";
  EXPECT_EQ(TransportError(r, TheServer()).description,
            "The server's TLS certificate could not be verified: self-signed");
  EXPECT_EQ(TransportError(r, PartyNamed("Microsoft Graph")).description,
            "Microsoft Graph's TLS certificate could not be verified: self-signed");
  r.failure = http::Failure::TooLarge;
  r.failureText = "more than 64 MiB";
  EXPECT_EQ(TransportError(r, TheServer()).description,
            "The server's answer was refused: more than 64 MiB.");
  EXPECT_EQ(TransportError(r, PartyNamed("Microsoft Graph")).description,
            "The answer from Microsoft Graph was refused: more than 64 MiB.");
  r.failure = http::Failure::Cancelled;
  const CallError e = TransportError(r, PartyNamed("the token endpoint"));
  EXPECT_EQ(e.number, MAPI_E_USER_CANCEL);
  EXPECT_EQ(e.description, "The request to the token endpoint was cancelled.");
  r.failure = http::Failure::Unreachable;
  r.failureText = "refused";
  EXPECT_EQ(TransportError(r, TheServer()).number, MAPI_E_NETWORK_ERROR);
}

}  // namespace
}  // namespace oa::remote
