// The order of a 401's schemes, which both transports follow.
#include "mailbox/http/auth_order.h"

#include <gtest/gtest.h>

#include <vector>

namespace oa::http {
namespace {

// The schemes one request goes through, answer after answer, when every one is refused.
std::vector<unsigned> Rounds(unsigned offered, bool credentials) {
  std::vector<unsigned> rounds;
  unsigned tried = kAuthNone;
  for (unsigned next; (next = NextAuthScheme(offered, tried, credentials)) != kAuthNone;) {
    rounds.push_back(next);
    tried |= next;
    if (rounds.size() > 8) break;  // a loop would show as more rounds than schemes
  }
  return rounds;
}

TEST(AuthOrder, NegotiateFirstThenThePasswordOnceNtlmBeforeBasic) {
  const unsigned all = kAuthNegotiate | kAuthNtlm | kAuthBasic;
  EXPECT_EQ(Rounds(all, true), (std::vector<unsigned>{kAuthNegotiate, kAuthNtlm}));
  // A machine outside the domain: Negotiate fails, the password goes by Basic.
  EXPECT_EQ(Rounds(kAuthNegotiate | kAuthBasic, true),
            (std::vector<unsigned>{kAuthNegotiate, kAuthBasic}));
  EXPECT_EQ(Rounds(kAuthNtlm | kAuthBasic, true), (std::vector<unsigned>{kAuthNtlm}));
  EXPECT_EQ(Rounds(kAuthBasic, true), (std::vector<unsigned>{kAuthBasic}));
}

TEST(AuthOrder, WithoutCredentialsOnlyNegotiateAndNothingUnoffered) {
  EXPECT_EQ(Rounds(kAuthNegotiate | kAuthNtlm | kAuthBasic, false),
            (std::vector<unsigned>{kAuthNegotiate}));
  EXPECT_TRUE(Rounds(kAuthBasic, false).empty());
  EXPECT_TRUE(Rounds(kAuthNone, true).empty());
  // A scheme already tried is not tried again, whatever the next answer offers.
  EXPECT_EQ(NextAuthScheme(kAuthNegotiate, kAuthNegotiate, true), kAuthNone);
  EXPECT_EQ(NextAuthScheme(kAuthNegotiate | kAuthBasic, kAuthNegotiate | kAuthBasic, true),
            kAuthNone);
}

}  // namespace
}  // namespace oa::http
