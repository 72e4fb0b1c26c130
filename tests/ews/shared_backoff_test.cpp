// A busy answer to one client makes every client of the process wait: the jobs of a parallel
// batch back off together instead of pressing on and being throttled too.
#include <gtest/gtest.h>

#include <chrono>

#include "base/mapi_error.h"
#include "mailbox/ews/client.h"
#include "tests/ews/server_fixture.h"

namespace oa::ews::testing {
namespace {

using oa::testing::Dump;
using oa::testing::MailboxStore;
using Clock = std::chrono::steady_clock;

class SharedBackOff : public ServedStore {
 protected:
  void TearDown() override {
    SetWhileWaiting({});
    ServedStore::TearDown();
  }
  std::unique_ptr<Client> NewClient() {
    ClientOptions o;
    o.url = server->url();
    o.user = user;
    o.password = password;
    o.caFile = server->caFile();
    return std::make_unique<Client>(o, waiter);
  }
  // Requests that passed authentication (each new connection is challenged first).
  int Answered() {
    int n = 0;
    for (const auto& r : server->Requests()) n += r.authorized;
    return n;
  }
  std::optional<Response> Resolve(Client& c) {
    auto req = c.NewRequest("ResolveNames");
    req->op().append_attribute("ReturnFullContactData") = "false";
    AddText(req->op(), "m:UnresolvedEntry", "jdoe");
    return c.Call(*req);
  }
};

TEST_F(SharedBackOff, AnotherClientWaitsOutTheBackOffTheServerGaveTheFirst) {
  Serve(Dump({MailboxStore({.alias = "jdoe"})}));
  server->AddTrouble({Trouble::Kind::ServerBusy, "ResolveNames", 0, 1, 1000});
  auto first = NewClient();
  auto second = NewClient();
  // The second client calls while the first waits (from the wait's event hook, as another job
  // would at that moment); it must not reach the server before the back-off is over.
  std::optional<Response> secondAnswer;
  Clock::time_point secondDone{};
  int requestsWhenSecondCalled = -1;
  bool called = false;
  SetWhileWaiting([&] {
    if (called) return;
    called = true;
    requestsWhenSecondCalled = Answered();
    secondAnswer = Resolve(*second);
    secondDone = Clock::now();
  });
  const auto start = Clock::now();
  auto firstAnswer = Resolve(*first);
  ASSERT_TRUE(firstAnswer) << oa::Err().Description();
  ASSERT_TRUE(called);
  ASSERT_TRUE(secondAnswer) << oa::Err().Description();
  EXPECT_EQ(requestsWhenSecondCalled, 1);
  EXPECT_GE(secondDone - start, std::chrono::milliseconds(1000));
  // The first client's busy answer, the second client's request and the first one's retry.
  EXPECT_EQ(Answered(), 3);
  EXPECT_EQ(server->OperationCount("ResolveNames"), 2);

  // With the back-off over, nobody waits (a wait would call the hook).
  int waits = 0;
  SetWhileWaiting([&] { ++waits; });
  ASSERT_TRUE(Resolve(*second));
  EXPECT_EQ(waits, 0);
}

}  // namespace
}  // namespace oa::ews::testing
