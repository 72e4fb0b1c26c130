// The Graph client against a service that answers as an attacker would: next-page links to
// another origin, a token with a header in it, lifetimes out of range, busy answers whose hints
// ask for no wait at all or for an age. Each server is a bare loopback HTTPS endpoint that
// counts what reaches it.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

#include "base/mapi_error.h"
#include "mailbox/graph/client.h"
#include "mailbox/model/const_mapi.h"
#include "tests/nowindow/temp_files.h"

namespace oa::graph::testing {
namespace {

using nlohmann::json;

struct Seen {
  std::string method, path, authorization;
  bool evilHeader = false;
};

// One origin: https://127.0.0.1:PORT with the certificate in `dir` (made once, shared by every
// server of a test so that the client would trust each of them).
class HostileServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  HostileServer(const std::string& dir, Handler graph, std::string tokenAnswer)
      : graph_(std::move(graph)), tokenAnswer_(std::move(tokenAnswer)) {
    const std::string cert = dir + "/cert.pem", key = dir + "/key.pem";
    if (!std::ifstream(cert)) {
      const std::string cmd =
          "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
          " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
          key + "' -out '" + cert + "' >/dev/null 2>&1";
      EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
    caFile_ = cert;
    http_ = std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str());
    auto answer = [this](const httplib::Request& req, httplib::Response& res) {
      {
        std::lock_guard lock(mu_);
        seen_.push_back({req.method, req.path, req.get_header_value("Authorization"),
                         req.has_header("X-Evil")});
      }
      if (req.path.find("/oauth2/v2.0/token") != std::string::npos)
        res.set_content(tokenAnswer_, "application/json");
      else
        graph_(req, res);
    };
    http_->Get(".*", answer);
    http_->Post(".*", answer);
    port_ = http_->bind_to_any_port("127.0.0.1");
    listener_ = std::thread([this] { http_->listen_after_bind(); });
    // A stop() before the listener runs would be lost, and the join would wait for ever.
    for (int i = 0; i < 10000 && !http_->is_running(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~HostileServer() {
    http_->stop();
    listener_.join();
  }

  std::string url() const { return "https://127.0.0.1:" + std::to_string(port_); }
  const std::string& caFile() const { return caFile_; }
  std::vector<Seen> seen() {
    std::lock_guard lock(mu_);
    return seen_;
  }
  int Count(bool token) {
    int n = 0;
    for (const Seen& s : seen()) n += (s.path.find("/oauth2/") != std::string::npos) == token;
    return n;
  }

 private:
  Handler graph_;
  std::string tokenAnswer_;
  std::string caFile_;
  std::unique_ptr<httplib::SSLServer> http_;
  int port_ = 0;
  std::thread listener_;
  std::mutex mu_;
  std::vector<Seen> seen_;
};

const std::string kGoodToken =
    R"({"token_type":"Bearer","expires_in":3599,"access_token":"eyJ0.a-b_c~d+e/f=="})";

void Ok(const httplib::Request&, httplib::Response& res) {
  res.set_content(R"({"id":"u1"})", "application/json");
}

class HostileGraph : public ::testing::Test {
 protected:
  Client ClientOf(const HostileServer& s, long maxWaitMs = 300000) {
    GraphOptions o;
    o.tenant = "contoso.onmicrosoft.com";
    o.clientId = "6731de76-14a6-49ae-97bc-6eba6914391e";
    o.clientSecret = "Qx8~graph.s3cret_value";
    o.loginUrl = o.graphUrl = s.url();
    o.caFile = s.caFile();
    o.maxWaitMs = maxWaitMs;
    return Client(o, o.tenant);
  }
  static bool Read(Client& c, const std::string& what = "/users/u1") {
    Err().Clear();
    return c.Call("GET", what).has_value();
  }
  oa::testing::TempDir dir;
};

TEST_F(HostileGraph, ANextPageLinkToAnotherOriginGetsNoToken) {
  HostileServer stranger(dir.path().string(), Ok, kGoodToken);
  const std::string strangerPort = stranger.url().substr(stranger.url().rfind(':') + 1);
  // The same host on another port, another host, another scheme: each is another origin.
  for (const std::string& link :
       {stranger.url() + "/v1.0/users?$skiptoken=2", "https://localhost:" + strangerPort + "/x",
        "http://127.0.0.1:" + strangerPort + "/v1.0/users"}) {
    HostileServer graph(
        dir.path().string(),
        [&](const httplib::Request&, httplib::Response& res) {
          res.set_content(json({{"value", json::array()}, {"@odata.nextLink", link}}).dump(),
                          "application/json");
        },
        kGoodToken);
    Client c = ClientOf(graph);
    auto page = c.Call("GET", "/users");
    ASSERT_TRUE(page) << Err().Description();
    EXPECT_FALSE(Read(c, (*page)["@odata.nextLink"].get<std::string>()));
    EXPECT_EQ(Err().Number(), oa::mailbox::ConstMAPI::MAPI_E_CALL_FAILED);
    EXPECT_NE(Err().Description().find("leaves " + graph.url() + "; refused: " + link),
              std::string::npos)
        << Err().Description();
    EXPECT_EQ(Err().Description().find("eyJ0"), std::string::npos);
  }
  EXPECT_EQ(stranger.seen().size(), 0u);
}

TEST_F(HostileGraph, ALinkToTheSameOriginIsFollowed) {
  HostileServer graph(dir.path().string(), Ok, kGoodToken);
  Client c = ClientOf(graph);
  // Letter case and the explicit port do not make it another origin.
  std::string url = graph.url();
  url.replace(0, 5, "HTTPS");
  ASSERT_TRUE(Read(c, url + "/v1.0/users?$skiptoken=2")) << Err().Description();
  EXPECT_EQ(graph.Count(false), 1);
}

TEST_F(HostileGraph, AnHttpServiceUrlToAnotherHostGetsNoSecret) {
  HostileServer graph(dir.path().string(), Ok, kGoodToken);
  GraphOptions o;
  o.tenant = "contoso.onmicrosoft.com";
  o.clientId = "id";
  o.clientSecret = "Qx8~graph.s3cret_value";
  o.graphUrl = graph.url();
  o.loginUrl = "http://192.0.2.1:9";  // nothing listens there: a send would fail otherwise
  o.caFile = graph.caFile();
  o.timeoutMs = 2000;
  Client c(o, o.tenant);
  EXPECT_FALSE(c.SignIn());
  EXPECT_EQ(Err().Number(), oa::mailbox::ConstMAPI::MAPI_E_LOGON_FAILED);
  EXPECT_NE(Err().Description().find("accepted only for loopback"), std::string::npos)
      << Err().Description();
  EXPECT_EQ(c.requestsSent(), 0);
}

TEST_F(HostileGraph, ATokenThatWouldAddAHeaderIsRefused) {
  for (const std::string& token : {std::string("abc\r\nX-Evil: 1"), std::string("a b"),
                                   std::string(kMaxTokenLength + 1, 'a'), std::string("")}) {
    HostileServer graph(dir.path().string(), Ok,
                        json({{"access_token", token}, {"expires_in", 3599}}).dump());
    Client c = ClientOf(graph);
    EXPECT_FALSE(Read(c));
    EXPECT_EQ(Err().Number(), oa::mailbox::ConstMAPI::MAPI_E_LOGON_FAILED);
    EXPECT_EQ(Err().Description(),
              "The token endpoint gave an access token that is not valid in a header.");
    EXPECT_EQ(graph.Count(false), 0);
    for (const Seen& s : graph.seen()) EXPECT_FALSE(s.evilHeader);
  }
}

TEST_F(HostileGraph, ALifetimeOutOfRangeDoesNotFetchATokenPerRequest) {
  for (const std::string life : {"1e300", "-5", "\"abc\"", "3599.5", "1e30", "0",
                                 "18446744073709551615", "\"99999999999999999999\""}) {
    HostileServer graph(
        dir.path().string(), Ok,
        R"({"token_type":"Bearer","access_token":"tok","expires_in":)" + life + "}");
    Client c = ClientOf(graph);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(Read(c)) << life << ": " << Err().Description();
    EXPECT_EQ(graph.Count(true), 1) << life;
  }
}

TEST(TokenLife, IsAWholeNumberOfSecondsInRange) {
  EXPECT_EQ(TokenLifeOf(json(3599)), std::chrono::seconds(3599));
  EXPECT_EQ(TokenLifeOf(json("600")), std::chrono::seconds(600));
  EXPECT_EQ(TokenLifeOf(json(5)), kMinTokenLife);
  EXPECT_EQ(TokenLifeOf(json(-5)), kMinTokenLife);
  EXPECT_EQ(TokenLifeOf(json(10000000000LL)), kMaxTokenLife);
  EXPECT_EQ(TokenLifeOf(json(1e300)), kDefaultTokenLife);
  EXPECT_EQ(TokenLifeOf(json("abc")), kDefaultTokenLife);
  EXPECT_EQ(TokenLifeOf(json("-5")), kDefaultTokenLife);
  EXPECT_EQ(TokenLifeOf(json()), kDefaultTokenLife);
}

// Busy answers whose hint asks for no wait, for an unreadable one or for an age.
TEST_F(HostileGraph, ABusyServerGetsAFewRequestsWithinTheBudgetWhateverItsHint) {
  for (const std::string hint :
       {"0", "abc", "", "-1", "Sun, 06 Nov 1994 08:49:37 GMT", "10000000000", "1.5"}) {
    HostileServer graph(
        dir.path().string(),
        [&](const httplib::Request&, httplib::Response& res) {
          res.status = 429;
          if (!hint.empty()) res.set_header("Retry-After", hint);
          res.set_content(R"({"error":{"code":"TooManyRequests","message":"Slow down."}})",
                          "application/json");
        },
        kGoodToken);
    Client c = ClientOf(graph, 3000);
    EXPECT_FALSE(Read(c)) << hint;
    EXPECT_EQ(Err().Number(), oa::mailbox::ConstMAPI::MAPI_E_CALL_FAILED) << hint;
    EXPECT_EQ(Err().Description(), "The service stayed busy: Slow down.") << hint;
    // 500 ms doubling within 3 s: four requests at most; the fault sent hundreds.
    EXPECT_GE(graph.Count(false), 1) << hint;
    EXPECT_LE(graph.Count(false), 6) << hint;
  }
}

}  // namespace
}  // namespace oa::graph::testing
