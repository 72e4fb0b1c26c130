// The EWS and Graph clients against hostile answers: nesting deep enough to overflow a
// recursive reader, and a request in flight when the user cancels.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "base/mapi_error.h"
#include "hostile_server.h"
#include "mailbox/ews/client.h"
#include "mailbox/ews/soap.h"
#include "mailbox/remote/waiter.h"
#ifdef OA_TEST_GRAPH
#include "mailbox/graph/bounded_json.h"
#include "mailbox/graph/client.h"
#endif

namespace oa {
namespace {

using test::HostileServer;

constexpr int kDeep = 100000;
constexpr int32_t kUserCancel = static_cast<int32_t>(0x80040501);

std::string Answer(const std::string& type, const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: " + type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string DeepSoap() {
  std::string open, close;
  for (int i = 0; i < kDeep; ++i) {
    open += "<a>";
    close += "</a>";
  }
  return "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
         "<m:FindItemResponse xmlns:m=\"m\"><m:ResponseMessages>"
         "<m:FindItemResponseMessage ResponseClass=\"Success\"><m:ResponseCode>NoError"
         "</m:ResponseCode>" +
         open + close +
         "</m:FindItemResponseMessage></m:ResponseMessages></m:FindItemResponse></s:Body>"
         "</s:Envelope>";
}

TEST(SoapLimits, DeeplyNestedAnswerIsRefused) {
  std::string error;
  EXPECT_FALSE(ews::ParseResponse(DeepSoap(), &error));
  EXPECT_NE(error.find("nested deeper than 64 levels"), std::string::npos) << error;
}

TEST(SoapLimits, ClientRefusesDeeplyNestedAnswer) {
  const std::string deep = DeepSoap();
  HostileServer server(
      [&](HostileServer& s, int fd, const std::string&) { s.Send(fd, Answer("text/xml", deep)); });
  ews::ClientOptions o;
  o.url = server.url();
  ews::Client client(o);
  Err().Clear();
  auto request = client.NewRequest("FindItem");
  EXPECT_FALSE(client.Call(*request));
  EXPECT_NE(Err().Description().find("nested deeper than 64 levels"), std::string::npos)
      << Err().Description();
}

// The fault: the call waited for the 120 s timeout. Bound checked: 10 s after the cancel.
TEST(ClientCancel, EwsCallEndsOnTheRequestCancelCheck) {
  HostileServer server([](HostileServer& s, int, const std::string&) {
    while (!s.stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  std::atomic<bool> cancel{false};
  auto waiter = std::make_shared<remote::WaitHooks>();
  waiter->SetRequestCancelCheck([&] { return cancel.load(); });
  std::chrono::steady_clock::time_point cancelledAt;
  std::thread canceller([&] {
    if (server.WaitForRequest()) {
      cancelledAt = std::chrono::steady_clock::now();
      cancel = true;
    }
  });
  ews::ClientOptions o;
  o.url = server.url();
  ews::Client client(o, waiter);
  Err().Clear();
  auto request = client.NewRequest("FindItem");
  const bool answered = client.Call(*request).has_value();
  const auto ended = std::chrono::steady_clock::now();
  canceller.join();
  ASSERT_TRUE(cancel.load()) << "the server saw no request";
  EXPECT_FALSE(answered);
  EXPECT_EQ(Err().Number(), kUserCancel) << Err().Description();
  EXPECT_LT(ended - cancelledAt, std::chrono::seconds(10));
}

#ifdef OA_TEST_GRAPH
std::string DeepJson() {
  return std::string(kDeep, '[') + std::string(kDeep, ']');
}

TEST(JsonLimits, DepthIsCountedOutsideStringsOnly) {
  EXPECT_TRUE(graph::JsonWithinDepth(std::string(64, '[') + std::string(64, ']')));
  EXPECT_FALSE(graph::JsonWithinDepth(std::string(65, '[') + std::string(65, ']')));
  EXPECT_TRUE(graph::JsonWithinDepth("{\"a\":\"" + std::string(1000, '[') + "\\\"[[\"}"));
  std::string error;
  EXPECT_TRUE(graph::ParseBoundedJson(DeepJson(), &error).is_discarded());
  EXPECT_NE(error.find("nested deeper than 64 levels"), std::string::npos) << error;
  EXPECT_EQ(graph::ParseBoundedJson("{\"a\":[1,{\"b\":2}]}")["a"][1]["b"], 2);
}

TEST(JsonLimits, ErrorAnswerNestedDeepIsNoCrash) {
  http::HttpResult r;
  r.status = 400;
  r.body = "{\"error\":" + DeepJson() + "}";
  const graph::CallError e = graph::ErrorFor(r, "Microsoft Graph");
  EXPECT_NE(e.number, 0);
}

graph::GraphOptions GraphAt(const HostileServer& server) {
  graph::GraphOptions o;
  o.tenant = "t";
  o.clientId = "c";
  o.clientSecret = "s";
  o.loginUrl = server.url();
  o.graphUrl = server.url();
  o.timeoutMs = 120000;
  return o;
}

TEST(JsonLimits, DeeplyNestedTokenAnswerIsRefused) {
  const std::string deep = DeepJson();
  HostileServer server([&](HostileServer& s, int fd, const std::string&) {
    s.Send(fd, Answer("application/json", deep));
  });
  graph::Client client(GraphAt(server), "t");
  Err().Clear();
  EXPECT_FALSE(client.SignIn());
  EXPECT_NE(Err().Description().find("nested deeper than 64 levels"), std::string::npos)
      << Err().Description();
}

TEST(JsonLimits, DeeplyNestedUsersAnswerIsRefused) {
  const std::string deep = "{\"value\":" + DeepJson() + "}";
  HostileServer server([&](HostileServer& s, int fd, const std::string& head) {
    if (head.find("/users") != std::string::npos)
      s.Send(fd, Answer("application/json", deep));
    else
      s.Send(fd, Answer("application/json", "{\"access_token\":\"x\",\"expires_in\":3600}"));
  });
  graph::Client client(GraphAt(server), "t");
  Err().Clear();
  EXPECT_FALSE(client.Call("GET", "/users"));
  EXPECT_NE(Err().Description().find("nested deeper than 64 levels"), std::string::npos)
      << Err().Description();
}

TEST(ClientCancel, GraphCallEndsOnTheStopCheck) {
  HostileServer server([](HostileServer& s, int, const std::string&) {
    while (!s.stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  std::atomic<bool> cancel{false};
  std::chrono::steady_clock::time_point cancelledAt;
  std::thread canceller([&] {
    if (server.WaitForRequest()) {
      cancelledAt = std::chrono::steady_clock::now();
      cancel = true;
    }
  });
  auto waiter = std::make_shared<remote::WaitHooks>();
  waiter->SetRequestCancelCheck([&] { return cancel.load(); });
  graph::Client client(GraphAt(server), "t", waiter);
  Err().Clear();
  const bool signedIn = client.SignIn();
  const auto ended = std::chrono::steady_clock::now();
  canceller.join();
  ASSERT_TRUE(cancel.load()) << "the server saw no request";
  EXPECT_FALSE(signedIn);
  EXPECT_EQ(Err().Number(), kUserCancel) << Err().Description();
  EXPECT_LT(ended - cancelledAt, std::chrono::seconds(10));
}
#endif

}  // namespace
}  // namespace oa
