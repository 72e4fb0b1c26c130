// The back-off rule every remote service shares, and the origins credentials are bound to.
#include "base/backoff.h"

#include <gtest/gtest.h>

#include "base/url_origin.h"

namespace oa {
namespace {

using backoff::BackOff;
using backoff::ParseMilliseconds;
using backoff::ParseRetryAfter;
using std::chrono::milliseconds;
using std::chrono::seconds;

// Sun, 06 Nov 1994 08:49:37 GMT
const std::chrono::system_clock::time_point kThen{seconds(784111777)};

TEST(RetryAfter, DigitsOrAnHttpDateAndNothingElse) {
  EXPECT_EQ(ParseRetryAfter("120", kThen), milliseconds(120000));
  EXPECT_EQ(ParseRetryAfter("0", kThen), milliseconds(0));
  for (const char* bad : {"", "abc", "-1", "+5", " 5", "5 ", "1.5", "0x10", "5s"})
    EXPECT_EQ(ParseRetryAfter(bad, kThen), std::nullopt) << bad;
  // Beyond the cap, however many digits: no overflow.
  EXPECT_EQ(ParseRetryAfter("10000000000", kThen), backoff::kMaxHintedWait + seconds(1));
  EXPECT_EQ(ParseRetryAfter(std::string(400, '9'), kThen), backoff::kMaxHintedWait + seconds(1));
  EXPECT_EQ(ParseRetryAfter("Sun, 06 Nov 1994 08:50:07 GMT", kThen), milliseconds(30000));
  EXPECT_EQ(ParseRetryAfter("Sun, 06 Nov 1994 08:49:37 GMT", kThen), milliseconds(0));
  EXPECT_EQ(ParseRetryAfter("Sat, 05 Nov 1994 08:49:37 GMT", kThen), milliseconds(0));
  EXPECT_EQ(ParseRetryAfter("Fri, 31 Dec 9999 23:59:59 GMT", kThen),
            backoff::kMaxHintedWait + seconds(1));
  for (const char* bad : {"Sun, 06 Nov 1994 08:49:37 UTC", "Sun, 6 Nov 1994 08:49:37 GMT",
                          "Sun, 06 Foo 1994 08:49:37 GMT", "Sun, 06 Nov 1994 25:49:37 GMT",
                          "Xyz, 06 Nov 1994 08:49:37 GMT"})
    EXPECT_EQ(ParseRetryAfter(bad, kThen), std::nullopt) << bad;
}

TEST(RetryAfter, BackOffMillisecondsAreDigitsOnly) {
  EXPECT_EQ(ParseMilliseconds("5000"), milliseconds(5000));
  EXPECT_EQ(ParseMilliseconds("0"), milliseconds(0));
  for (const char* bad : {"", "-5", "abc", "1e9", "5000.0"})
    EXPECT_EQ(ParseMilliseconds(bad), std::nullopt) << bad;
  EXPECT_EQ(ParseMilliseconds("99999999999999999999999"),
            backoff::kMaxHintedWait + milliseconds(1));
}

TEST(BackOffRule, HintsAboveTheFloorElseAGrowingGuessWithinTheBudget) {
  const auto start = std::chrono::steady_clock::now();
  BackOff b(milliseconds(5000), start);
  EXPECT_EQ(b.Next(milliseconds(0)), milliseconds(500));
  EXPECT_EQ(b.Next(std::nullopt), milliseconds(1000));
  EXPECT_EQ(b.Next(milliseconds(2)), milliseconds(2000));
  EXPECT_EQ(b.Next(milliseconds(3000)), milliseconds(3000));
  EXPECT_EQ(b.Next(std::nullopt), milliseconds(4000));
  EXPECT_EQ(b.Next(backoff::kMaxHintedWait * 1000), backoff::kMaxHintedWait);
  for (int i = 0; i < 20; ++i) b.Next(std::nullopt);
  EXPECT_EQ(b.Next(std::nullopt), backoff::kMaxGuess);
  EXPECT_TRUE(b.Fits(milliseconds(5000), start));
  EXPECT_FALSE(b.Fits(milliseconds(5001), start));
  EXPECT_FALSE(b.Fits(milliseconds(1), start + seconds(6)));
  // A budget beyond any clock: bounded, no overflow.
  BackOff huge(milliseconds::max(), start);
  EXPECT_TRUE(huge.Fits(backoff::kMaxHintedWait, start));
}

TEST(Origins, SchemeHostAndPortWithTheDefaultMadeExplicit) {
  auto o = OriginOf("HTTPS://Graph.Microsoft.com/v1.0/users?$skiptoken=x");
  ASSERT_TRUE(o);
  EXPECT_EQ(o->ToString(), "https://graph.microsoft.com");
  EXPECT_EQ(o, OriginOf("https://graph.microsoft.com:443"));
  EXPECT_NE(o, OriginOf("https://graph.microsoft.com:8443/v1.0"));
  EXPECT_NE(o, OriginOf("http://graph.microsoft.com/v1.0"));
  EXPECT_NE(o, OriginOf("https://graph.microsoft.com.evil.example/v1.0"));
  EXPECT_EQ(OriginOf("http://[::1]:8080/x")->ToString(), "http://[::1]:8080");
  EXPECT_EQ(OriginOf("https://h?x=1")->host, "h");
  for (const char* bad : {"ftp://h/", "https://", "https:///x", "https://u:p@h/", "https://h:0/",
                          "https://h:65536/", "https://h:8a/", "//h/", "h"})
    EXPECT_EQ(OriginOf(bad), std::nullopt) << bad;
  std::string why;
  EXPECT_TRUE(IsSafeServiceUrl("http://127.0.0.1:8080", &why));
  EXPECT_FALSE(IsSafeServiceUrl("http://10.0.0.1", &why));
  EXPECT_EQ(why, "Unencrypted http:// is accepted only for loopback addresses; use https://.");
}

}  // namespace
}  // namespace oa
