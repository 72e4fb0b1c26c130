// A wait the service asked of one Graph client holds every client of the process: the jobs of
// a parallel batch back off together instead of pressing on and being throttled too, as with
// EWS.
#include <gtest/gtest.h>

#include <optional>

#include "mailbox/graph/client.h"
#include "tests/graph/served_mailbox.h"

namespace oa::graph::testing {
namespace {

using oa::testing::Dump;

class SharedBackOffOverGraph : public ServedMailbox {
 protected:
  int Seen(const std::string& operation) {
    int n = 0;
    for (const auto& r : server->Requests()) n += r.operation == operation;
    return n;
  }
};

// The fault: the second client went to the service during the first one's wait.
TEST_F(SharedBackOffOverGraph, AnotherClientWaitsOutTheWaitTheServiceGaveTheFirst) {
  Serve(Dump({Mailbox(0)}));
  server->AddTrouble({Trouble::Kind::Http429, "users", 0, 1, 1000});
  GraphOptions o = backends.graph;
  // No mailbox set: only the process's gate can hold the second client back.
  Client first(o, o.tenant, waiter), second(o, o.tenant, waiter);
  ASSERT_TRUE(first.SignIn()) << Err().Description();
  ASSERT_TRUE(second.SignIn()) << Err().Description();
  // The second client calls while the first waits (from the wait's event hook, as another job
  // would at that moment); its own waits for the gate are told apart.
  bool called = false, inSecond = false;
  int gateWaits = 0, usersSeenInGateWait = -1;
  std::optional<json> secondAnswer;
  SetWhileWaiting([&] {
    if (inSecond) {
      ++gateWaits;
      usersSeenInGateWait = Seen("users");
      return;
    }
    if (called) return;
    called = true;
    inSecond = true;
    secondAnswer = second.Call("GET", "/users/jdoe@example.com");
    inSecond = false;
  });
  auto firstAnswer = first.Call("GET", "/users/jdoe@example.com");
  ASSERT_TRUE(firstAnswer) << Err().Description();
  ASSERT_TRUE(called);
  ASSERT_TRUE(secondAnswer) << Err().Description();
  // The second waited at the gate with only the first's refused request sent.
  EXPECT_GT(gateWaits, 0);
  EXPECT_EQ(usersSeenInGateWait, 1);
  EXPECT_EQ(Seen("users"), 3);
  int refused = 0;
  for (const auto& r : server->Requests()) refused += r.status == 429;
  EXPECT_EQ(refused, 1);
}

}  // namespace
}  // namespace oa::graph::testing
