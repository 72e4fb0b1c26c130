// App-only tokens over a run longer than one token's life: the client renews ahead of expiry (by
// a clock both sides share, moved on by the test), so no request goes out with an expired token;
// a token the service refuses all the same is replaced once and the request sent again, never in
// a loop.
#include <gtest/gtest.h>

#include <mutex>

#include "base/mapi_error.h"
#include "mailbox/graph/client.h"
#include "mailbox/model/const_mapi.h"
#include "tests/graph/graph_test_server.h"
#include "tests/nowindow/store_fixture.h"

namespace oa::graph::testing {
namespace {

using std::chrono::seconds;
using steady = std::chrono::steady_clock;

// A clock the test moves on by hand.
class ManualClock {
 public:
  steady::time_point Now() {
    std::lock_guard lock(mu_);
    return now_;
  }
  void Advance(seconds s) {
    std::lock_guard lock(mu_);
    now_ += s;
  }

 private:
  std::mutex mu_;
  steady::time_point now_ = steady::now();
};

class TokenRenewal : public ::testing::Test {
 protected:
  void SetUp() override {
    oa::testing::ImportStore(oa::testing::Dump({oa::testing::MailboxStore({.alias = "jdoe"})}),
                             dir / "demo.store");
    server_.storeFile = dir / "demo.store";
    server_.mailboxes = {{"jdoe", "jdoe@example.com"}};
    server_.certDir = dir.path().string();
    server_.lifetime = seconds(120);
    server_.clock = [this] { return clock.Now(); };
  }

  std::unique_ptr<GraphTestServer> Start() {
    auto s = std::make_unique<GraphTestServer>(server_);
    EXPECT_TRUE(s->Start());
    return s;
  }

  Client ClientOf(const GraphTestServer& s) {
    GraphOptions o;
    o.tenant = s.options().tenant;
    o.clientId = s.options().clientId;
    o.clientSecret = s.options().clientSecret;
    o.loginUrl = o.graphUrl = s.url();
    o.caFile = s.caFile();
    o.now = [this] { return clock.Now(); };
    return Client(o, o.tenant);
  }

  static bool ReadUser(Client& c) {
    Err().Clear();
    return c.Call("GET", "/users/jdoe%40example.com?$select=id").has_value();
  }

  // "token" or the status of each Graph request, in order.
  static std::vector<std::string> Sequence(GraphTestServer& s) {
    std::vector<std::string> out;
    for (const auto& r : s.Requests())
      out.push_back(r.operation == "token" ? "token" : std::to_string(r.status));
    return out;
  }

  oa::testing::TempDir dir;
  ManualClock clock;
  GraphServerOptions server_;
};

TEST_F(TokenRenewal, ShortLivedTokensAreRenewedBeforeTheyExpire) {
  server_.tokenLifetimeSeconds = 60;
  auto server = Start();
  Client c = ClientOf(*server);
  ASSERT_TRUE(c.SignIn());
  ASSERT_TRUE(ReadUser(c)) << Err().Description();
  // Well inside the first token's life: kept.
  clock.Advance(seconds(30));
  ASSERT_TRUE(ReadUser(c)) << Err().Description();
  EXPECT_EQ(c.tokensFetched(), 1);
  // Fifteen seconds or less left: renewed before the request goes.
  clock.Advance(seconds(30));
  ASSERT_TRUE(ReadUser(c)) << Err().Description();
  EXPECT_EQ(c.tokensFetched(), 2);
  clock.Advance(seconds(30));
  ASSERT_TRUE(ReadUser(c)) << Err().Description();
  clock.Advance(seconds(20));
  ASSERT_TRUE(ReadUser(c)) << Err().Description();
  EXPECT_EQ(c.tokensFetched(), 3);
  const std::vector<std::string> expected = {"token", "200", "200",   "token",
                                             "200",   "200", "token", "200"};
  EXPECT_EQ(Sequence(*server), expected);
  // Each request carried the token given out last.
  std::string current;
  int tokens = 0;
  for (const auto& r : server->Requests()) {
    if (r.operation == "token")
      current = "Bearer tok-" + std::to_string(++tokens);
    else
      EXPECT_EQ(r.authorization, current);
  }
}

TEST_F(TokenRenewal, TheHourLongTokenIsKeptUntilFiveMinutesBeforeItsEnd) {
  auto server = Start();
  Client c = ClientOf(*server);
  ASSERT_TRUE(ReadUser(c)) << Err().Description();
  clock.Advance(seconds(3599 - 301));
  ASSERT_TRUE(ReadUser(c));
  EXPECT_EQ(c.tokensFetched(), 1);
  clock.Advance(seconds(2));
  ASSERT_TRUE(ReadUser(c));
  EXPECT_EQ(c.tokensFetched(), 2);
  EXPECT_EQ(server->Count("token"), 2);
}

TEST_F(TokenRenewal, ARefusedTokenIsReplacedOnceAndTheRequestSentAgain) {
  auto server = Start();
  Client c = ClientOf(*server);
  ASSERT_TRUE(ReadUser(c)) << Err().Description();
  // Revoked, or the clocks disagree: the client still believes in its token.
  server->ExpireTokens();
  ASSERT_TRUE(ReadUser(c)) << Err().Description();
  ASSERT_TRUE(ReadUser(c)) << Err().Description();
  const std::vector<std::string> expected = {"token", "200", "401", "token", "200", "200"};
  EXPECT_EQ(Sequence(*server), expected);
}

TEST_F(TokenRenewal, ATokenRefusedAgainFailsTheCallWithoutALoop) {
  // The service refuses every token at once although it says they last an hour.
  server_.tokenValidSeconds = 0;
  auto server = Start();
  Client c = ClientOf(*server);
  EXPECT_FALSE(ReadUser(c));
  EXPECT_EQ(Err().Number(), oa::mailbox::ConstMAPI::MAPI_E_LOGON_FAILED);
  EXPECT_EQ(Err().Description(),
            "The sign-in was refused: Lifetime validation failed, the token is expired.");
  const std::vector<std::string> expected = {"token", "401", "token", "401"};
  EXPECT_EQ(Sequence(*server), expected);
  // The next call tries once more, again without a loop.
  EXPECT_FALSE(ReadUser(c));
  EXPECT_EQ(Sequence(*server).size(), 7u);
}

}  // namespace
}  // namespace oa::graph::testing
