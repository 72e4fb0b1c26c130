// The program's session class hands its Graph sessions the options it was registered with, and
// a later registration's options reach only the sessions it creates.
#include <gtest/gtest.h>

#include "mailbox/backends.h"
#include "mailbox/model/session_registry.h"
#include "tests/graph/served_mailbox.h"

namespace oa::graph::testing {
namespace {

using namespace oa::mailbox;
using oa::testing::Dump;

class GraphRegistration : public ServedMailbox {};

TEST_F(GraphRegistration, TheRoutingSessionSignsInWithTheOptionsOfItsRegistration) {
  Serve(Dump({Mailbox(3)}));
  BackendOptions withoutClient = backends;
  withoutClient.graph.clientId.clear();
  RegisterSessionClasses(withoutClient, waiter);
  auto refused = CreateObject(kSessionProgID);
  RegisterSessionClasses(backends, waiter);
  auto accepted = CreateObject(kSessionProgID);
  ASSERT_TRUE(refused && accepted);

  Err().Clear();
  refused->LogonExchangeMailbox("jdoe", "graph");
  EXPECT_FALSE(refused->LoggedOn());
  EXPECT_NE(Err().Description().find("needs the application (client) ID"), std::string::npos)
      << Err().Description();
  Err().Clear();
  accepted->LogonExchangeMailbox("jdoe", "graph");
  ASSERT_TRUE(accepted->LoggedOn()) << Err().Description();
  auto handhelds = Handhelds(*accepted);
  ASSERT_TRUE(handhelds) << Err().Description();
  EXPECT_EQ(handhelds->Items()->Count(), 3);
  EXPECT_GT(server->Requests().size(), 0u);
}

}  // namespace
}  // namespace oa::graph::testing
