// The transport against servers that answer as an attacker would: answers too large to hold,
// header floods, and a server that never answers while the user cancels.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "hostile_server.h"
#include "mailbox/http/transport.h"

namespace oa::http {
namespace {

using test::HostileServer;

TransportOptions OptionsFor(const HostileServer& server) {
  TransportOptions o;
  o.url = server.url();
  o.timeoutMs = 120000;
  return o;
}

// Room for what the loopback socket buffers hold beyond what the client read.
constexpr uint64_t kSlack = uint64_t{32} << 20;

TEST(TransportLimits, ChunkedAnswerOverTheLimitIsRefused) {
  const uint64_t kAnswer = uint64_t{2} << 30;  // 2 GiB, never all sent
  HostileServer server([&](HostileServer& s, int fd, const std::string&) {
    if (!s.Send(fd, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")) return;
    const std::string chunk = "100000\r\n" + std::string(1 << 20, 'x') + "\r\n";
    for (uint64_t sent = 0; sent < kAnswer && !s.stopping(); sent += 1 << 20) {
      if (!s.Send(fd, chunk)) return;
    }
  });
  Transport t(OptionsFor(server));
  const HttpResult r = t.Post("<x/>");
  EXPECT_EQ(r.failure, Failure::TooLarge);
  EXPECT_NE(r.failureText.find("64 MiB"), std::string::npos) << r.failureText;
  EXPECT_TRUE(r.body.empty());
  EXPECT_LT(server.bytesSent(), kMaxResponseBody + kSlack);
}

TEST(TransportLimits, AnnouncedLengthOverTheLimitIsRefusedBeforeTheBody) {
  const uint64_t kAnswer = uint64_t{200} << 20;
  HostileServer server([&](HostileServer& s, int fd, const std::string&) {
    if (!s.Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kAnswer) + "\r\n\r\n"))
      return;
    const std::string block(1 << 20, 'x');
    for (uint64_t sent = 0; sent < kAnswer && !s.stopping(); sent += block.size()) {
      if (!s.Send(fd, block)) return;
    }
  });
  Transport t(OptionsFor(server));
  const HttpResult r = t.Post("<x/>");
  EXPECT_EQ(r.failure, Failure::TooLarge);
  EXPECT_NE(r.failureText.find("64 MiB"), std::string::npos) << r.failureText;
  EXPECT_LT(server.bytesSent(), kMaxResponseBody + kSlack);
}

TEST(TransportLimits, AnswerJustUnderTheLimitIsRead) {
  const size_t kAnswer = kMaxResponseBody - 1;
  HostileServer server([&](HostileServer& s, int fd, const std::string&) {
    s.Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kAnswer) + "\r\n\r\n" +
                   std::string(kAnswer, 'x'));
  });
  Transport t(OptionsFor(server));
  const HttpResult r = t.Post("<x/>");
  ASSERT_TRUE(r.answered()) << r.failureText;
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body.size(), kAnswer);
}

TEST(TransportLimits, HeaderFloodsAreRefused) {
  struct Case {
    const char* name;
    std::string headers;
    // libcurl refuses a line of 100 KiB or more itself, before the transport sees it.
    bool refusedByTransport;
  };
  const Case cases[] = {
      {"one 20 KiB line", "X-Long: " + std::string(20 << 10, 'a') + "\r\n", true},
      {"one 1 MiB line", "X-Long: " + std::string(1 << 20, 'a') + "\r\n", false},
      {"100000 lines",
       [] {
         std::string h;
         for (int i = 0; i < 100000; ++i) h += "X-" + std::to_string(i) + ": v\r\n";
         return h;
       }(),
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostileServer server([&](HostileServer& s, int fd, const std::string&) {
      s.Send(fd, "HTTP/1.1 200 OK\r\n" + c.headers + "Content-Length: 2\r\n\r\nok");
    });
    Transport t(OptionsFor(server));
    const HttpResult r = t.Post("<x/>");
    EXPECT_FALSE(r.answered());
    EXPECT_TRUE(r.body.empty());
    if (c.refusedByTransport) {
      EXPECT_EQ(r.failure, Failure::TooLarge) << r.failureText;
    }
  }
}

TEST(TransportLimits, LongRetryAfterIsNotKept) {
  HostileServer server([&](HostileServer& s, int fd, const std::string&) {
    s.Send(fd, "HTTP/1.1 503 Busy\r\nRetry-After: " + std::string(1000, '9') +
                   "\r\nContent-Length: 0\r\n\r\n");
  });
  Transport t(OptionsFor(server));
  const HttpResult r = t.Post("<x/>");
  ASSERT_TRUE(r.answered()) << r.failureText;
  EXPECT_EQ(r.status, 503);
  EXPECT_EQ(r.retryAfter, "");
}

// The fault: the request waited for the 120 s timeout. Bound checked: 10 s after the cancel.
TEST(TransportCancel, CancelEndsARequestTheServerNeverAnswers) {
  HostileServer server([](HostileServer& s, int, const std::string&) {
    while (!s.stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  Transport t(OptionsFor(server));
  std::atomic<bool> cancel{false};
  std::atomic<int> asked{0};
  t.SetCancelCheck([&] {
    ++asked;
    return cancel.load();
  });
  std::chrono::steady_clock::time_point cancelledAt;
  std::thread canceller([&] {
    if (server.WaitForRequest()) {
      cancelledAt = std::chrono::steady_clock::now();
      cancel = true;
    }
  });
  const HttpResult r = t.Post("<x/>");
  const auto ended = std::chrono::steady_clock::now();
  canceller.join();
  ASSERT_TRUE(cancel.load()) << "the server saw no request";
  EXPECT_EQ(r.failure, Failure::Cancelled) << r.failureText;
  EXPECT_LT(ended - cancelledAt, std::chrono::seconds(10));
  EXPECT_GT(asked.load(), 0);
}

}  // namespace
}  // namespace oa::http
